#pragma once

#include "app/state/guarded.h"

#include <QByteArray>
#include <QString>
#include <atomic>

// Process-wide application and connection state that needs no widgets. The
// window-related globals (the window itself, the status label, the search
// thread) are declared in app/globals.h.
namespace Globals {

// Port name of the device; "NoDevice" (or empty) means no device port is known.
// Written by the port threads, hence guarded.
extern Guarded<QString> PortName;
// Text shown by the next no-device page; written by the monitor thread too.
extern Guarded<QString> NoDeviceMessage;
// An update is under way; read by the monitor thread.
extern std::atomic<bool> IsUpdateMode;

// Bytes received since the last command write.
extern QByteArray* ReceivedData;
// Id of the command written last; selects the reply branch.
extern int currentOrder;
extern bool IsNeedResetDevice;

extern QString ProductType;
extern QString DeviceModel;

extern QString AppPath;
extern QString UpdateFilePath;
extern int FileCrc;
extern bool IsNeedGetUpdateFileAgain;
extern int RequestCount;

extern const QString Version;
extern const int PageWidth;
extern const int PageHeight;

// The port-name sentinel for "no device".
extern const QString NoDevicePortName;
// Texts of the no-device page.
extern const QString PlugInMessage;
extern const QString ProcessingMessage;

// True when PortName names a real port (neither "NoDevice" nor empty).
bool HasDevicePort();
// No device port is known any more: PortName becomes "NoDevice" and the
// no-device page asks for the device again.
void ForgetDevicePort();

} // namespace Globals

// Values read from the device.
namespace Device {
extern QString DeviceInfo;
extern QString VersionInfo;
extern QString WatchId;
extern QString InitStatus;
} // namespace Device
