#pragma once

// A simulated wrist device on a pseudo-terminal. The tool opens the slave end
// with its real serial port code; this class plays the device on the master
// end, in a thread of its own, so a blocked tool never blocks the device.
//
// Normal firmware. Commands are frames 6E 01 <code> <param...> 8F; the tool
// may send one stray byte after a frame, which is skipped. Replies:
//   init status   6E 01 02 03 01 8F        -> 6E 01 02 <status> 00 8F        (6 bytes)
//   version       6E 01 03 03 8F           -> 6E 01 03 <maj> <min> 8F        (6-byte form)
//                                             6E 01 03 <a> <b> <c> 8F        (7-byte form)
//                                             6E 01 03 <a> <b> <c> <d> 8F    (8-byte form)
//   device info   6E 01 03 02 8F           -> 6E 01 03 <model text> 8F       (18 bytes)
//   device number 6E 01 04 01 8F           -> 6E 01 04 <"F" + 19 chars> 8F  (24 bytes)
//   end of query  6E 01 0F 01 8F           -> 6E 01 0F 01 8F
//   reset         6E 01 11 01 8F           -> the configured reset reply (none by default)
//   update start  6E 01 1C ... 8F (30 B)   -> 6E 01 1C 01 8F, then a restart into the
//                                             boot loader: gone from the port list, back
//                                             under a new pseudo-terminal
//
// Boot loader. One-byte commands and XModem-CRC packets:
//   init status frame -> "\r\nBOOT\r\n" (begins with 0D 0A)
//   "c"  -> the model text followed by "\r\n" (16 bytes, one write)
//   "u"  -> "C"; the transfer starts over from packet 1 (a receiver for other
//           senders may also send "C" by itself until the first packet, as rx does)
//   packet (133 bytes: 01, seq, 255-seq, 128 data, CRC hi, CRC lo), checked strictly
//        -> ACK (06), or NAK (15) for a bad or unexpected one; after 255 the
//           sequence goes on with 1 (this tool) or 0 (standard XModem senders)
//   EOT  -> ACK
//   "v"  -> "CRC:<n>", n the sum of the CRC-16 of the received blocks (unsigned,
//           optionally zero-padded to a fixed number of digits)
//   "r"  -> "Restart OK\r\n", then a restart into the normal firmware, whose version is
//           the one carried by the received image ("FWVER:" followed by three bytes)
//   the update start frame -> 6E 01 1C 01 8F and a restart into the boot loader again
//
// Unplugging closes the terminal's master end: the tool's side hangs up, as a
// USB CDC port does when its device goes. A quick replug comes back under a
// new name; a port can be held by another process (as another program that
// locks the port would), so that the tool cannot open it.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sim {

using Bytes = std::vector<uint8_t>;

enum class VersionForm { Six, Seven, Eight };
enum class Mode { Normal, BootLoader };

struct DeviceConfig {
    uint8_t initStatus = 1;
    VersionForm versionForm = VersionForm::Seven;
    uint8_t version[4] = {1, 2, 7, 0};
    std::string model = "131152M2300101";
    std::string watchId = "F1311520230010042357";
    std::string description = "USB CDC Serial (velmorix)";
    Bytes resetReply;         // reply to the reset command; none by default
    Bytes initStatusOverride; // replaces the init-status reply when not empty
    Bytes versionOverride;    // replaces the version reply when not empty
    Mode startMode = Mode::Normal;

    // Replies go out in chunks of this many bytes (0: whole) with a pause between.
    size_t chunkSize = 0;
    int chunkDelayMs = 0;

    // Time the device is absent while it restarts.
    int bootRestartGoneMs = 1000;     // into the boot loader
    int firmwareRestartGoneMs = 1500; // into the normal firmware

