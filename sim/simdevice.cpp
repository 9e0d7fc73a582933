#include "sim/simdevice.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace sim {
namespace {
using Clock = std::chrono::steady_clock;

const uint8_t kStart = 0x6E;
const uint8_t kEnd = 0x8F;
const uint8_t kSOH = 0x01;
const uint8_t kEOT = 0x04;
const uint8_t kACK = 0x06;
const uint8_t kNAK = 0x15;
const uint8_t kCAN = 0x18;
const size_t kPacket = 133;
const size_t kBlock = 128;
const size_t kUpdateFrame = 30;
const size_t kLongQueryFrame = 9;
const size_t kShortFrame = 5;
const char kVersionMarker[] = "FWVER:";
const std::chrono::nanoseconds kByteTime(86806); // 10 bits at 115200 baud
const auto kSpinMargin = std::chrono::microseconds(300);
const int kPollMs = 2;
const auto kBusyWindow = std::chrono::milliseconds(3);
const auto kReadGrace = std::chrono::milliseconds(30);
const auto kReadWaitLimit = std::chrono::seconds(20);
const auto kArriveWait = std::chrono::milliseconds(500);
// On a USB link: how long the host is given to read a reply that has left
// the gadget before the device goes, and how long the gadget's tty may take
// to be there after a bind.
const auto kUsbReadGrace = std::chrono::milliseconds(300);
const auto kTtyOpenWait = std::chrono::seconds(5);
// Folders where programs keep serial-port lock files, in the order they look.
const char* const kLockFolders[] = {"/var/lock", "/run/lock", "/tmp"};

// The line's byte times are kept to the microsecond: a plain sleep wakes up
// tens to hundreds of microseconds late, which would lengthen every byte on
// the simulated line. So the last stretch is waited for without sleeping.
void sleepUntil(Clock::time_point t) {
    const auto spinFrom = t - kSpinMargin;
    if (Clock::now() < spinFrom)
        std::this_thread::sleep_until(spinFrom);
    while (Clock::now() < t) {
    }
}
} // namespace

