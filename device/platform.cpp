#include "device/platform.h"

#include <QSerialPort>
#include <QSysInfo>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <sys/ioctl.h>
#endif

namespace Platform {
namespace {
std::optional<bool> windows10Override;
}

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
} // namespace Platform
