// Measures the tool's firmware transfer beside other XModem-CRC senders, all on
// one link and with one receiver: the simulated boot loader on a
// pseudo-terminal, once with 115200-baud 8N1 line timing (every byte takes
// 10/115200 s each way) and once without. The senders take turns, run after
// run:
//   the tool: its real main window and reply handler, as in an update;
//   lrzsz sx, where installed;
//   the XModem sender of python3-xmodem, where installed.
// For a sender that waits to be asked, the receiver sends "C" by itself (as rx
// does). Figures per sender, as median and range over the runs:
//   efficiency: the ideal line time of the bytes exchanged over the time from
//     the "C" that started the transfer to the acknowledgement of EOT;
//   packets per second without line timing;
//   turnaround on the line-timed link: from an acknowledgement written to the
//     first byte of the next packet read, at the 50th, 90th and 99th percentile.
#include "app/mainwindow.h"
#include "device/portlist.h"
#include "device/xmodemdal.h"
#include "sim/firmwareimage.h"
#include "sim/simdevice.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;
// 512 full packets: past the sequence wrap, with no padding to tell apart.
const size_t kImageSize = 512 * 128;
// --quick: one line-timed run per sender of this many packets, as a test.
const size_t kQuickImageSize = 128 * 128;
const int kDefaultRuns = 5;
// How the receiver's port is listed: as the device's port, which the tool's
// search and its once-a-second listing check take for the device.
const char kReceiverDescription[] = "USB CDC (simulated boot loader)";
const double kByteSeconds = 10.0 / 115200.0;
const int kPacketLineBytes = 133 + 1; // a packet and its acknowledgement
const auto kPeerSettle = std::chrono::milliseconds(150);
const int kReadyCEveryMs = 1000;
const auto kPollStep = std::chrono::milliseconds(2);
const int kCheckMs = 50;
const char kPythonSender[] = TEMBRA_BENCH_DIR "/xmodem-send.py";

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

struct Run {
    bool done = false;   // the acknowledgement of EOT came
    bool intact = false; // and the receiver holds the file as sent
    int packets = 0;     // packets acknowledged
    double seconds = 0;  // from the starting "C" to the end (or the give-up)
    std::vector<double> turnaroundsUs;
    // The tool's turnaround in two: from the acknowledgement written to the
    // tool's port noticing it, and from there to the next packet read.
    std::vector<double> wakeUs;
    std::vector<double> handleUs;
};

// Notes when the tool's port is told that bytes have come: the moment its
// event loop hands the readable port to the serial port code.
class NoticeRecorder : public QObject {
public:
    std::vector<Clock::time_point> times;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::SockAct)
            times.push_back(Clock::now());
        return QObject::eventFilter(watched, event);
    }
};

// Splits each turnaround at the notice that follows its acknowledgement.
void splitTurnarounds(const sim::SimDevice& device, const std::vector<Clock::time_point>& notices,
                      Run* run) {
    Clock::time_point ack{};
    size_t next = 0;
    for (const auto& e : device.events()) {
        if (e.what == "ack") {
            ack = e.when;
            continue;
        }
        if (e.what != "packet-in" || ack == Clock::time_point())
            continue;
        while (next < notices.size() && notices[next] < ack)
            ++next;
        if (next < notices.size() && notices[next] <= e.when) {
            run->wakeUs.push_back(1e6 * seconds(notices[next] - ack));
            run->handleUs.push_back(1e6 * seconds(e.when - notices[next]));
        }
        ack = Clock::time_point();
    }
}

