#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

// A pseudo-terminal standing for the device's port: the tool opens the slave
// path with its real serial port code; the test reads and writes the master.
class PtyFixture {
public:
    PtyFixture() {
        char name[256] = {0};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
            return;
        termios tio{};
        tcgetattr(slave, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        path = QString::fromLocal8Bit(name);
    }
    ~PtyFixture() {
        if (master >= 0)
            ::close(master);
        if (slave >= 0)
            ::close(slave);
    }
    PtyFixture(const PtyFixture&) = delete;
    PtyFixture& operator=(const PtyFixture&) = delete;

    bool isValid() const { return master >= 0; }
    QString slavePath() const { return path; }

    // Reads from the master until count bytes arrived or timeoutMs passed,
    // running the event loop meanwhile so the tool's port can write. The
    // bound only limits how long a failing test takes.
    QByteArray read(int count, int timeoutMs = 10000) {
        QByteArray out;
        QElapsedTimer timer;
        timer.start();
        while (out.size() < count && timer.elapsed() < timeoutMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            pollfd pfd{master, POLLIN, 0};
            if (::poll(&pfd, 1, 5) > 0 && (pfd.revents & POLLIN)) {
                char buf[4096];
                const ssize_t n = ::read(master, buf, sizeof(buf));
                if (n > 0)
                    out.append(buf, static_cast<int>(n));
            }
        }
        return out;
    }

    // Everything that arrives within timeoutMs.
    QByteArray drain(int timeoutMs = 200) { return read(1 << 30, timeoutMs); }

    bool write(const QByteArray& bytes) {
        return ::write(master, bytes.constData(), static_cast<size_t>(bytes.size())) ==
               bytes.size();
    }

    // The device's end of the line goes, as a restarting device's does.
    void hangUp() {
        if (master >= 0)
            ::close(master);
        master = -1;
    }

private:
    int master = -1;
    int slave = -1;
    QString path;
};