uint16_t SimDevice::crc16(const uint8_t* data, size_t size) {
    // Bitwise CRC-16/XMODEM: polynomial 0x1021, initial value 0, MSB first.
    uint16_t crc = 0;
    for (size_t i = 0; i < size; ++i) {
        crc ^= static_cast<uint16_t>(data[i] << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                                 : static_cast<uint16_t>(crc << 1);
    }
    return crc;
}

SimDevice::SimDevice(DeviceConfig config) : cfg(std::move(config)), currentMode(cfg.startMode) {
    std::memcpy(version, cfg.version, sizeof(version));
    rxFree = Clock::now();
    worker = std::thread([this] { run(); });
}

SimDevice::~SimDevice() {
    stopping = true;
    worker.join();
    releasePort();
    std::lock_guard<std::mutex> lock(mutex);
    closePty();
    if (pendingMaster >= 0) {
        ::close(pendingMaster);
        ::close(pendingSlave);
    }
}

void SimDevice::plug() {
    std::lock_guard<std::mutex> lock(mutex);
    if (masterFd < 0)
        openPty();
}

void SimDevice::unplug() {
    std::lock_guard<std::mutex> lock(mutex);
    closePty();
}

void SimDevice::replug(int goneMs) {
    std::lock_guard<std::mutex> lock(mutex);
    replugLocked(goneMs);
}

// Called with the mutex held.
void SimDevice::replugLocked(int goneMs) {
    if (gadget()) {
        if (pendingGadget)
            return;
        closePty();
        pendingGadget = true;
        pendingUdc = cfg.returnUdc.empty() ? cfg.udc : cfg.returnUdc;
        plugAt = Clock::now() + std::chrono::milliseconds(goneMs);
        return;
    }
    if (pendingMaster >= 0)
        return;
    // The new terminal exists before the old one goes, so it gets another name.
    if (!makePty(&pendingMaster, &pendingSlave, &pendingPath))
        return;
    closePty();
    plugAt = Clock::now() + std::chrono::milliseconds(goneMs);
}

// Called with the mutex held, by the worker once plugAt has come.
void SimDevice::finishReplug() {
    if (unplugDone)
        becomeReturningUnit();
    if (pendingGadget) {
        pendingGadget = false;
        bindGadget(pendingUdc);
        return;
    }
    masterFd = pendingMaster;
    slaveFd = pendingSlave;
    slavePath = pendingPath;
    pendingMaster = -1;
    pendingSlave = -1;
    isPresent = true;
    ++appearanceCount;
    publishUsb();
}

// Called with the mutex held.
void SimDevice::becomeReturningUnit() {
    if (!cfg.returnSerialSet && cfg.returnWatchId.empty() && !cfg.returnInFirmware)
        return;
    if (cfg.returnSerialSet) {
        cfg.usbSerial = cfg.returnSerial;
        gadgetSerialChanged = true;
    }
    if (!cfg.returnWatchId.empty())
        cfg.watchId = cfg.returnWatchId;
    if (cfg.returnInFirmware)
        currentMode = Mode::Normal;
    cfg.returnSerialSet = false;
    cfg.returnWatchId.clear();
    cfg.returnInFirmware = false;
    record("another unit");
}

namespace {
void writeFile(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return;
    const ssize_t written = ::write(fd, text.data(), text.size());
    (void)written;
    ::close(fd);
}

void makeFolders(const std::string& path) {
    for (size_t at = 1; at != std::string::npos; at = path.find('/', at + 1))
        ::mkdir(path.substr(0, at).c_str(), 0755);
    ::mkdir(path.c_str(), 0755);
}

// A link put in place in one step.
void replaceLink(const std::string& target, const std::string& link) {
    const std::string fresh = link + ".new";
    ::unlink(fresh.c_str());
    if (::symlink(target.c_str(), fresh.c_str()) == 0)
        ::rename(fresh.c_str(), link.c_str());
}

std::string charLink(const std::string& root, const std::string& node) {
    struct stat st {};
    if (::stat(node.c_str(), &st) != 0)
        return std::string();
    return root + "/sys/dev/char/" + std::to_string(major(st.st_rdev)) + ":" +
           std::to_string(minor(st.st_rdev));
}
} // namespace

void SimDevice::publishUsb() {
    if (cfg.usbRoot.empty() || gadget() || slavePath.empty())
        return;
    const std::string usb = cfg.usbRoot + "/sys/devices/platform/dummy_hcd.0/usb1/" + cfg.usbPlace;
    const std::string tty =
        usb + "/" + cfg.usbPlace + ":1.0/tty/" + slavePath.substr(slavePath.rfind('/') + 1);
    makeFolders(tty);
    makeFolders(cfg.usbRoot + "/sys/dev/char");
    makeFolders(cfg.usbRoot + "/by-path");
    writeFile(usb + "/idVendor", "1209\n");
    writeFile(usb + "/idProduct", "0001\n");
    writeFile(usb + "/busnum", "1\n");
    if (cfg.usbSerial.empty())
        ::unlink((usb + "/serial").c_str());
    else
        writeFile(usb + "/serial", cfg.usbSerial + "\n");
    publishedLink = charLink(cfg.usbRoot, slavePath);
    if (!publishedLink.empty())
        replaceLink(tty, publishedLink);
    replaceLink(slavePath,
                cfg.usbRoot + "/by-path/platform-dummy_hcd.0-usb-0:" + cfg.usbPlace + ":1.0");
}

void SimDevice::withdrawUsb() {
    if (publishedLink.empty())
        return;
    ::unlink(publishedLink.c_str());
    publishedLink.clear();
}

bool SimDevice::holdPort() {
    std::string path;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (holderPid > 0 || slavePath.empty())
            return false;
        path = slavePath;
    }
    std::string folder;
    for (const char* candidate : kLockFolders) {
        if (::access(candidate, W_OK) == 0) {
            folder = candidate;
            break;
        }
    }
    // A lock names the port below /dev with "/" written as "_", and holds
    // the holder's process id, program name and host name, one per line.
    const auto lockOf = [&folder](const std::string& port) {
        std::string name = port.rfind("/dev/", 0) == 0 ? port.substr(5) : port;
        for (char& c : name)
            c = c == '/' ? '_' : c;
        return folder + "/LCK.." + name;
    };
    std::vector<std::string> lockPaths = {lockOf(path)};
    if (!cfg.alsoLockedAs.empty())
        lockPaths.push_back(lockOf(cfg.alsoLockedAs));
    char exe[512] = {0};
    const ssize_t exeLength = ::readlink("/proc/self/exe", exe, sizeof(exe) - 1);
    std::string program = exeLength > 0 ? std::string(exe, static_cast<size_t>(exeLength)) : "";
    program = program.substr(program.rfind('/') + 1);
    char host[256] = {0};
    ::gethostname(host, sizeof(host) - 1);

    const pid_t pid = ::fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        // The holder: opens the port exclusively and waits to be ended.
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
        if (fd >= 0)
            ::ioctl(fd, TIOCEXCL);
        for (;;)
            ::pause();
    }
    const std::string text = std::to_string(pid) + "\n" + program + "\n" + std::string(host) + "\n";
    bool locked = true;
    std::vector<std::string> made;
    for (const std::string& lockPath : lockPaths) {
        const int lockFd = ::open(lockPath.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        const bool written = lockFd >= 0 && ::write(lockFd, text.data(), text.size()) ==
                                                static_cast<ssize_t>(text.size());
        if (lockFd >= 0)
            ::close(lockFd);
        if (written)
            made.push_back(lockPath);
        locked = locked && written;
    }
    std::lock_guard<std::mutex> lock(mutex);
    holderPid = pid;
    holderLocks = made;
    return locked;
}

