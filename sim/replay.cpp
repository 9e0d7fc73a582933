#include "sim/replay.h"

#include "sim/simdevice.h"

#include <algorithm>
#include <cctype>
#include <iterator>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace sim {
namespace {
using Clock = std::chrono::steady_clock;
const int kPollMs = 5;
const auto kReadGrace = std::chrono::milliseconds(30);
// How long a reply written may take to reach the tool's side of the terminal.
const auto kArriveWait = std::chrono::milliseconds(500);

// "2026-12-08 17:11:27.795": milliseconds of the day (a replay spans hours
// at most; a run past midnight goes on counting).
bool parseTime(const std::string& text, long long* ms) {
    int year, month, day, hour, minute, second, milli;
    if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d.%d", &year, &month, &day, &hour, &minute,
                    &second, &milli) != 7)
        return false;
    std::tm date{};
    date.tm_year = year - 1900;
    date.tm_mon = month - 1;
    date.tm_mday = day;
    const long long days = static_cast<long long>(timegm(&date)) / 86400;
    *ms = ((days * 24 + hour) * 60 + minute) * 60000LL + second * 1000LL + milli;
    return true;
}

// Bytes as the log writes them: two hex digits each, one space between.
bool parseHex(const std::string& text, std::vector<uint8_t>* bytes) {
    std::istringstream in(text);
    std::string cell;
    while (in >> cell) {
        if (cell.size() != 2 || !std::isxdigit(static_cast<unsigned char>(cell[0])) ||
            !std::isxdigit(static_cast<unsigned char>(cell[1])))
            return false;
        bytes->push_back(static_cast<uint8_t>(std::stoul(cell, nullptr, 16)));
    }
    return true;
}

// A decimal number of at most digits digits that fits the range given.
bool parseNumber(const std::string& text, long low, long high, long* value) {
    if (text.empty() || text.size() > 10)
        return false;
    size_t used = 0;
    long long n = 0;
    try {
        n = std::stoll(text, &used, 10);
    } catch (const std::exception&) {
        return false;
    }
    if (used != text.size() || n < low || n > high)
        return false;
    *value = static_cast<long>(n);
    return true;
}

// A bounded reader of one line: each step takes a fixed text, digits or
// hex digits from where the last one ended, so that a line of any length
// costs one pass and no recursion.
class Cursor {
public:
    explicit Cursor(const std::string& text) : text(text) {}
    bool take(const char* fixed) {
        const size_t n = std::strlen(fixed);
        if (text.compare(at, n, fixed) != 0)
            return false;
        at += n;
        return true;
    }
    // At least one digit (and at most most), as text.
    bool digits(std::string* out, size_t most = 20) {
        const size_t from = at;
        while (at < text.size() && at - from < most &&
               std::isdigit(static_cast<unsigned char>(text[at])))
            ++at;
        *out = text.substr(from, at - from);
        return at > from &&
               (at >= text.size() || !std::isdigit(static_cast<unsigned char>(text[at])));
    }
    bool hexDigits(size_t count, std::string* out) {
        if (text.size() - at < count)
            return false;
        for (size_t i = 0; i < count; ++i) {
            if (!std::isxdigit(static_cast<unsigned char>(text[at + i])) ||
                std::isupper(static_cast<unsigned char>(text[at + i])))
                return false;
        }
        *out = text.substr(at, count);
        at += count;
        return true;
    }
    bool done() const { return at == text.size(); }
    std::string rest() const { return text.substr(at); }

private:
    const std::string& text;
    size_t at = 0;
};

// "2026-12-08 17:11:27.795 tembra.wire debug: <message>".
bool wireLine(const std::string& text, std::string* time, std::string* message) {
    static const char shape[] = "dddd-dd-dd dd:dd:dd.ddd";
    const size_t n = sizeof(shape) - 1;
    if (text.size() < n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(text[i]));
        if (shape[i] == 'd' ? !digit : text[i] != shape[i])
            return false;
    }
    Cursor line(text);
    line.take(text.substr(0, n).c_str());
    if (!line.take(" tembra.wire debug: "))
        return false;
    *time = text.substr(0, n);
    *message = line.rest();
    return true;
}

