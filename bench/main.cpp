// Measures the firmware transfer of a 256 KiB image:
//  1. against the simulated boot loader with 115200-baud 8N1 line timing: the
//     ideal line time of the bytes exchanged divided by the measured time from
//     "u" to the acknowledgement of EOT;
//  2. without line timing: packets per second, beside lrzsz sx sending a file
//     of the same size to rx over a pseudo-terminal pair.
#include "app/mainwindow.h"
#include "device/xmodemdal.h"
#include "sim/firmwareimage.h"
#include "sim/simdevice.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {
using Clock = std::chrono::steady_clock;
const size_t kImageSize = 256 * 1024;
const double kByteSeconds = 10.0 / 115200.0;
const int kLimitMs = 300000;

struct Run {
    bool ok = false;
    double seconds = 0;
    int packets = 0;
    std::vector<double> gaps; // time between packets as the device saw them, in seconds
};

Clock::time_point eventTime(const sim::SimDevice& device, const std::string& what) {
    Clock::time_point when;
    return device.firstEvent(what, &when) ? when : Clock::time_point();
}

// One transfer by the tool's own reply handler, from "u" to the ACK of EOT.
Run toolTransfer(MainWindow& window, const QString& path, bool lineTiming) {
    sim::DeviceConfig config;
    config.startMode = sim::Mode::BootLoader;
    config.lineTiming = lineTiming;
    sim::SimDevice device(config);
    device.plug();
    Run run;
    if (!window.OpenComPort(QString::fromStdString(device.portPath())))
        return run;
    Globals::UpdateFilePath = path;
    XModemDAL::FileData.clear();
    XModemDAL::StartTransfer();

    QElapsedTimer limit;
    limit.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (eventTime(device, "ack-eot") != Clock::time_point() || limit.elapsed() > kLimitMs)
            QCoreApplication::quit();
    });
    poll.start(250);
    QCoreApplication::exec();
    window.CloseComPort();

    const auto start = eventTime(device, "u");
    const auto end = eventTime(device, "ack-eot");
    if (start == Clock::time_point() || end == Clock::time_point())
        return run;
    run.ok = device.receivedImage().size() == ((kImageSize + 127) / 128) * 128;
    run.seconds = std::chrono::duration<double>(end - start).count();
    run.packets = XModemDAL::PacketCount;
    Clock::time_point previous;
    for (const auto& e : device.events()) {
        if (e.what != "packet")
            continue;
        if (previous != Clock::time_point())
            run.gaps.push_back(std::chrono::duration<double>(e.when - previous).count());
        previous = e.when;
    }
    std::sort(run.gaps.begin(), run.gaps.end());
    return run;
}

pid_t spawn(const char* program, const std::vector<const char*>& args, int fd,
            const char* workDir = nullptr) {
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    // rx writes only below its working directory.
    if (workDir && chdir(workDir) != 0)
        _exit(126);
    dup2(fd, 0);
    dup2(fd, 1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program));
    for (const char* a : args)
        argv.push_back(const_cast<char*>(a));
    argv.push_back(nullptr);
    execvp(program, argv.data());
    _exit(127);
}

// lrzsz sx sending the same file to rx over a pseudo-terminal pair.
Run lrzszTransfer(const QString& path, const QString& outDir) {
    Run run;
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        return run;
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    const QByteArray file = path.toLocal8Bit();
    const QByteArray workDir = outDir.toLocal8Bit();
    const auto start = Clock::now();
    const pid_t receiver =
        spawn("rx", {"-c", "-q", "-b", "received.bin"}, slave, workDir.constData());
    const pid_t sender = spawn("sx", {"-q", "-b", file.constData()}, master);
    int senderStatus = 0;
    int receiverStatus = 0;
    waitpid(sender, &senderStatus, 0);
    waitpid(receiver, &receiverStatus, 0);
    const auto end = Clock::now();
    close(master);
    close(slave);
    run.ok = WIFEXITED(senderStatus) && WEXITSTATUS(senderStatus) == 0 &&
             WIFEXITED(receiverStatus) && WEXITSTATUS(receiverStatus) == 0;
    run.seconds = std::chrono::duration<double>(end - start).count();
    run.packets = static_cast<int>((kImageSize + 127) / 128);
    QFile received(outDir + "/received.bin");
    run.ok = run.ok && received.size() == static_cast<qint64>(kImageSize);
    return run;
}

void print(const char* text) {
    std::printf("%s\n", text);
    std::fflush(stdout);
}
} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "tembra.*.debug=false");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath("firmware.bin");
    {
        const auto image = sim::makeFirmwareImage(kImageSize, 1, 3, 0);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        f.write(reinterpret_cast<const char*>(image.data()), static_cast<qint64>(image.size()));
    }

    MainWindow window(nullptr);
    window.StopPortThreads();
    char line[256];

    const Run timed = toolTransfer(window, path, true);
    if (!timed.ok) {
        print("line-timed transfer failed");
        return 1;
    }
    const double idealBytes =
        1 + timed.packets * (133.0 + 1.0) + 1 + 1; // C, packets+ACKs, EOT, ACK
    const double ideal = idealBytes * kByteSeconds;
    const double efficiency = 100.0 * ideal / timed.seconds;
    std::snprintf(line, sizeof(line), "line-timed: %d packets, ideal %.3f s, measured %.3f s",
                  timed.packets, ideal, timed.seconds);
    print(line);
    if (!timed.gaps.empty()) {
        const double packetLine = 134 * kByteSeconds;
        const auto at = [&](double q) {
            return 1e6 *
                   (timed.gaps[static_cast<size_t>(q * (timed.gaps.size() - 1))] - packetLine);
        };
        std::snprintf(line, sizeof(line),
                      "time per packet beyond the line: median %.0f us, 90th %.0f us, 99th %.0f us",
                      at(0.5), at(0.9), at(0.99));
        print(line);
    }

    const Run fast = toolTransfer(window, path, false);
    if (!fast.ok) {
        print("untimed transfer failed");
        return 1;
    }
    const double toolRate = fast.packets / fast.seconds;
    std::snprintf(line, sizeof(line),
                  "tool without line timing: %d packets in %.3f s, %.0f packets/s", fast.packets,
                  fast.seconds, toolRate);
    print(line);

    // lrzsz gives up now and then on a busy machine; take the first of three
    // tries that gets the whole file across.
    Run reference;
    for (int attempt = 0; attempt < 3 && !reference.ok; ++attempt) {
        QFile::remove(dir.filePath("received.bin"));
        reference = lrzszTransfer(path, dir.path());
    }
    if (!reference.ok) {
        print("lrzsz transfer failed (is lrzsz installed?)");
        return 1;
    }
    const double referenceRate = reference.packets / reference.seconds;
    std::snprintf(line, sizeof(line), "lrzsz sx -> rx: %d packets in %.3f s, %.0f packets/s",
                  reference.packets, reference.seconds, referenceRate);
    print(line);

    std::snprintf(line, sizeof(line), "line-rate efficiency: %.1f %%", efficiency);
    print(line);
    std::snprintf(line, sizeof(line), "packets/s ratio to lrzsz: %.2f", toolRate / referenceRate);
    print(line);
    return 0;
}