void SimDevice::releasePort() {
    pid_t pid;
    std::vector<std::string> lockPaths;
    {
        std::lock_guard<std::mutex> lock(mutex);
        pid = holderPid;
        lockPaths = holderLocks;
        holderPid = -1;
        holderLocks.clear();
    }
    if (pid <= 0)
        return;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    for (const std::string& lockPath : lockPaths)
        ::unlink(lockPath.c_str());
}

bool SimDevice::present() const {
    std::lock_guard<std::mutex> lock(mutex);
    return isPresent;
}

std::string SimDevice::portPath() const {
    std::lock_guard<std::mutex> lock(mutex);
    return slavePath;
}

std::string SimDevice::description() const {
    std::lock_guard<std::mutex> lock(mutex);
    return cfg.description;
}

Mode SimDevice::mode() const {
    std::lock_guard<std::mutex> lock(mutex);
    return currentMode;
}

int SimDevice::appearances() const {
    std::lock_guard<std::mutex> lock(mutex);
    return appearanceCount;
}

Bytes SimDevice::received() const {
    std::lock_guard<std::mutex> lock(mutex);
    return receivedBytes;
}

void SimDevice::clearReceived() {
    std::lock_guard<std::mutex> lock(mutex);
    receivedBytes.clear();
}

std::vector<Event> SimDevice::events() const {
    std::lock_guard<std::mutex> lock(mutex);
    return eventLog;
}

bool SimDevice::firstEvent(const std::string& what, Clock::time_point* when) const {
    std::lock_guard<std::mutex> lock(mutex);
    for (const Event& e : eventLog) {
        if (e.what == what) {
            if (when)
                *when = e.when;
            return true;
        }
    }
    return false;
}

Bytes SimDevice::receivedImage() const {
    std::lock_guard<std::mutex> lock(mutex);
    return lastImage.empty() ? image : lastImage;
}

std::vector<uint8_t> SimDevice::versionBytes() const {
    std::lock_guard<std::mutex> lock(mutex);
    return std::vector<uint8_t>(version, version + 4);
}

void SimDevice::send(const Bytes& bytes) {
    std::lock_guard<std::mutex> lock(mutex);
    reply(bytes);
}

