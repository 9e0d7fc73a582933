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
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sim {

struct WireEvent {
    enum Kind { Sent, Received, Opened, Closed, Lost, Found };
    Kind kind;
    std::chrono::milliseconds time; // since the first wire line
    std::vector<uint8_t> bytes;     // sent and received
    int order = 0;                  // the command id the line names
    int line = 0;                   // its line in the log, from 1
};

// The wire lines of a log; false (with why) when it has none or cannot be read.
bool ReadWireLog(const std::string& path, std::vector<WireEvent>* events, std::string* why);

class Replay {
public:
    // onPort is told the device's port whenever it appears, and "" when it goes.
    Replay(std::vector<WireEvent> events, std::string logPath,
           std::function<void(const std::string&)> onPort);
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
    void send(const std::vector<uint8_t>& bytes);
    void waitUntilRead();

    std::vector<WireEvent> events;
    std::string logPath;
    std::function<void(const std::string&)> onPort;
    int master = -1;
    int slave = -1;
    std::vector<uint8_t> pending; // what the tool wrote beyond the writes compared so far
};

} // namespace sim
