#include "sim/replay.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <regex>
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

std::vector<uint8_t> parseHex(const std::string& text) {
    std::vector<uint8_t> bytes;
    std::istringstream in(text);
    unsigned value = 0;
    while (in >> std::hex >> value)
        bytes.push_back(static_cast<uint8_t>(value));
    return bytes;
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

bool ReadWireLog(const std::string& path, std::vector<WireEvent>* events, std::string* why) {
    std::ifstream in(path);
    if (!in) {
        *why = "cannot read " + path;
        return false;
    }
    static const std::regex line(
        R"(^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) tembra\.wire debug: (.*)$)");
    static const std::regex data(R"(^(sent|received), id (-?\d+): ?([0-9a-f ]*)$)");
    static const std::regex port(R"(^port (opened|closed|lost|found): .*$)");
    std::string text;
    long long first = -1;
    int number = 0;
    while (std::getline(in, text)) {
        ++number;
        std::smatch m;
        long long ms = 0;
        if (!std::regex_match(text, m, line) || !parseTime(m[1], &ms))
            continue;
        if (first < 0)
            first = ms;
        WireEvent event{WireEvent::Sent, std::chrono::milliseconds(ms - first), {}, 0, number};
        const std::string message = m[2];
        std::smatch d;
        if (std::regex_match(message, d, data)) {
            event.kind = d[1] == "sent" ? WireEvent::Sent : WireEvent::Received;
            event.order = std::stoi(d[2]);
            event.bytes = parseHex(d[3]);
        } else if (std::regex_match(message, d, port)) {
            const std::string what = d[1];
            event.kind = what == "opened"   ? WireEvent::Opened
                         : what == "closed" ? WireEvent::Closed
                         : what == "lost"   ? WireEvent::Lost
                                            : WireEvent::Found;
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
               std::function<void(const std::string&)> onPort)
    : events(std::move(events)), logPath(std::move(logPath)), onPort(std::move(onPort)) {}

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

// Waits until the tool has read what was sent (the terminal's queue on the
// tool's side is empty), at most the longest delay.
void Replay::waitUntilRead() {
    const auto limit = Clock::now() + MaxDelay;
    int queued = 0;
    while (slave >= 0 && Clock::now() < limit && ioctl(slave, TIOCINQ, &queued) == 0 && queued > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
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

// Reads the tool's next write and compares it with the recorded one.
bool Replay::expect(const WireEvent& event, int number, const std::function<bool()>& running) {
    const auto limit = Clock::now() + WriteWait;
    while (pending.size() < event.bytes.size() && Clock::now() < limit && running()) {
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
    const size_t count = std::min(pending.size(), event.bytes.size());
    const std::vector<uint8_t> got(pending.begin(), pending.begin() + static_cast<long>(count));
    pending.erase(pending.begin(), pending.begin() + static_cast<long>(count));
    if (got == event.bytes)
        return true;
    std::fprintf(stderr,
                 "replay: write %d of the tool differs from the log (%s, line %d, command id %d)\n"
                 "  expected: %s\n  received: %s\n",
                 number, logPath.c_str(), event.line, event.order, hex(event.bytes).c_str(),
                 hex(got).c_str());
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
