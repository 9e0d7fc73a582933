#include "device/platform.h"

#include <QSysInfo>

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
} // namespace Platform
