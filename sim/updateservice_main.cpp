// Serves the version check and a firmware image on 127.0.0.1 until interrupted.
#include "sim/firmwareimage.h"
#include "sim/updateservice.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

namespace {
volatile std::sig_atomic_t running = 1;
void onSignal(int) {
    running = 0;
}

int usage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s [PORT] [--fault NAME] [--image-size BYTES] [--version V]\n"
                 "          [--save-image FILE] [--notes TEXT] [--hostile-notes BYTES]\n"
                 "faults:%s\n",
                 program, sim::faultNames().c_str());
    return 2;
}
} // namespace

int main(int argc, char** argv) {
    int port = 0;
    size_t imageSize = 64 * 1024;
    std::string version = "1.3.0";
    // Where the image served is saved, for a test to compare what a device got.
    std::string saveImage;
    // What the release brings.
    std::string notes;
    sim::ServiceFault fault = sim::ServiceFault::None;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--fault") == 0 && hasValue) {
            if (!sim::faultNamed(argv[++i], &fault))
                return usage(argv[0]);
        } else if (std::strcmp(argv[i], "--image-size") == 0 && hasValue) {
            imageSize = static_cast<size_t>(std::atol(argv[++i]));
        } else if (std::strcmp(argv[i], "--version") == 0 && hasValue) {
            version = argv[++i];
        } else if (std::strcmp(argv[i], "--save-image") == 0 && hasValue) {
            saveImage = argv[++i];
        } else if (std::strcmp(argv[i], "--notes") == 0 && hasValue) {
            notes = argv[++i];
        } else if (std::strcmp(argv[i], "--hostile-notes") == 0 && hasValue) {
            notes = sim::UpdateService::hostileNotes(static_cast<size_t>(std::atol(argv[++i])));
        } else if (argv[i][0] != '-') {
            port = std::atoi(argv[i]);
        } else {
            return usage(argv[0]);
        }
    }
    sim::UpdateService service;
    service.setFault(fault);
    int major = 1, minor = 3, patch = 0;
    std::sscanf(version.c_str(), "%d.%d.%d", &major, &minor, &patch);
    const std::vector<uint8_t> image =
        sim::makeFirmwareImage(imageSize, static_cast<uint8_t>(major), static_cast<uint8_t>(minor),
                               static_cast<uint8_t>(patch));
    service.setImage(image, version);
    service.setNotes(notes);
    if (!saveImage.empty()) {
        std::ofstream out(saveImage, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(image.data()),
                  static_cast<std::streamsize>(image.size()));
        if (!out) {
            std::fprintf(stderr, "cannot write %s\n", saveImage.c_str());
            return 1;
        }
    }
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
