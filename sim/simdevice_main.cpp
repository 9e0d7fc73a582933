// Plays the device on a pseudo-terminal until interrupted, printing its port.
#include "sim/replay.h"
#include "sim/simdevice.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <thread>
#include <unistd.h>

namespace {
volatile std::sig_atomic_t running = 1;
void onSignal(int) {
    running = 0;
}

// Points link at the port, or removes it while there is none; replaced in one
// step, so that a reader never finds it missing while the port exists.
void pointLink(const std::string& link, const std::string& port) {
    if (link.empty())
        return;
    if (port.empty()) {
        ::unlink(link.c_str());
        return;
    }
    const std::string fresh = link + ".new";
    ::unlink(fresh.c_str());
    if (::symlink(port.c_str(), fresh.c_str()) == 0)
        ::rename(fresh.c_str(), link.c_str());
}
// Plays the device's side of a logged run: 0 at the end of the log (the
// device then stays until interrupted), 1 on a write that differs.
int playLog(const std::string& log, const std::string& link, const std::string& imagePath) {
    std::vector<sim::WireEvent> events;
    std::string why;
    std::string note;
    if (!sim::ReadWireLog(log, &events, &why, &note)) {
        std::fprintf(stderr, "replay: %s\n", why.c_str());
        return 2;
    }
    if (!note.empty())
        std::fprintf(stderr, "replay: %s\n", note.c_str());
    std::vector<uint8_t> image;
    if (!imagePath.empty()) {
        std::ifstream in(imagePath, std::ios::binary);
        image.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (!in.good() && !in.eof()) {
            std::fprintf(stderr, "replay: cannot read the image %s\n", imagePath.c_str());
            return 2;
        }
        if (image.empty()) {
            std::fprintf(stderr, "replay: the image %s is empty\n", imagePath.c_str());
            return 2;
        }
    }
    sim::Replay replay(
        std::move(events), log,
        [&link](const std::string& port) {
            pointLink(link, port);
            std::printf("%s\n", port.empty() ? "(gone)" : port.c_str());
            std::fflush(stdout);
        },
        std::move(image));
    if (!replay.Run([] { return running != 0; }))
        return 1;
    while (running)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return 0;
}
// "-" names none.
std::string noneIsEmpty(const char* value) {
    return std::strcmp(value, "-") == 0 ? std::string() : std::string(value);
}
} // namespace

// What the device did that a test on a real USB link checks, one line each:
// plugged in and out, restarted into a firmware version, an image received
// (saved to imagePath when given), and every violation of its protocol.
void report(const sim::SimDevice& device, size_t* seen, const std::string& imagePath) {
    const std::vector<sim::Event> events = device.events();
    for (; *seen < events.size(); ++*seen) {
        const std::string& what = events[*seen].what;
        if (what.rfind("plugged: ", 0) == 0 || what == "unplugged" || what == "another unit" ||
            what.rfind("violation: ", 0) == 0) {
            std::printf("device: %s\n", what.c_str());
        } else if (what == "restart-firmware") {
            const std::vector<uint8_t> v = device.versionBytes();
            std::printf("device: firmware %d.%d.%d running\n", v[0], v[1], v[2]);
        } else if (what == "restart-boot") {
            std::printf("device: boot loader running\n");
        } else if (what == "ack-eot") {
            const sim::Bytes image = device.receivedImage();
            std::printf("device: image received, %zu bytes\n", image.size());
            if (!imagePath.empty()) {
                std::ofstream out(imagePath, std::ios::binary | std::ios::trunc);
                out.write(reinterpret_cast<const char*>(image.data()),
                          static_cast<std::streamsize>(image.size()));
            }
        } else {
            continue;
        }
        std::fflush(stdout);
    }
}

