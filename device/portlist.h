#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

// One serial port as the system lists it.
struct PortEntry {
    QString name;        // as QSerialPortInfo::portName() gives it
    QString description; // as QSerialPortInfo::description() gives it
};

// The list of available serial ports that the port threads poll. By default
// the system's list; a test or the demo may install its own. Thread-safe.
namespace PortList {
using Provider = std::function<QList<PortEntry>()>;

QList<PortEntry> Available();
void SetProvider(Provider provider);
void ResetProvider();

// The device's port: the first whose description contains "USB CDC", or else
// "velmorix", in any letter case. Returns false when none matches.
bool FindDevicePort(const QList<PortEntry>& ports, QString* name);
// A port's name as a path: a name the system lists below /dev ("ttyACM0")
// becomes "/dev/ttyACM0"; a path stays as it is.
QString SystemPath(const QString& name);
// Every device port of the list, in its order, as paths.
QStringList DevicePortPaths(const QList<PortEntry>& ports);
} // namespace PortList