void SimDevice::configure(const DeviceConfig& config) {
    std::lock_guard<std::mutex> lock(mutex);
    cfg = config;
}

DeviceConfig SimDevice::config() const {
    std::lock_guard<std::mutex> lock(mutex);
    return cfg;
}

// A raw pseudo-terminal with a non-blocking master end.
bool SimDevice::makePty(int* master, int* slave, std::string* path) {
    char name[256] = {0};
    if (openpty(master, slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return false;
    }
    termios tio{};
    tcgetattr(*slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(*slave, TCSANOW, &tio);
    fcntl(*master, F_SETFL, fcntl(*master, F_GETFL) | O_NONBLOCK);
    *path = name;
    return true;
}

// Called with the mutex held.
void SimDevice::openPty() {
    if (gadget()) {
        bindGadget(cfg.udc);
        return;
    }
    int master = -1;
    int slave = -1;
    std::string path;
    if (!makePty(&master, &slave, &path))
        return;
    masterFd = master;
    slaveFd = slave; // kept open, so the master never sees a hang-up
    slavePath = path;
    isPresent = true;
    ++appearanceCount;
    publishUsb();
}

// Called with the mutex held.
void SimDevice::closePty() {
    if (gadget()) {
        unbindGadget();
        return;
    }
    isPresent = false;
    withdrawUsb();
    if (masterFd >= 0)
        ::close(masterFd);
    if (slaveFd >= 0)
        ::close(slaveFd);
    masterFd = -1;
    slaveFd = -1;
}

void SimDevice::record(const std::string& what) {
    eventLog.push_back({Clock::now(), what});
}

void SimDevice::violation(const std::string& what) {
    record("violation: " + what);
}

namespace {
bool writeAttribute(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return written;
}
} // namespace

// The gadget's strings are those of the mode it comes up in; the host reads
// them when it enumerates the device after the bind.
bool SimDevice::bindGadget(const std::string& udc) {
    const std::string product =
        currentMode == Mode::BootLoader && !cfg.bootProduct.empty() ? cfg.bootProduct : cfg.product;
    writeAttribute(cfg.gadgetDir + "/strings/0x409/product", product + "\n");
    // Another unit that came back in this one's place has its own serial.
    if (gadgetSerialChanged)
        writeAttribute(cfg.gadgetDir + "/strings/0x409/serialnumber", cfg.usbSerial + "\n");
    if (!writeAttribute(cfg.gadgetDir + "/UDC", udc + "\n")) {
        std::fprintf(stderr, "sim: cannot bind %s to %s: %s\n", cfg.gadgetDir.c_str(), udc.c_str(),
                     std::strerror(errno));
        return false;
    }
    // The function's tty: opened anew after every bind (the unbind hung it up).
    int fd = -1;
    const auto limit = Clock::now() + kTtyOpenWait;
    while ((fd = ::open(cfg.gadgetTty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) < 0 &&
           Clock::now() < limit) {
        mutex.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
        mutex.lock();
    }
    if (fd < 0) {
        std::fprintf(stderr, "sim: cannot open %s: %s\n", cfg.gadgetTty.c_str(),
                     std::strerror(errno));
        return false;
    }
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    masterFd = fd;
    slaveFd = -1;
    isPresent = true;
    ++appearanceCount;
    record("plugged: " + udc + " (" + product + ")");
    return true;
}

void SimDevice::unbindGadget() {
    if (masterFd >= 0) {
        ::close(masterFd);
        masterFd = -1;
    }
    if (isPresent)
        record("unplugged");
    isPresent = false;
    writeAttribute(cfg.gadgetDir + "/UDC", "\n");
}

// A receiver for senders that wait to be asked: in the boot loader, "C" goes
// out by itself every readyCEveryMs until the first packet comes.
void SimDevice::offerTransfer() {
    std::lock_guard<std::mutex> lock(mutex);
    if (cfg.readyCEveryMs <= 0 || currentMode != Mode::BootLoader || masterFd < 0 ||
        packetsThisTransfer > 0 || transferEnded)
        return;
    const auto now = Clock::now();
    if (now - lastReadyC < std::chrono::milliseconds(cfg.readyCEveryMs))
        return;
    lastReadyC = now;
    reply(Bytes{'C'});
    record("C");
}

// Waits for the line time of bytes received, after any earlier reception.
void SimDevice::lineWait(size_t bytes) {
    const auto start = std::max(Clock::now(), rxFree);
    rxFree = start + kByteTime * static_cast<long>(bytes);
    sleepUntil(rxFree);
}

void SimDevice::run() {
    Bytes input;
    uint8_t chunk[4096];
    while (!stopping) {
        int fd;
        bool hold = false;
        bool release = false;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if ((pendingMaster >= 0 || pendingGadget) && Clock::now() >= plugAt)
                finishReplug();
            // Idle for long enough after the identification: pulled out once.
            if (cfg.unplugWhenIdleMs > 0 && identifiedOnce && !idleUnplugDone && masterFd >= 0 &&
                Clock::now() - lastInput > std::chrono::milliseconds(cfg.unplugWhenIdleMs)) {
                idleUnplugDone = true;
                record("unplugged while idle");
                if (cfg.returnAfterMs >= 0)
                    replugLocked(cfg.returnAfterMs);
                else
                    closePty();
            }
            hold = holdPending && isPresent;
            holdPending = holdPending && !hold;
            release =
                holderPid > 0 && Clock::now() >= holdUntil && holdUntil != Clock::time_point();
            fd = masterFd;
        }
        if (hold)
            holdPort();
        if (release) {
            releasePort();
            std::lock_guard<std::mutex> lock(mutex);
            holdUntil = Clock::time_point();
        }
        if (fd < 0) {
            input.clear();
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
            continue;
        }
        offerTransfer();
        // Right after a reply the next command is due at once: watch the line
        // without sleeping for a moment, as a device's receiver does.
        const bool busy = Clock::now() - lastReply.load() < kBusyWindow;
        pollfd pfd{fd, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, busy ? 0 : kPollMs);
        if (ready <= 0 || !(pfd.revents & POLLIN)) {
            if (busy)
                std::this_thread::yield();
            continue;
        }
        std::unique_lock<std::mutex> lock(mutex);
        if (fd != masterFd)
            continue;
        const ssize_t n = ::read(fd, chunk, sizeof(chunk));
        if (n <= 0)
            continue;
        if (input.empty())
            inputStartedAt = Clock::now();
        lastInput = Clock::now();
        receivedBytes.insert(receivedBytes.end(), chunk, chunk + n);
        if (cfg.lineTiming) {
            lock.unlock();
            lineWait(static_cast<size_t>(n));
            lock.lock();
            if (fd != masterFd)
                continue;
        }
        input.insert(input.end(), chunk, chunk + n);
        handleInput(input);
        // After a restart the device listens on a new terminal with nothing pending.
        if (masterFd != fd)
            input.clear();
    }
}

// Called with the mutex held; consumes what it understands from input.
void SimDevice::handleInput(Bytes& input) {
    if (cfg.silent) {
        input.clear();
        return;
    }
    for (;;) {
        const bool progressed =
            currentMode == Mode::Normal ? handleNormal(input) : handleBoot(input);
        if (!progressed || input.empty() || masterFd < 0)
            return;
    }
}

// One frame of the normal firmware; returns false when more bytes are needed.
bool SimDevice::handleNormal(Bytes& input) {
    while (!input.empty() && input[0] != kStart)
        input.erase(input.begin());
    if (input.size() >= 2 && input[1] != 0x01) {
        input.erase(input.begin()); // a stray start byte
        return true;
    }
    if (input.size() < 3)
        return false;
    const uint8_t code = input[2];
    const size_t length = code == 0x1C   ? kUpdateFrame
                          : code == 0xA2 ? kLongQueryFrame
                                         : kShortFrame;
    if (input.size() < length)
        return false;
    if (input[length - 1] != kEnd) {
        input.erase(input.begin());
        return true;
    }
    const uint8_t param = input[3];
    input.erase(input.begin(), input.begin() + static_cast<long>(length));
    char tag[32];
    std::snprintf(tag, sizeof(tag), "frame:%02X%02X", code, param);
    record(tag);

    switch (code) {
    case 0x02:
        if (!cfg.initStatusOverride.empty())
            reply(cfg.initStatusOverride);
        else
            reply(Bytes{kStart, 0x01, 0x02, cfg.initStatus, 0x00, kEnd});
        break;
    case 0x03:
        if (param == 0x03 && !cfg.versionOverride.empty()) {
            reply(cfg.versionOverride);
        } else if (param == 0x03) {
            Bytes r{kStart, 0x01, 0x03};
            const size_t digits = cfg.versionForm == VersionForm::Six     ? 2
                                  : cfg.versionForm == VersionForm::Seven ? 3
                                                                          : 4;
            r.insert(r.end(), version, version + digits);
            r.push_back(kEnd);
            reply(r);
        } else if (param == 0x02) {
            Bytes r{kStart, 0x01, 0x03};
            r.insert(r.end(), cfg.model.begin(), cfg.model.end());
            r.push_back(kEnd);
            reply(r);
        }
        break;
    case 0x04: {
        Bytes r{kStart, 0x01, 0x04};
        r.insert(r.end(), cfg.watchId.begin(), cfg.watchId.end());
        r.push_back(kEnd);
        reply(r);
        break;
    }
    case 0x0F:
        reply(Bytes{kStart, 0x01, 0x0F, 0x01, kEnd});
        identifiedOnce = true;
        break;
    case 0x11:
        if (!cfg.resetReply.empty())
            reply(cfg.resetReply);
        break;
    case 0x1C:
        if (!cfg.switchWithoutAnswer)
            reply(Bytes{kStart, 0x01, 0x1C, 0x01, kEnd});
        restart(Mode::BootLoader, cfg.goneAfterUpdateStart ? -1 : cfg.bootRestartGoneMs,
                !cfg.switchWithoutAnswer, cfg.switchWithoutAnswer);
        break;
    default:
        violation(std::string("a frame the firmware does not know: ") + tag);
        break;
    }
    return true;
}

// One command or packet of the boot loader; returns false when more bytes are needed.
bool SimDevice::handleBoot(Bytes& input) {
    const uint8_t first = input[0];
    if (first == kSOH) {
        if (input.size() < kPacket)
            return false;
        Bytes packet(input.begin(), input.begin() + kPacket);
        input.erase(input.begin(), input.begin() + kPacket);
        ++packetsThisTransfer;
        record("packet");
        eventLog.push_back({inputStartedAt, "packet-in"});
        // Packets come after "u" and before EOT, unless the receiver asks by itself.
        if (!transferOpen && cfg.readyCEveryMs <= 0)
            violation("a packet outside a transfer");
        if (cancelled)
            return true;
        const uint8_t seq = packet[1];
        const uint8_t complement = packet[2];
        const uint16_t crc = static_cast<uint16_t>((packet[131] << 8) | packet[132]);
        // After 255 both 1 (this tool) and 0 (standard senders) are taken.
        const bool wrapped = expectedSeq == 1 && seq == 0 && packetsThisTransfer > 255;
        const bool good = (seq == expectedSeq || wrapped) &&
                          complement == static_cast<uint8_t>(255 - seq) &&
                          crc == crc16(packet.data() + 3, kBlock);
        if (!unplugDone && cfg.unplugAtPacket == packetsThisTransfer) {
            // Pulled out with the packet unanswered; back in the boot loader later.
            unplugDone = true;
            record("unplugged");
            expectedSeq = 1;
            packetsThisTransfer = 0;
            if (cfg.returnAfterMs >= 0)
                replugLocked(cfg.returnAfterMs);
            else
                closePty();
            return true;
        }
        if (cfg.cancelAtPacket == packetsThisTransfer) {
            cancelled = true;
            reply(Bytes{kCAN});
            return true;
        }
        if (!nakDone && cfg.nakOnceAtPacket == packetsThisTransfer) {
            nakDone = true;
            reply(Bytes{kNAK});
            return true;
        }
        if (!readyCDone && cfg.readyCOnceAtPacket == packetsThisTransfer) {
            readyCDone = true;
            reply(Bytes{'C'});
            return true;
        }
        if (!good) {
            record("bad-packet");
            violation("a bad packet (" + std::to_string(packetsThisTransfer) + " of the transfer)");
            reply(Bytes{kNAK});
            return true;
        }
        image.insert(image.end(), packet.begin() + 3, packet.begin() + 3 + kBlock);
        expectedSeq = seq == 255 ? 1 : seq + 1;
        reply(Bytes{kACK});
        record("ack");
        return true;
    }
    if (first == kStart) {
        // Framed commands reach the boot loader too: the init-status query and
        // the update start.
        if (input.size() >= 2 && input[1] != 0x01) {
            input.erase(input.begin()); // a stray start byte
            return true;
        }
        if (input.size() < 3)
            return false;
        const uint8_t code = input[2];
        const size_t length = code == 0x1C ? kUpdateFrame : kShortFrame;
        if (input.size() < length)
            return false;
        input.erase(input.begin(), input.begin() + static_cast<long>(length));
        char tag[32];
        std::snprintf(tag, sizeof(tag), "boot-frame:%02X", code);
        record(tag);
        if (code == 0x02)
            reply(std::string("\r\nBOOT\r\n"));
        if (code == 0x1C && !cfg.bootIgnoresUpdateStart) {
            reply(Bytes{kStart, 0x01, 0x1C, 0x01, kEnd});
            restart(Mode::BootLoader, cfg.bootRestartGoneMs, true, false);
        }
        return true;
    }
    input.erase(input.begin());
    switch (first) {
    case 'c':
        record("c");
        reply(cfg.model + "\r\n");
        break;
    case 'u':
        record("u");
        transferOpen = true;
        transferEnded = false;
        image.clear();
        lastImage.clear();
        expectedSeq = 1;
        packetsThisTransfer = 0;
        cancelled = false;
        reply(Bytes{'C'});
        record("C");
        break;
    case kEOT:
        record("eot");
        transferOpen = false;
        transferEnded = true;
        lastImage = image;
        reply(Bytes{kACK});
        record("ack-eot");
        break;
    case '\r':
    case '\n':
        break;
    case 'v': {
        record("v");
        if (cfg.ignoreCrcRequests)
            break;
        ++crcRequests;
        uint32_t sum = imageChecksum();
        if (crcRequests <= cfg.wrongCrcReplies)
            sum += 1;
        std::string digits = std::to_string(sum);
        if (static_cast<int>(digits.size()) < cfg.crcDigits)
            digits.insert(0, static_cast<size_t>(cfg.crcDigits) - digits.size(), '0');
        reply("CRC:" + digits);
        break;
    }
    case 'r':
        record("r");
        reply(std::string(cfg.restartReplyWithoutMarker ? "Rebooting\r\n" : "Restart OK\r\n"));
        if (cfg.restartAfterReply && !cfg.restartReplyWithoutMarker) {
            takeVersionFromImage();
            crcRequests = 0;
            restart(Mode::Normal, cfg.firmwareRestartGoneMs, true, true);
        }
        break;
    default: {
        char what[64];
        std::snprintf(what, sizeof(what), "a byte the boot loader does not know: %02x", first);
        violation(what);
        break;
    }
    }
    return true;
}

uint32_t SimDevice::imageChecksum() const {
    const Bytes& img = lastImage.empty() ? image : lastImage;
    uint32_t sum = 0;
    for (size_t off = 0; off + kBlock <= img.size(); off += kBlock)
        sum += crc16(img.data() + off, kBlock);
    return sum;
}

void SimDevice::takeVersionFromImage() {
    const Bytes& img = lastImage.empty() ? image : lastImage;
    const size_t markerLength = sizeof(kVersionMarker) - 1;
    for (size_t i = 0; i + markerLength + 3 <= img.size(); ++i) {
        if (std::memcmp(img.data() + i, kVersionMarker, markerLength) == 0) {
            version[0] = img[i + markerLength];
            version[1] = img[i + markerLength + 1];
            version[2] = img[i + markerLength + 2];
            version[3] = 0;
            return;
        }
    }
}

// Called with the mutex held.
void SimDevice::reply(const Bytes& bytes) {
    if (masterFd < 0 || bytes.empty())
        return;
    const size_t step = cfg.chunkSize == 0 ? bytes.size() : cfg.chunkSize;
    for (size_t off = 0; off < bytes.size(); off += step) {
        const size_t count = std::min(step, bytes.size() - off);
        if (off > 0 && cfg.chunkDelayMs > 0) {
            mutex.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(cfg.chunkDelayMs));
            mutex.lock();
            if (masterFd < 0)
                return;
        }
        if (cfg.lineTiming) {
            mutex.unlock();
            sleepUntil(Clock::now() + kByteTime * static_cast<long>(count));
            mutex.lock();
            if (masterFd < 0)
                return;
        }
        size_t written = 0;
        while (written < count) {
            const ssize_t n = ::write(masterFd, bytes.data() + off + written, count - written);
            if (n > 0) {
                written += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return;
            pollfd pfd{masterFd, POLLOUT, 0};
            ::poll(&pfd, 1, 10);
        }
    }
    lastReply = Clock::now();
}

void SimDevice::reply(const std::string& text) {
    reply(Bytes(text.begin(), text.end()));
}

// Called with the mutex held. Waits until the tool has read everything sent
// (the slave's input queue is empty), leaves the port list, stays away for
// goneMs and comes back on a new pseudo-terminal in the next mode.
void SimDevice::restart(Mode next, int goneMs, bool waitUntilRead, bool vanishAtOnce) {
    if (vanishAtOnce)
        isPresent = false;
    // The reply reaches the tool's side of the terminal a moment after it was
    // written: first wait for it to arrive there (unless the tool has read it
    // already), then for the tool to read it.
    const auto arriveBy = Clock::now() + kArriveWait;
    const auto limit = Clock::now() + kReadWaitLimit;
    bool arrived = false;
    while (waitUntilRead && slaveFd >= 0 && Clock::now() < limit && !stopping) {
        int pending = 0;
        if (ioctl(slaveFd, TIOCINQ, &pending) != 0)
            break;
        if (pending > 0)
            arrived = true;
        else if (arrived || Clock::now() > arriveBy)
            break;
        mutex.unlock();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        mutex.lock();
    }
    // On a USB link: until the reply has left the gadget, then a moment for
    // the host to read it.
    while (waitUntilRead && gadget() && masterFd >= 0 && Clock::now() < limit && !stopping) {
        int queued = 0;
        if (ioctl(masterFd, TIOCOUTQ, &queued) != 0 || queued == 0)
            break;
        mutex.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        mutex.lock();
    }
    mutex.unlock();
    std::this_thread::sleep_for(gadget() ? kUsbReadGrace : kReadGrace);
    mutex.lock();
    closePty();
    // Gone for good.
    if (goneMs < 0) {
        record("gone");
        return;
    }
    record(next == Mode::BootLoader ? "restart-boot" : "restart-firmware");
    mutex.unlock();
    const auto back = Clock::now() + std::chrono::milliseconds(goneMs);
    while (Clock::now() < back && !stopping)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    mutex.lock();
    if (stopping)
        return;
    currentMode = next;
    transferOpen = false;
    nakDone = false;
    readyCDone = false;
    openPty();
    if (next == Mode::Normal && cfg.busyAfterRestartMs > 0) {
        holdPending = true;
        holdUntil = Clock::now() + std::chrono::milliseconds(cfg.busyAfterRestartMs);
    }
}

} // namespace sim
