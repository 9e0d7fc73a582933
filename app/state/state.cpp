#include "app/state/state.h"

#include <QCoreApplication>

namespace Globals {

// Defined first so that it exists before every other global of this unit.
QByteArray* ReceivedData = new QByteArray();

const QString NoDevicePortName = QStringLiteral("NoDevice");
// Kept in English; the no-device page shows them translated.
const QString PlugInMessage =
    QString::fromLatin1(QT_TRANSLATE_NOOP("NoDevice", "Please plug in your device"));
const QString ProcessingMessage = QString::fromLatin1(QT_TRANSLATE_NOOP("NoDevice", "Processing"));

Guarded<QString> PortName;
Guarded<QString> NoDeviceMessage{PlugInMessage};
std::atomic<bool> IsUpdateMode{false};

int currentOrder = 0;
bool IsNeedResetDevice = false;

QString ProductType = QStringLiteral("R07");
QString DeviceModel;

QString AppPath;
QString UpdateFilePath;
int FileCrc = 0;
bool IsNeedGetUpdateFileAgain = false;
int RequestCount = 0;

const QString Version = QStringLiteral("1.3.0");
const int PageWidth = 539;
const int PageHeight = 203;

bool HasDevicePort() {
    const QString name = PortName.get();
    return name != NoDevicePortName && !name.isEmpty();
}

void ForgetDevicePort() {
    PortName = NoDevicePortName;
    NoDeviceMessage = PlugInMessage;
}

} // namespace Globals

namespace Device {
QString DeviceInfo;
QString VersionInfo;
QString WatchId;
QString InitStatus;
} // namespace Device
