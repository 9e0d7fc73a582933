#include "device/portlist.h"

#include "device/portscan.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSerialPortInfo>
#include <mutex>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace PortList {
namespace {
const QString kCdcMarker = QStringLiteral("USB CDC");
const QString kMakerMarker = QStringLiteral("velmorix");

// The description a port given on the command line is listed with: it
// matches the device rule, so the usual search takes it.
const QString kGivenPortDescription = QStringLiteral("USB CDC (given with --port)");

bool describedAsDevice(const PortEntry& port) {
    return port.description.contains(kCdcMarker, Qt::CaseInsensitive) ||
           port.description.contains(kMakerMarker, Qt::CaseInsensitive);
}

std::mutex providerMutex;
Provider installed;
QString givenPort;

std::mutex followMutex;
bool following = false;
KnownDevice followed;
// Ports found to be other units, by their node as it was made.
QStringList excluded;

// What each listed name was resolved to, and the node it was resolved from.
struct Resolved {
    QByteArray node;
    DeviceIdentity identity;
};
std::mutex identityMutex;
QHash<QString, Resolved> identities;

// The device node behind a path, as it is now: its number, inode and times.
QByteArray nodeSignature(const QString& path) {
#ifdef Q_OS_UNIX
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return QByteArray();
    return QByteArray::number(quint64(st.st_rdev)) + ',' + QByteArray::number(quint64(st.st_ino)) +
           ',' + QByteArray::number(qint64(st.st_ctim.tv_sec)) + '.' +
           QByteArray::number(qint64(st.st_ctim.tv_nsec));
#else
    return QFile::encodeName(path);
#endif
}

// The system's list, made anew only when the tty devices changed (or now and
// then): the port threads poll it several times a second for the life of the
// tool. TEMBRA_FULL_PORT_LISTING=1 lists in full on every pass instead, for
// the idle benchmark's comparison only.
std::mutex listingMutex;
QList<PortEntry> lastListing;

QList<PortEntry> systemPorts() {
    static const bool everyPass = qEnvironmentVariableIntValue("TEMBRA_FULL_PORT_LISTING") == 1;
    static PortScan scan;
    static QElapsedTimer clock;
    std::lock_guard<std::mutex> lock(listingMutex);
    if (!clock.isValid())
        clock.start();
    if (!scan.NeedsListing(clock.elapsed()) && !everyPass)
        return lastListing;
    QList<PortEntry> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        ports.append({info.portName(), info.description()});
    lastListing = ports;
    return ports;
}
} // namespace

QList<PortEntry> Available() {
    Provider provider;
    QString given;
    {
        std::lock_guard<std::mutex> lock(providerMutex);
        provider = installed;
        given = givenPort;
    }
    if (provider)
        return provider();
    if (given.isEmpty())
        return systemPorts();
    QList<PortEntry> ports;
    if (QFileInfo::exists(given))
        ports.append({given, kGivenPortDescription});
    if (Following())
        ports.append(systemPorts());
    return ports;
}

void SetProvider(Provider provider) {
    std::lock_guard<std::mutex> lock(providerMutex);
    installed = std::move(provider);
}

void SetGivenPort(const QString& path) {
    std::lock_guard<std::mutex> lock(providerMutex);
    givenPort = path;
}

void Follow(const KnownDevice& device) {
    std::lock_guard<std::mutex> lock(followMutex);
    const bool same = following && device.port.usbDevice == followed.port.usbDevice;
    following = device.port.isUsb();
    followed = following ? device : KnownDevice();
    if (!same)
        excluded.clear();
}

void StopFollowing() {
    std::lock_guard<std::mutex> lock(followMutex);
    following = false;
    followed = KnownDevice();
    excluded.clear();
}

bool Following(KnownDevice* device) {
    std::lock_guard<std::mutex> lock(followMutex);
    if (device)
        *device = followed;
    return following;
}

void Exclude(const DeviceIdentity& port) {
    if (port.nodeStamp.isEmpty())
        return;
    std::lock_guard<std::mutex> lock(followMutex);
    if (!excluded.contains(port.nodeStamp))
        excluded << port.nodeStamp;
}

DeviceIdentity IdentityOf(const PortEntry& port) {
    const QString path = SystemPath(port.name);
    const QByteArray node = nodeSignature(path);
    {
        std::lock_guard<std::mutex> lock(identityMutex);
        const auto known = identities.constFind(port.name);
        if (known != identities.constEnd() && !node.isEmpty() && known->node == node)
            return known->identity;
    }
    // Outside the lock: resolving reads sysfs.
    const DeviceIdentity identity = Identity::Resolve(path);
    std::lock_guard<std::mutex> lock(identityMutex);
    identities.insert(port.name, {node, identity});
    return identity;
}

void ResetProvider() {
    SetProvider(Provider());
}

bool FindDevicePort(const QList<PortEntry>& ports, QString* name) {
    KnownDevice device;
    QStringList others;
    {
        std::lock_guard<std::mutex> lock(followMutex);
        others = excluded;
        if (following)
            device = followed;
    }
    if (device.isSet()) {
        for (const PortEntry& port : ports) {
            const DeviceIdentity identity = IdentityOf(port);
            if (others.contains(identity.nodeStamp) ||
                !Identity::Judge(device, identity, DeviceMode::Unknown).device)
                continue;
            if (name)
                *name = port.name;
            return true;
        }
        return false;
    }
    for (const PortEntry& port : ports) {
        if (!describedAsDevice(port) ||
            (!others.isEmpty() && others.contains(IdentityOf(port).nodeStamp)))
            continue;
        if (name)
            *name = port.name;
        return true;
    }
    return false;
}

namespace {
std::mutex pluggedMutex;
QStringList plugged;
} // namespace

void NotePlugged(const QStringList& ports) {
    std::lock_guard<std::mutex> lock(pluggedMutex);
    plugged = ports;
}

QStringList Plugged() {
    std::lock_guard<std::mutex> lock(pluggedMutex);
    return plugged;
}

QStringList DescribedDevicePorts(const QList<PortEntry>& ports) {
    QStringList paths;
    for (const PortEntry& port : ports) {
        if (describedAsDevice(port))
            paths << SystemPath(port.name);
    }
    return paths;
}

QString SystemPath(const QString& name) {
    return name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
}

QStringList DevicePortPaths(const QList<PortEntry>& ports) {
    QStringList paths;
    for (const PortEntry& port : ports) {
        if (!FindDevicePort({port}, nullptr))
            continue;
        paths << SystemPath(port.name);
    }
    return paths;
}
} // namespace PortList