    // Faults of the boot loader.
    int nakOnceAtPacket = 0;    // NAK the k-th packet once (1-based, counted per transfer)
    int cancelAtPacket = 0;     // answer CAN to the k-th packet and then nothing
    int readyCOnceAtPacket = 0; // answer "C" instead of ACK to the k-th packet, once
    int wrongCrcReplies = 0;    // the first m "v" requests report a wrong checksum
    int crcDigits = 0;          // checksum zero-padded to this many digits (0: as is)
    bool restartReplyWithoutMarker = false; // "r" answered without "Restart"/"Value"
    bool restartAfterReply = true;          // restart at all after "r"
    int readyCEveryMs = 0;          // in the boot loader, send "C" this often until a packet comes
    int unplugAtPacket = 0;         // pulled out when the k-th packet arrives (once), unanswered
    int returnAfterMs = -1;         // back in the boot loader this long after that (-1: never)
    bool ignoreCrcRequests = false; // "v" is never answered
    bool silent = false;            // nothing is ever answered

    // Line timing of 115200 baud 8N1: every byte takes 10/115200 s each way.
    bool lineTiming = false;

    // The boot loader takes no notice of the framed update start.
    bool bootIgnoresUpdateStart = false;
    // Pulled out once, after its identification, when the tool has sent
    // nothing for this long (0: never), as while the tool asks the service
    // or downloads; back after returnAfterMs in the same firmware.
    int unplugWhenIdleMs = 0;
    // After answering the update start, gone for good instead of restarting.
    bool goneAfterUpdateStart = false;
    // At the update start, restarts into its boot loader at once, its answer
    // never sent (as a device whose port goes before the answer is read).
    bool switchWithoutAnswer = false;
    // After its restart into the new firmware, the port is held by another
    // process this long (as a program that probes new ports holds it).
    int busyAfterRestartMs = 0;
    // A name of the port (a link to it) that the holder locks too, as a
    // program that opened the port by that name would.
    std::string alsoLockedAs;

    // On a real USB link instead of a pseudo-terminal: a USB gadget with an
    // ACM function, made in configfs (its folder), and the function's tty on
    // the gadget's side. Plugging in binds the gadget to a UDC with the
    // product string of the current mode, unplugging unbinds it; a restart
    // is an unbind followed by a bind, as a real device enumerates anew.
    std::string gadgetDir; // "": a pseudo-terminal
    std::string gadgetTty; // such as /dev/ttyGS0
    std::string udc;       // the UDC plugged into (the USB port)
    std::string returnUdc; // after unplugAtPacket, back on this one ("": the same)
    std::string product = "Tembra USB CDC";
    std::string bootProduct; // the boot loader's product string ("": the same)

    // On a pseudo-terminal: a made-up sysfs below this folder (sys/dev/char,
    // sys/devices, by-path), in which each terminal the device appears on is
    // the tty of a USB device at usbPlace with usbSerial ("": none), as a
    // tool reads the system's own with TEMBRA_TEST_IDENTITY_ROOT.
    std::string usbRoot;
    std::string usbPlace = "1-1";
    std::string usbSerial = "TMB00001";

    // After unplugAtPacket, another unit comes back in its place: with this
    // serial number and device number where set, in its normal firmware
    // when returnInFirmware.
    bool returnSerialSet = false;
    std::string returnSerial;
    std::string returnWatchId;
    bool returnInFirmware = false;
};

// One event as the device saw it, for tests and the benchmark.
struct Event {
    std::chrono::steady_clock::time_point when;
    // "u", "C" (written), "packet" (taken), "packet-in" (its first byte read),
    // "ack" (written), "eot", "ack-eot", "v", "r", "frame:XX", "c", ...;
    // "violation: ..." for what the tool sent that the device's protocol has
    // no place for (a bad packet, a packet outside a transfer, an unknown command).
    std::string what;
};

class SimDevice {
public:
    explicit SimDevice(DeviceConfig config = DeviceConfig());
    ~SimDevice();
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    // Plug the device in (a new pseudo-terminal) or pull it out.
    void plug();
    void unplug();
    // Pulls the device out and plugs it back in after goneMs, under a name
    // other than the one it had (the old terminal may still be held open).
    void replug(int goneMs);
    // Another process opens the port exclusively and locks it, as a program
    // that holds a serial port does, until releasePort(). False on failure.
    bool holdPort();
    void releasePort();