// "sent, id 4: 6e 01 ..." or "received, id -1: ...": its kind and id; the
// cursor is left at its bytes.
bool dataLine(Cursor* line, WireEvent::Kind* kind, std::string* id) {
    if (line->take("sent, id "))
        *kind = WireEvent::Sent;
    else if (line->take("received, id "))
        *kind = WireEvent::Received;
    else
        return false;
    const bool negative = line->take("-");
    if (!line->digits(id) || !line->take(":"))
        return false;
    if (negative)
        id->insert(0, "-");
    line->take(" ");
    return true;
}

// The line the log ends with when it reached its size limit.
bool limitLine(const std::string& text) {
    return text.find(" tembra.log warning: the log file reached its limit of ") !=
           std::string::npos;
}

std::string hex(const std::vector<uint8_t>& bytes, size_t most = 48) {
    std::string out;
    char cell[4];
    for (size_t i = 0; i < bytes.size() && i < most; ++i) {
        std::snprintf(cell, sizeof(cell), i ? " %02x" : "%02x", bytes[i]);
        out += cell;
    }
    if (bytes.size() > most)
        out += " ... (" + std::to_string(bytes.size()) + " bytes)";
    return out.empty() ? "(nothing)" : out;
}
} // namespace

bool ReadWireLog(const std::string& path, std::vector<WireEvent>* events, std::string* why,
                 std::string* note) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *why = "cannot read " + path;
        return false;
    }
    const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    long form = 0;
    long long first = -1;
    int number = 0;
    size_t at = 0;
    while (at < all.size()) {
        size_t end = all.find('\n', at);
        const bool complete = end != std::string::npos;
        if (!complete)
            end = all.size();
        std::string text = all.substr(at, end - at);
        at = end + 1;
        ++number;
        // A log mailed or saved on Windows ends its lines with CR LF.
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        const auto cut = [&] {
            *why = path + " is truncated at line " + std::to_string(number);
            return false;
        };
        const auto bad = [&](const std::string& what) {
            *why = path + ", line " + std::to_string(number) + ": " + what;
            return false;
        };
        Cursor formLine(text);
        std::string formText;
        if (form == 0 && events->empty() && formLine.take("log form: ") &&
            formLine.digits(&formText) && formLine.done()) {
            if (!parseNumber(formText, 0, 1000000, &form) || form < OldestForm ||
                form > NewestForm) {
                *why = path + " is of an unsupported log form " + formText;
                return false;
            }
            continue;
        }
        // The log stopped at its size limit: what came after is not in it.
        if (limitLine(text)) {
            if (note)
                *note = path + " ends at its size limit (line " + std::to_string(number) +
                        "): the rest of that run was not recorded, and the replay ends there";
            break;
        }
        std::string time;
        std::string message;
        long long ms = 0;
        if (!wireLine(text, &time, &message) || !parseTime(time, &ms)) {
            // The last line, cut before its wire text was whole.
            if (!complete && text.find("tembra.wire") != std::string::npos)
                return cut();
            continue;
        }
        if (form == 0) {
            *why = path + " has no \"log form:\" line before its first wire line (line " +
                   std::to_string(number) + "): not a whole log of the tool";
            return false;
        }
        if (!complete)
            return cut();
        if (first < 0)
            first = ms;
        WireEvent event{WireEvent::Sent, std::chrono::milliseconds(ms - first), {}, 0, number};
        std::string a;
        std::string b;
        std::string c;
        Cursor packet(message);
        Cursor run(message);
        Cursor data(message);
        Cursor port(message);
        if (form >= 2 && packet.take("sent, id 36: packet ") && packet.digits(&a) &&
            packet.take(", seq ") && packet.digits(&b) && packet.take(", crc ") &&
            packet.hexDigits(4, &c) && packet.done()) {
            long seq = 0;
            if (!parseNumber(a, 1, 0x7fffffffL, &event.first) || !parseNumber(b, 0, 255, &seq))
                return bad("a packet number out of range");
            event.kind = WireEvent::Packet;
            event.order = 36;
            event.seq = static_cast<int>(seq);
            event.crc = static_cast<uint32_t>(std::stoul(c, nullptr, 16));
        } else if (form >= 2 && run.take("packets, id 36: ") && run.digits(&a) && run.take("-") &&
                   run.digits(&b) && run.take(" acknowledged, crc sum ") && run.digits(&c) &&
                   run.done()) {
            long sum = 0;
            if (!parseNumber(a, 1, 0x7fffffffL, &event.first) ||
                !parseNumber(b, event.first, 0x7fffffffL, &event.last) ||
                !parseNumber(c, 0, 0xffffffffL, &sum))
                return bad("a run of packets out of range");
            event.kind = WireEvent::Packets;
            event.order = 36;
            event.crc = static_cast<uint32_t>(sum);
        } else if (dataLine(&data, &event.kind, &a)) {
            long order = 0;
            if (!parseNumber(a, -0x7fffffffL, 0x7fffffffL, &order))
                return bad("a command id out of range (" + a + ")");
            event.order = static_cast<int>(order);
            if (!parseHex(data.rest(), &event.bytes))
                return bad("bytes that are not two hex digits each");
        } else if (port.take("port ")) {
            if (port.take("opened: "))
                event.kind = WireEvent::Opened;
            else if (port.take("closed: "))
                event.kind = WireEvent::Closed;
            else if (port.take("lost: "))
                event.kind = WireEvent::Lost;
            else if (port.take("found: "))
                event.kind = WireEvent::Found;
            else
                continue;
        } else {
            continue;
        }
        events->push_back(event);
    }
    if (events->empty()) {
        *why =
            path + " holds no wire lines (tembra.wire): not a log of the tool, or of an old form";
        return false;
    }
    return true;
}

