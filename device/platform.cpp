#include "device/platform.h"

#include <QCoreApplication>
#include <QSerialPort>
#include <QSysInfo>
#include <clocale>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <QFileInfo>
#include <QLockFile>
#include <cerrno>
#include <csignal>
#include <sys/ioctl.h>
#endif

namespace Platform {
namespace {
std::optional<bool> windows10Override;
#ifndef Q_OS_WIN
// Where programs that open serial ports keep their lock files (LCK..name).
const char* const kLockFolders[] = {"/var/lock",        "/run/lock",       "/etc/locks",
                                    "/var/spool/locks", "/var/spool/uucp", "/tmp"};
#endif
} // namespace

bool IsWindows10() {
    if (windows10Override)
        return *windows10Override;
#ifdef Q_OS_WIN
    return QSysInfo::windowsVersion() == QSysInfo::WV_WINDOWS10;
#else
    return false;
#endif
}

void SetWindows10Override(std::optional<bool> value) {
    windows10Override = value;
}

qint64 PendingInput(QSerialPort* port) {
    if (!port || !port->isOpen())
        return 0;
    const auto handle = port->handle();
#ifdef Q_OS_WIN
    COMSTAT status{};
    DWORD errors = 0;
    if (!ClearCommError(handle, &errors, &status))
        return 0;
    return static_cast<qint64>(status.cbInQue);
#else
    int pending = 0;
    if (handle < 0 || ::ioctl(handle, FIONREAD, &pending) != 0)
        return 0;
    return pending;
#endif
}
namespace {
const char* const kBusyText =
    QT_TRANSLATE_NOOP("Platform", "Device or resource busy (in use by %1, process %2)");
const char* const kAnotherProgram = QT_TRANSLATE_NOOP("Platform", "another program");

// Whether the system's and the toolkit's messages come in English: the C
// library's by its messages' locale, the serial port's by whether its
// translation is loaded.
bool messagesInEnglish() {
    const QByteArray messages = ::setlocale(LC_MESSAGES, nullptr);
    const bool system = messages == "C" || messages == "POSIX" || messages.startsWith("C.") ||
                        messages.startsWith("en");
    const char* const sample = "Permission error while locking the device";
    return system && QCoreApplication::translate("QSerialPort", sample) == QLatin1String(sample);
}

// The serial port's reason in English, by the kind of its error.
QString englishReason(const QSerialPort* port) {
    if (messagesInEnglish())
        return port->errorString();
    switch (port->error()) {
    case QSerialPort::DeviceNotFoundError:
        return QStringLiteral("No such file or directory");
    case QSerialPort::PermissionError:
        return QStringLiteral("Permission denied");
    case QSerialPort::OpenError:
        return QStringLiteral("Device or resource busy");
    case QSerialPort::ResourceError:
        return QStringLiteral("Input/output error");
    default:
        return QStringLiteral("serial port error %1").arg(int(port->error()));
    }
}
} // namespace

UserText OpenFailureReason(const QSerialPort* port) {
    if (!port)
        return UserText();
    UserText reason(port->errorString());
    reason.english = englishReason(port);
#ifndef Q_OS_WIN
    if (port->error() != QSerialPort::PermissionError)
        return reason;
    const QString lockName = QStringLiteral("LCK..") + QString(port->portName()).replace('/', '_');
    for (const char* folder : kLockFolders) {
        const QString path = QString::fromLatin1(folder) + QLatin1Char('/') + lockName;
        if (!QFileInfo::exists(path))
            continue;
        qint64 pid = 0;
        QString host;
        QString program;
        if (!QLockFile(path).getLockInfo(&pid, &host, &program) || pid <= 0)
            continue;
        if (::kill(pid_t(pid), 0) != 0 && errno != EPERM)
            continue; // a lock left behind by a program that has ended
        return UserText::Of("Platform", kBusyText)
            .arg(program.isEmpty() ? UserText::Of("Platform", kAnotherProgram) : UserText(program))
            .arg(pid);
    }
#endif
    return reason;
}

} // namespace Platform
