#pragma once

// The device's side of a run recorded in a log of the tool, played again on a
// pseudo-terminal. The log's wire lines (category tembra.wire) say what the
// tool wrote and read, and when its port was opened, closed, lost and found:
//
//   2026-12-08 17:11:27.795 tembra.wire debug: sent, id 2: 6e 01 02 01 8f 6e
//   2026-12-08 17:11:27.796 tembra.wire debug: received, id 2: 6e 01 02 01 00 8f
//   2026-12-08 17:11:27.801 tembra.wire debug: port closed: /dev/ttyACM0
//   2026-12-08 17:11:29.102 tembra.wire debug: port found: /dev/ttyACM0
//   2026-12-08 17:11:29.403 tembra.wire debug: port opened: /dev/ttyACM0
//   2026-12-08 17:11:30.017 tembra.wire debug: port lost: /dev/ttyACM0 (Input/output error)
//
// Each write of the tool is compared with the next recorded one; each
// recorded read is sent back after its recorded delay (at most 2 s), in the
// pieces in which it was read; the port goes away when the log's port was
// closed or lost, and is back when it was found again. On the first write
// that differs the replay stops and says which one.
//
// Form 2 records packets (command id 36) without their bytes:
//
//   ... tembra.wire debug: packets, id 36: 1-256 acknowledged, crc sum 8412345
//   ... tembra.wire debug: sent, id 36: packet 257, seq 2, crc 3fa2
//
// Each packet of the tool is then checked by its framing, its own CRC, the
// sequence number and CRC recorded (or the sum of a run's CRCs), and, when
// the firmware image is handed to the replay, against the image itself. A
// run of acknowledged packets is answered with an ACK each.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sim {

struct WireEvent {
    enum Kind { Sent, Received, Opened, Closed, Lost, Found, Packet, Packets };
    Kind kind;
    std::chrono::milliseconds time; // since the first wire line
    std::vector<uint8_t> bytes;     // sent and received
    int order = 0;                  // the command id the line names
    int line = 0;                   // its line in the log, from 1
    // Packet: its index, sequence number and CRC; Packets: the first and last
    // index of the run and the sum of their CRCs.
    long first = 0;
    long last = 0;
    int seq = 0;
    uint32_t crc = 0;
};

// The forms of the log that can be replayed.
constexpr int OldestForm = 1;
constexpr int NewestForm = 2;

// The wire lines of a log; false (with why) when it has none, cannot be read,
// is of a form not known here, or is cut off in the middle of a line.
// A log that ends at its size limit is read up to there; note then says so.
bool ReadWireLog(const std::string& path, std::vector<WireEvent>* events, std::string* why,
                 std::string* note = nullptr);

class Replay {
public:
    // onPort is told the device's port whenever it appears, and "" when it goes.
    // image: the firmware the logged run sent, when known (empty otherwise).
    Replay(std::vector<WireEvent> events, std::string logPath,
           std::function<void(const std::string&)> onPort, std::vector<uint8_t> image = {});
    ~Replay();

    // Plays the log to its end (true) or to the first write that differs, or
    // a write that never comes (false, with the report on standard error).
    bool Run(const std::function<bool()>& running);

    // The longest a recorded delay is waited for.
    static constexpr std::chrono::milliseconds MaxDelay{2000};
    // How long a write of the tool is waited for.
    static constexpr std::chrono::milliseconds WriteWait{60000};

private:
    bool plug();
    void unplug();
    bool expect(const WireEvent& event, int number, const std::function<bool()>& running);
    // Reads count bytes of the tool into got; false when they do not come.
    bool take(size_t count, std::vector<uint8_t>* got, const std::function<bool()>& running);
    // Checks one packet of the tool; "" when it is the one recorded.
    std::string checkPacket(const std::vector<uint8_t>& packet, long index, int seq,
                            long crc) const;
    bool expectPackets(const WireEvent& event, int* writes, const std::function<bool()>& running);
    void differs(int number, const WireEvent& event, const std::string& expected,
                 const std::string& received) const;
    void send(const std::vector<uint8_t>& bytes);
    void waitUntilRead();

    std::vector<WireEvent> events;
    std::string logPath;
    std::function<void(const std::string&)> onPort;
    int master = -1;
    int slave = -1;
    std::vector<uint8_t> pending; // what the tool wrote beyond the writes compared so far
    std::vector<uint8_t> image;
};

} // namespace sim