Replay::Replay(std::vector<WireEvent> events, std::string logPath,
               std::function<void(const std::string&)> onPort, std::vector<uint8_t> image)
    : events(std::move(events)), logPath(std::move(logPath)), onPort(std::move(onPort)),
      image(std::move(image)) {}

Replay::~Replay() {
    unplug();
}

bool Replay::plug() {
    if (master >= 0)
        return true;
    char name[256] = {0};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return false;
    }
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    pending.clear();
    onPort(name);
    return true;
}

void Replay::unplug() {
    if (master < 0)
        return;
    onPort(std::string());
    ::close(master);
    ::close(slave);
    master = -1;
    slave = -1;
}

// Waits until the tool has read what was sent, at most the longest delay:
// the reply reaches the tool's side of the terminal a moment after it was
// written (on a busy machine, later), and is read once that queue is empty.
void Replay::waitUntilRead() {
    const auto limit = Clock::now() + MaxDelay;
    const auto arriveBy = Clock::now() + kArriveWait;
    bool arrived = false;
    int queued = 0;
    while (slave >= 0 && Clock::now() < limit && ioctl(slave, TIOCINQ, &queued) == 0) {
        if (queued > 0)
            arrived = true;
        else if (arrived || Clock::now() > arriveBy)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::this_thread::sleep_for(kReadGrace);
}

void Replay::send(const std::vector<uint8_t>& bytes) {
    size_t written = 0;
    while (master >= 0 && written < bytes.size()) {
        const ssize_t n = ::write(master, bytes.data() + written, bytes.size() - written);
        if (n > 0) {
            written += static_cast<size_t>(n);
            continue;
        }
        pollfd pfd{master, POLLOUT, 0};
        ::poll(&pfd, 1, kPollMs);
    }
}

bool Replay::take(size_t count, std::vector<uint8_t>* got, const std::function<bool()>& running) {
    const auto limit = Clock::now() + WriteWait;
    while (pending.size() < count && Clock::now() < limit && running()) {
        if (master < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
            continue;
        }
        pollfd pfd{master, POLLIN, 0};
        if (::poll(&pfd, 1, kPollMs) <= 0 || !(pfd.revents & POLLIN))
            continue;
        uint8_t chunk[4096];
        const ssize_t n = ::read(master, chunk, sizeof(chunk));
        if (n > 0)
            pending.insert(pending.end(), chunk, chunk + n);
    }
    const size_t n = std::min(pending.size(), count);
    got->assign(pending.begin(), pending.begin() + static_cast<long>(n));
    pending.erase(pending.begin(), pending.begin() + static_cast<long>(n));
    return n == count;
}

void Replay::differs(int number, const WireEvent& event, const std::string& expected,
                     const std::string& received) const {
    std::fprintf(stderr,
                 "replay: write %d of the tool differs from the log (%s, line %d, command id %d)\n"
                 "  expected: %s\n  received: %s\n",
                 number, logPath.c_str(), event.line, event.order, expected.c_str(),
                 received.c_str());
}

// Reads the tool's next write and compares it with the recorded one.
bool Replay::expect(const WireEvent& event, int number, const std::function<bool()>& running) {
    std::vector<uint8_t> got;
    if (take(event.bytes.size(), &got, running) && got == event.bytes)
        return true;
    differs(number, event, hex(event.bytes), hex(got));
    return false;
}

// An XModem-CRC packet: 01, seq, 255 - seq, 128 data bytes, CRC-16 high byte first.
std::string Replay::checkPacket(const std::vector<uint8_t>& got, long index, int seq,
                                long crc) const {
    const size_t block = 128;
    if (got.size() != block + 5 || got[0] != 0x01)
        return "not a packet: " + hex(got);
    const uint16_t carried = static_cast<uint16_t>((got[131] << 8) | got[132]);
    char text[160];
    if (got[1] != seq || got[2] != static_cast<uint8_t>(255 - seq)) {
        std::snprintf(text, sizeof(text), "packet %ld with seq %d/%d, not %d", index, got[1],
                      got[2], seq);
        return text;
    }
    if (SimDevice::crc16(got.data() + 3, block) != carried)
        return "packet " + std::to_string(index) + " whose CRC does not match its data";
    if (crc >= 0 && carried != crc) {
        std::snprintf(text, sizeof(text), "packet %ld with crc %04x, not %04lx", index, carried,
                      crc);
        return text;
    }
    if (image.empty())
        return std::string();
    std::vector<uint8_t> data(block, 0x1A);
    const size_t from = static_cast<size_t>(index - 1) * block;
    for (size_t i = 0; i < block && from + i < image.size(); ++i)
        data[i] = image[from + i];
    if (from >= image.size() || !std::equal(data.begin(), data.end(), got.begin() + 3))
        return "packet " + std::to_string(index) + " whose data is not that of the image handed";
    return std::string();
}

// A run of packets, each acknowledged; their CRCs add up to the recorded sum.
bool Replay::expectPackets(const WireEvent& event, int* writes,
                           const std::function<bool()>& running) {
    uint32_t sum = 0;
    for (long index = event.first; index <= event.last; ++index) {
        ++*writes;
        std::vector<uint8_t> got;
        // The tool numbers its packets 1 to 255 and then from 1 again.
        const int seq = static_cast<int>((index - 1) % 255 + 1);
        const std::string wrong =
            take(133, &got, running) ? checkPacket(got, index, seq, -1) : "only " + hex(got);
        if (!wrong.empty()) {
            differs(*writes, event, "packet " + std::to_string(index), wrong);
            return false;
        }
        sum += static_cast<uint16_t>((got[131] << 8) | got[132]);
        send({0x06});
    }
    if (sum == event.crc)
        return true;
    differs(*writes, event, "packets whose CRCs add up to " + std::to_string(event.crc),
            "packets whose CRCs add up to " + std::to_string(sum));
    return false;
}

bool Replay::Run(const std::function<bool()>& running) {
    if (!plug())
        return false;
    auto last = std::chrono::milliseconds(0);
    int writes = 0;
    bool gone = false;
    for (const WireEvent& event : events) {
        if (!running())
            return true;
        const auto delay =
            std::min(std::max(event.time - last, std::chrono::milliseconds(0)), MaxDelay);
        last = event.time;
        switch (event.kind) {
        case WireEvent::Sent:
            if (!expect(event, ++writes, running))
                return false;
            break;
        case WireEvent::Packet: {
            std::vector<uint8_t> got;
            ++writes;
            const std::string wrong = take(133, &got, running)
                                          ? checkPacket(got, event.first, event.seq, event.crc)
                                          : "only " + hex(got);
            if (!wrong.empty()) {
                char expected[96];
                std::snprintf(expected, sizeof(expected), "packet %ld, seq %d, crc %04x",
                              event.first, event.seq, event.crc);
                differs(writes, event, expected, wrong);
                return false;
            }
            break;
        }
        case WireEvent::Packets:
            if (!expectPackets(event, &writes, running))
                return false;
            break;
        case WireEvent::Received:
            std::this_thread::sleep_for(delay);
            send(event.bytes);
            break;
        case WireEvent::Closed:
        case WireEvent::Lost:
            // The device restarts, or is pulled out: gone once the tool has
            // read its last reply.
            if (gone)
                break;
            waitUntilRead();
            std::this_thread::sleep_for(delay);
            unplug();
            gone = true;
            break;
        case WireEvent::Found:
        case WireEvent::Opened:
            if (!gone)
                break;
            std::this_thread::sleep_for(delay);
            if (!plug())
                return false;
            gone = false;
            break;
        }
    }
    std::printf("replay: end of the log after %d writes of the tool\n", writes);
    std::fflush(stdout);
    return true;
}

} // namespace sim
