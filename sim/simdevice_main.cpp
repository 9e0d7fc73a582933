// Plays the device on a pseudo-terminal until interrupted, printing its port.
#include "sim/simdevice.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {
volatile std::sig_atomic_t running = 1;
void onSignal(int) {
    running = 0;
}
} // namespace

int main(int argc, char** argv) {
    sim::DeviceConfig config;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--boot") == 0)
            config.startMode = sim::Mode::BootLoader;
        else if (std::strcmp(argv[i], "--line-timing") == 0)
            config.lineTiming = true;
        else if (std::strcmp(argv[i], "--chunk") == 0 && i + 1 < argc)
            config.chunkSize = static_cast<size_t>(std::atoi(argv[++i]));
        else {
            std::fprintf(stderr, "usage: %s [--boot] [--line-timing] [--chunk N]\n", argv[0]);
            return 2;
        }
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    sim::SimDevice device(config);
    device.plug();
    std::printf("%s\t%s\n", device.portPath().c_str(), device.description().c_str());
    std::fflush(stdout);
    std::string last = device.portPath();
    while (running) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const std::string now = device.present() ? device.portPath() : std::string();
        if (now != last) {
            std::printf("%s\n", now.empty() ? "(gone)" : now.c_str());
            std::fflush(stdout);
            last = now;
        }
    }
    return 0;
}