    bool present() const;
    // The tool's side of the port: the pseudo-terminal's name; "" on a USB
    // link, where the host names it.
    std::string portPath() const;
    std::string description() const;
    Mode mode() const;
    // Number of times the device appeared on a port (plug-ins and restarts).
    int appearances() const;

    // Every byte received, in order, since creation or clearReceived().
    Bytes received() const;
    void clearReceived();
    std::vector<Event> events() const;
    // Time of the first event of a kind; false when there was none.
    bool firstEvent(const std::string& what, std::chrono::steady_clock::time_point* when) const;
    // The image of the last transfer, as received (with its 0x1A padding).
    Bytes receivedImage() const;
    // Current version bytes of the normal firmware.
    std::vector<uint8_t> versionBytes() const;

    // Writes bytes to the tool at once, as if the device had sent them.
    void send(const Bytes& bytes);

    // Changes the configuration while running.
    void configure(const DeviceConfig& config);
    DeviceConfig config() const;

    static uint16_t crc16(const uint8_t* data, size_t size);

private:
    void run();
    void openPty();
    bool makePty(int* master, int* slave, std::string* path);
    void closePty();
    void finishReplug();
    void replugLocked(int goneMs);
    void handleInput(Bytes& input);
    bool handleNormal(Bytes& input);
    bool handleBoot(Bytes& input);
    void reply(const Bytes& bytes);
    void reply(const std::string& text);
    void restart(Mode next, int goneMs, bool waitUntilRead, bool vanishAtOnce);
    void record(const std::string& what);
    void violation(const std::string& what);
    // The USB link (called with the mutex held): bound to udc and its tty
    // opened, or closed and unbound.
    bool bindGadget(const std::string& udc);
    void unbindGadget();
    // The made-up sysfs (called with the mutex held): the terminal shown as
    // a USB device's tty, or gone from it.
    void publishUsb();
    void withdrawUsb();
    // The unit that comes back after an unplug, when it is another one.
    void becomeReturningUnit();
    bool gadget() const { return !cfg.gadgetDir.empty(); }
    void lineWait(size_t bytes);
    void offerTransfer();
    uint32_t imageChecksum() const;
    void takeVersionFromImage();

    mutable std::mutex mutex;
    DeviceConfig cfg;
    Mode currentMode;
    int masterFd = -1;
    int slaveFd = -1;
    std::string slavePath;
    bool isPresent = false;
    int appearanceCount = 0;
    // A replug in progress: the new terminal, listed once plugAt has come
    // (on a USB link: the UDC to bind to then).
    bool pendingGadget = false;
    std::string pendingUdc;
    int pendingMaster = -1;
    int pendingSlave = -1;
    std::string pendingPath;
    std::chrono::steady_clock::time_point plugAt{};
    // The process holding the port, and its lock files.
    // The made-up sysfs's link for the terminal shown now; the gadget's
    // serial string is rewritten for a unit that came back in its place.
    std::string publishedLink;
    bool gadgetSerialChanged = false;
    int holderPid = -1;
    std::vector<std::string> holderLocks;
    Bytes receivedBytes;
    std::vector<Event> eventLog;
    Bytes image;
    Bytes lastImage;
    uint8_t version[4];

    // Transfer state of the boot loader.
    int expectedSeq = 1;
    int packetsThisTransfer = 0;
    bool nakDone = false;
    bool readyCDone = false;
    bool unplugDone = false;
    bool cancelled = false;
    int crcRequests = 0;

    std::chrono::steady_clock::time_point rxFree;
    // When the first byte of the pending input was read.
    std::chrono::steady_clock::time_point inputStartedAt;
    std::chrono::steady_clock::time_point lastReadyC;
    bool transferEnded = false;
    // Between "u" and EOT.
    bool transferOpen = false;
    // The idle unplug: identified once, the last byte's time, and done.
    bool identifiedOnce = false;
    bool idleUnplugDone = false;
    std::chrono::steady_clock::time_point lastInput{};
    // The port held after a restart: from when, until when.
    bool holdPending = false;
    std::chrono::steady_clock::time_point holdUntil{};
    std::atomic<std::chrono::steady_clock::time_point> lastReply{};

    std::atomic<bool> stopping{false};
    std::thread worker;
};

} // namespace sim