int main(int argc, char** argv) {
    sim::DeviceConfig config;
    // A stable path that follows the device's port across its restart, as
    // the links under /dev/serial/by-id/ do; gone while the device is.
    std::string link;
    // A log of the tool whose device side is played instead, and the
    // firmware image that run sent, to check its packets against.
    std::string replay;
    std::string image;
    // Where each image received is saved.
    std::string saveImage;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--boot") == 0)
            config.startMode = sim::Mode::BootLoader;
        else if (std::strcmp(argv[i], "--line-timing") == 0)
            config.lineTiming = true;
        else if (std::strcmp(argv[i], "--chunk") == 0 && i + 1 < argc)
            config.chunkSize = static_cast<size_t>(std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--link") == 0 && i + 1 < argc)
            link = argv[++i];
        else if (std::strcmp(argv[i], "--replay") == 0 && i + 1 < argc)
            replay = argv[++i];
        else if (std::strcmp(argv[i], "--image") == 0 && i + 1 < argc)
            image = argv[++i];
        else if (std::strcmp(argv[i], "--nak-at") == 0 && i + 1 < argc)
            config.nakOnceAtPacket = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--unplug-at") == 0 && i + 1 < argc)
            config.unplugAtPacket = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--return-after") == 0 && i + 1 < argc)
            config.returnAfterMs = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--wrong-crc") == 0 && i + 1 < argc)
            config.wrongCrcReplies = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--gadget") == 0 && i + 1 < argc)
            config.gadgetDir = argv[++i];
        else if (std::strcmp(argv[i], "--tty") == 0 && i + 1 < argc)
            config.gadgetTty = argv[++i];
        else if (std::strcmp(argv[i], "--udc") == 0 && i + 1 < argc)
            config.udc = argv[++i];
        else if (std::strcmp(argv[i], "--return-to") == 0 && i + 1 < argc)
            config.returnUdc = argv[++i];
        else if (std::strcmp(argv[i], "--boot-product") == 0 && i + 1 < argc)
            config.bootProduct = argv[++i];
        else if (std::strcmp(argv[i], "--boot-ignores-update-start") == 0)
            config.bootIgnoresUpdateStart = true;
        else if (std::strcmp(argv[i], "--unplug-when-idle") == 0 && i + 1 < argc)
            config.unplugWhenIdleMs = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--gone-after-update-start") == 0)
            config.goneAfterUpdateStart = true;
        else if (std::strcmp(argv[i], "--switch-without-answer") == 0)
            config.switchWithoutAnswer = true;
        else if (std::strcmp(argv[i], "--busy-after-restart") == 0 && i + 1 < argc)
            config.busyAfterRestartMs = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--save-image") == 0 && i + 1 < argc)
            saveImage = argv[++i];
        else if (std::strcmp(argv[i], "--usb-root") == 0 && i + 1 < argc)
            config.usbRoot = argv[++i];
        else if (std::strcmp(argv[i], "--usb-place") == 0 && i + 1 < argc)
            config.usbPlace = argv[++i];
        else if (std::strcmp(argv[i], "--usb-serial") == 0 && i + 1 < argc)
            config.usbSerial = noneIsEmpty(argv[++i]);
        else if (std::strcmp(argv[i], "--return-serial") == 0 && i + 1 < argc) {
            config.returnSerialSet = true;
            config.returnSerial = noneIsEmpty(argv[++i]);
        } else if (std::strcmp(argv[i], "--return-watch-id") == 0 && i + 1 < argc)
            config.returnWatchId = argv[++i];
        else if (std::strcmp(argv[i], "--watch-id") == 0 && i + 1 < argc)
            config.watchId = argv[++i];
        else if (std::strcmp(argv[i], "--return-firmware") == 0)
            config.returnInFirmware = true;
        else if (std::strcmp(argv[i], "--mute-v") == 0)
            config.ignoreCrcRequests = true;
        else if (std::strcmp(argv[i], "--silent") == 0)
            config.silent = true;
        else if (std::strcmp(argv[i], "--version") == 0 && i + 1 < argc) {
            int parts[3] = {0, 0, 0};
            std::sscanf(argv[++i], "%d.%d.%d", &parts[0], &parts[1], &parts[2]);
            for (int k = 0; k < 3; ++k)
                config.version[k] = static_cast<uint8_t>(parts[k]);
        } else {
            std::fprintf(
                stderr,
                "usage: %s [--boot] [--line-timing] [--chunk N] [--link PATH]\n"
                "          [--nak-at K] [--unplug-at K [--return-after MS]]\n"
                "          [--wrong-crc N] [--mute-v] [--silent] [--version A.B.C]\n"
                "          [--boot-ignores-update-start] [--save-image FILE]\n"
                "          [--unplug-when-idle MS] [--gone-after-update-start]\n"
                "          [--switch-without-answer]\n"
                "          [--busy-after-restart MS]\n"
                "          [--usb-root DIR [--usb-place P] [--usb-serial S|-]] [--watch-id ID]\n"
                "          [--return-serial S|-] [--return-watch-id ID] [--return-firmware]\n"
                "       %s --gadget DIR --tty TTY [--udc UDC] [--return-to UDC]\n"
                "          [--boot-product TEXT] [the faults above]\n"
                "       %s --replay LOG [--image FILE] [--link PATH]\n",
                argv[0], argv[0], argv[0]);
            return 2;
        }
    }
    if (!config.gadgetDir.empty()) {
        if (config.gadgetTty.empty()) {
            std::fprintf(stderr, "%s: --gadget needs --tty, the gadget's side of the port\n",
                         argv[0]);
            return 2;
        }
        // The first UDC of the system, unless one is named.
        if (config.udc.empty()) {
            if (DIR* udcs = ::opendir("/sys/class/udc")) {
                while (const dirent* entry = ::readdir(udcs)) {
                    if (entry->d_name[0] != '.' && config.udc.empty())
                        config.udc = entry->d_name;
                }
                ::closedir(udcs);
            }
        }
        if (config.udc.empty()) {
            std::fprintf(stderr, "%s: no UDC to plug the gadget into\n", argv[0]);
            return 2;
        }
        config.lineTiming = false; // the USB link has its own timing
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    if (!replay.empty())
        return playLog(replay, link, image);
    // A program that holds the port locks the name the tool opens it by too.
    config.alsoLockedAs = link;
    sim::SimDevice device(config);
    device.plug();
    pointLink(link, device.portPath());
    if (config.gadgetDir.empty())
        std::printf("%s\t%s\n", device.portPath().c_str(), device.description().c_str());
    std::fflush(stdout);
    std::string last = device.portPath();
    size_t seen = 0;
    while (running) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        report(device, &seen, saveImage);
        if (!config.gadgetDir.empty())
            continue;
        const std::string now = device.present() ? device.portPath() : std::string();
        if (now != last) {
            pointLink(link, now);
            std::printf("%s\n", now.empty() ? "(gone)" : now.c_str());
            std::fflush(stdout);
            last = now;
        }
    }
    if (!link.empty())
        ::unlink(link.c_str());
    // Unplugged at the end, as the gadget was found.
    device.unplug();
    report(device, &seen, saveImage);
    return 0;
}
