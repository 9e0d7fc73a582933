#pragma once

#include "device/deviceidentity.h"

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
// The port given on the command line: listed, as a device's port, while it
// exists; once its device is followed, the system's ports are listed after
// it, so that the device is found under any other name. "" for none.
void SetGivenPort(const QString& path);

// The device the port threads follow once it has been chosen: from then on
// its port is one that may be that device by Identity::Judge (its place on
// the bus, or one of its serial numbers), whatever its name and description,
// and not one found to be another unit. Only a device with a USB device
// behind it is followed; a pseudo-terminal or a plain serial port keeps the
// rule below.
void Follow(const KnownDevice& device);
void StopFollowing();
// Whether a device is followed, and which.
bool Following(KnownDevice* device = nullptr);
// A port found to be another unit: not taken for the device while its node
// stays as it was made (until that unit is unplugged).
void Exclude(const DeviceIdentity& port);
// The identity of a listed port (resolved again only when its node changed).
DeviceIdentity IdentityOf(const PortEntry& port);

// The device's port: the followed device's; otherwise the first whose
// description contains "USB CDC", or else "velmorix", in any letter case.
// Returns false when none matches.
bool FindDevicePort(const QList<PortEntry>& ports, QString* name);
// A port's name as a path: a name the system lists below /dev ("ttyACM0")
// becomes "/dev/ttyACM0"; a path stays as it is.
QString SystemPath(const QString& name);
// Every device port of the list, in its order, as paths.
QStringList DevicePortPaths(const QList<PortEntry>& ports);
// Every port of the list whose description is a device's ("USB CDC",
// "velmorix"), followed or not, as paths: the devices plugged in.
QStringList DescribedDevicePorts(const QList<PortEntry>& ports);
// The devices plugged in, as the monitor saw them on its last pass: read by
// the window without listing the ports itself.
void NotePlugged(const QStringList& ports);
QStringList Plugged();
} // namespace PortList