// Reads a run from what the receiver saw.
Run analyse(const sim::SimDevice& device, const std::vector<uint8_t>& image,
            Clock::time_point gaveUp) {
    Run run;
    const std::vector<sim::Event> events = device.events();
    Clock::time_point firstPacket{};
    for (const auto& e : events) {
        if (e.what == "packet-in") {
            firstPacket = e.when;
            break;
        }
    }
    // The "C" that started the transfer: the last before its first packet
    // (or, when no packet came, the first "C").
    Clock::time_point start{};
    Clock::time_point end = gaveUp;
    Clock::time_point lastAck{};
    for (const auto& e : events) {
        const bool beforeFirst = firstPacket == Clock::time_point() ? start == Clock::time_point()
                                                                    : e.when <= firstPacket;
        if (e.what == "C" && beforeFirst)
            start = e.when;
        if (e.what == "ack") {
            ++run.packets;
            lastAck = e.when;
        }
        if (e.what == "packet-in" && lastAck != Clock::time_point()) {
            run.turnaroundsUs.push_back(1e6 * seconds(e.when - lastAck));
            lastAck = Clock::time_point();
        }
        if (e.what == "ack-eot") {
            run.done = true;
            end = e.when;
        }
    }
    if (start == Clock::time_point())
        return run;
    run.seconds = seconds(end - start);
    run.intact = run.done && device.receivedImage() == image;
    return run;
}

// Runs the event loop, as the tool does, until the receiver has acknowledged
// EOT or the deadline has passed; the check comes seldom, so that it hardly
// ever stands between an acknowledgement and the tool.
void waitForEnd(const sim::SimDevice& device, Clock::time_point deadline) {
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (device.firstEvent("ack-eot", nullptr) || Clock::now() >= deadline)
            loop.quit();
    });
    check.start(kCheckMs);
    loop.exec();
}

// The boot loader as a receiver: the transfer ends with the acknowledgement
// of EOT; the checksum the tool asks for next is not answered, so that the
// device's restart never runs into the next run.
sim::DeviceConfig receiverConfig(bool lineTiming) {
    sim::DeviceConfig config;
    config.startMode = sim::Mode::BootLoader;
    config.lineTiming = lineTiming;
    config.ignoreCrcRequests = true;
    return config;
}

Clock::time_point deadlineFor(size_t imageSize, bool lineTiming) {
    const double ideal = double(imageSize / 128) * kPacketLineBytes * kByteSeconds;
    return Clock::now() +
           std::chrono::milliseconds(static_cast<int>(1000 * (lineTiming ? 2 * ideal + 5 : 20)));
}

// The tool: its main window's reply handler sends the file, from "u" on, as
// in a user's update: the receiver's port is listed as the device's port and
// named as the one the tool found, and the transfer starts where the tool
// starts it once it has found the boot loader again.
Run toolRun(MainWindow& window, const QString& path, const std::vector<uint8_t>& image,
            bool lineTiming) {
    sim::DeviceConfig config = receiverConfig(lineTiming);
    sim::SimDevice device(config);
    device.plug();
    const QString port = QString::fromStdString(device.portPath());
    PortList::SetProvider([port] { return QList<PortEntry>{{port, kReceiverDescription}}; });
    Globals::PortName = port;
    Globals::UpdateFilePath = path;
    XModemDAL::FileData.clear();
    Globals::FileCrc = XModemDAL::FileChecksum(
        QByteArray(reinterpret_cast<const char*>(image.data()), int(image.size())));
    Globals::currentOrder = XModemDAL::IdStartOrder;
    window.OpenComPortForUpdate();
    if (!window.port() || !window.port()->isOpen()) {
        PortList::ResetProvider();
        return Run();
    }
    NoticeRecorder notices;
    for (QSocketNotifier* n : window.port()->findChildren<QSocketNotifier*>()) {
        if (n->type() == QSocketNotifier::Read)
            n->installEventFilter(&notices);
    }
    const Clock::time_point deadline = deadlineFor(image.size(), lineTiming);
    waitForEnd(device, deadline);
    window.CloseComPort();
    PortList::ResetProvider();
    Run run = analyse(device, image, std::min(Clock::now(), deadline));
    splitTurnarounds(device, notices.times, &run);
    return run;
}

// A sender in a process of its own, on the receiver's terminal.
Run peerRun(const std::vector<std::string>& command, const std::vector<uint8_t>& image,
            bool lineTiming) {
    sim::DeviceConfig config = receiverConfig(lineTiming);
    sim::SimDevice device(config);
    device.plug();
    const std::string port = device.portPath();
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(port.c_str(), O_RDWR | O_NOCTTY);
        const int null = open("/dev/null", O_WRONLY);
        if (fd < 0)
            _exit(126);
        dup2(fd, 0);
        dup2(fd, 1);
        dup2(null, 2);
        std::vector<char*> argv;
        for (const std::string& a : command)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    // The sender sets its terminal up, then the receiver asks for the file.
    std::this_thread::sleep_for(kPeerSettle);
    config.readyCEveryMs = kReadyCEveryMs;
    device.configure(config);
    const Clock::time_point deadline = deadlineFor(image.size(), lineTiming);
    waitForEnd(device, deadline);
    const Clock::time_point end = std::min(Clock::now(), deadline);
    // Let the sender finish by itself a moment, then end it.
    const Clock::time_point exitBy = Clock::now() + std::chrono::seconds(2);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > exitBy) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(kPollStep);
    }
    return analyse(device, image, end);
}

