// Serves the version check and a firmware image on 127.0.0.1 until interrupted.
#include "sim/firmwareimage.h"
#include "sim/updateservice.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {
volatile std::sig_atomic_t running = 1;
void onSignal(int) {
    running = 0;
}
} // namespace

int main(int argc, char** argv) {
    const int port = argc > 1 ? std::atoi(argv[1]) : 0;
    sim::UpdateService service;
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
