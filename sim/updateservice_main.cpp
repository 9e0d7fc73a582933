// Serves the version check and a firmware image on 127.0.0.1 until interrupted.
#include "sim/firmwareimage.h"
#include "sim/updateservice.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {
volatile std::sig_atomic_t running = 1;
void onSignal(int) {
    running = 0;
}
} // namespace

int main(int argc, char** argv) {
    // [PORT] [--fault wrong-crc]
    int port = 0;
    sim::ServiceFault fault = sim::ServiceFault::None;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--fault") == 0 && i + 1 < argc &&
            std::strcmp(argv[i + 1], "wrong-crc") == 0) {
            fault = sim::ServiceFault::WrongCrc;
            ++i;
        } else if (argv[i][0] != '-') {
            port = std::atoi(argv[i]);
        } else {
            std::fprintf(stderr, "usage: %s [PORT] [--fault wrong-crc]\n", argv[0]);
            return 2;
        }
    }
    sim::UpdateService service;
    service.setFault(fault);
    service.setImage(sim::makeFirmwareImage(64 * 1024, 1, 3, 0), "1.3.0");
    if (service.start(port) < 0) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1:%d\n", port);
        return 1;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::printf("%d\n", service.port());
    std::fflush(stdout);
    while (running)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    service.stop();
    return 0;
}