struct Sender {
    std::string name;
    std::function<Run(bool lineTiming)> run;
    std::vector<Run> paced{};
    std::vector<Run> unpaced{};
};

double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double percentile(std::vector<double> v, double q) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(q * (v.size() - 1) + 0.5)];
}

// "median [lowest .. highest]" with the given number of decimals.
std::string spread(const std::vector<double>& v, int decimals) {
    if (v.empty())
        return "-";
    char text[128];
    const auto [low, high] = std::minmax_element(v.begin(), v.end());
    std::snprintf(text, sizeof(text), "%.*f [%.*f .. %.*f]", decimals, median(v), decimals, *low,
                  decimals, *high);
    return text;
}

double efficiency(const Run& r) {
    const double ideal = (1 + r.packets * kPacketLineBytes + 2) * kByteSeconds;
    return r.seconds > 0 ? 100.0 * ideal / r.seconds : 0;
}

double packetsPerSecond(const Run& r) {
    return r.seconds > 0 ? r.packets / r.seconds : 0;
}

void print(const std::string& text) {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

bool installed(const char* program) {
    return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

bool pythonSenderAvailable() {
    return std::system("/usr/bin/python3 -c 'import xmodem' >/dev/null 2>&1") == 0;
}

// Whether every run of a kind got the whole file across; a run that did not
// is reported as stalled, with the figure it had reached.
std::string outcome(const std::vector<Run>& runs) {
    int stalled = 0;
    for (const Run& r : runs)
        stalled += r.intact ? 0 : 1;
    return stalled ? " (" + std::to_string(stalled) + " stalled, partial figures)" : "";
}
} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "tembra.*.debug=false");
    QApplication app(argc, argv);

    // --runs N: runs per sender; --tool-only: no peers; --quick: one
    // line-timed run per sender of a short image, which only has to arrive
    // whole (a test of the senders, not a measurement).
    int runs = kDefaultRuns;
    bool toolOnly = false;
    bool quick = false;
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--runs" && i + 1 < args.size())
            runs = std::max(1, args[++i].toInt());
        else if (args[i] == "--tool-only")
            toolOnly = true;
        else if (args[i] == "--quick")
            quick = true;
    }
    if (quick)
        runs = 1;
    const size_t imageSize = quick ? kQuickImageSize : kImageSize;

    QTemporaryDir dir;
    const QString path = dir.filePath("firmware.bin");
    const std::vector<uint8_t> image = sim::makeFirmwareImage(imageSize, 1, 3, 0);
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        f.write(reinterpret_cast<const char*>(image.data()), static_cast<qint64>(image.size()));
    }
    const std::string file = path.toStdString();

    // The benchmark's transfers go into a history of their own, not the user's.
    qputenv("XDG_STATE_HOME", QFile::encodeName(dir.filePath(QStringLiteral("state"))));
    MainWindow window(nullptr);
    window.StopPortThreads();

    std::vector<Sender> senders;
    senders.push_back({"tool", [&](bool timed) { return toolRun(window, path, image, timed); }});
    if (toolOnly)
        ;
    else if (installed("sx"))
        senders.push_back({"lrzsz sx", [&](bool timed) {
                               return peerRun({"sx", "-q", "-b", file}, image, timed);
                           }});
    else
        print("lrzsz sx: not installed");
    if (toolOnly)
        ;
    else if (pythonSenderAvailable())
        senders.push_back(
            {"python3-xmodem", [&](bool timed) {
                 return peerRun({"/usr/bin/python3", kPythonSender, file}, image, timed);
             }});
    else
        print("python3-xmodem: not installed");

    const QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    print("each sender: " + std::to_string(runs) + " runs of " + std::to_string(imageSize / 128) +
          (quick ? " packets, line-timed" : " packets, line-timed and unpaced, taking turns"));
    for (int r = 0; r < runs; ++r) {
        for (Sender& s : senders) {
            s.paced.push_back(s.run(true));
            if (!quick)
                s.unpaced.push_back(s.run(false));
        }
    }
    // A sender that stalled or delivered another image fails the benchmark.
    int broken = 0;
    for (const Sender& s : senders) {
        for (const std::vector<Run>* kind : {&s.paced, &s.unpaced}) {
            for (const Run& r : *kind) {
                if (r.intact)
                    continue;
                ++broken;
                print(s.name + ": a run " + (r.done ? "delivered another image" : "stalled") +
                      " after " + std::to_string(r.packets) + " acknowledged packets");
            }
        }
    }
    if (quick) {
        print(broken ? "quick: " + std::to_string(broken) + " run(s) failed"
                     : "quick: every sender delivered the whole image (" +
                           std::to_string(senders.size()) + " senders)");
        return broken ? 1 : 0;
    }

    for (const Sender& s : senders) {
        std::vector<double> eff, pps, p50, p90, p99;
        for (const Run& r : s.paced) {
            eff.push_back(efficiency(r));
            p50.push_back(percentile(r.turnaroundsUs, 0.5));
            p90.push_back(percentile(r.turnaroundsUs, 0.9));
            p99.push_back(percentile(r.turnaroundsUs, 0.99));
        }
        for (const Run& r : s.unpaced)
            pps.push_back(packetsPerSecond(r));
        print(s.name + ":");
        print("  line-rate efficiency %:      " + spread(eff, 1) + outcome(s.paced));
        print("  packets/s, unpaced:          " + spread(pps, 0) + outcome(s.unpaced));
        print("  turnaround us, 50th:         " + spread(p50, 0));
        print("  turnaround us, 90th:         " + spread(p90, 0));
        print("  turnaround us, 99th:         " + spread(p99, 0));
        std::vector<double> wake, handle;
        for (const Run& r : s.paced) {
            wake.push_back(percentile(r.wakeUs, 0.5));
            handle.push_back(percentile(r.handleUs, 0.5));
        }
        if (!s.paced.empty() && !s.paced.front().wakeUs.empty()) {
            print("    of which, 50th: acknowledgement to port notified " + spread(wake, 0) +
                  " us,");
            print("    port notified to next packet read by the receiver " + spread(handle, 0) +
                  " us");
        }
    }
    char line[160];
    std::snprintf(line, sizeof(line), "benchmark took %.0f s", clock.elapsed() / 1000.0);
    print(line);

    const auto medianOf = [](const std::vector<Run>& runs, double (*figure)(const Run&)) {
        std::vector<double> v;
        for (const Run& r : runs)
            v.push_back(figure(r));
        return median(v);
    };
    const Sender& tool = senders.front();
    const double toolEfficiency = medianOf(tool.paced, efficiency);
    const double toolRate = medianOf(tool.unpaced, packetsPerSecond);
    double bestEfficiency = 0;
    double bestRate = 0;
    for (size_t i = 1; i < senders.size(); ++i) {
        bestEfficiency = std::max(bestEfficiency, medianOf(senders[i].paced, efficiency));
        bestRate = std::max(bestRate, medianOf(senders[i].unpaced, packetsPerSecond));
    }
    std::snprintf(line, sizeof(line), "line-rate efficiency: %.1f %%", toolEfficiency);
    print(line);
    if (bestEfficiency > 0)
        std::snprintf(line, sizeof(line), "efficiency ratio to best peer: %.3f",
                      toolEfficiency / bestEfficiency);
    else
        std::snprintf(line, sizeof(line), "efficiency ratio to best peer: n/a (no peer ran)");
    print(line);
    if (bestRate > 0)
        std::snprintf(line, sizeof(line), "packets/s ratio to best peer: %.2f",
                      toolRate / bestRate);
    else
        std::snprintf(line, sizeof(line), "packets/s ratio to best peer: n/a (no peer ran)");
    print(line);
    return broken ? 1 : 0;
}
