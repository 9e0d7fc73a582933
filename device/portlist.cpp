#include "device/portlist.h"

#include "device/portscan.h"

#include <QElapsedTimer>
#include <QSerialPortInfo>
#include <mutex>

namespace PortList {
namespace {
const QString kCdcMarker = QStringLiteral("USB CDC");
const QString kMakerMarker = QStringLiteral("velmorix");

std::mutex providerMutex;
Provider installed;

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
    {
        std::lock_guard<std::mutex> lock(providerMutex);
        provider = installed;
    }
    return provider ? provider() : systemPorts();
}

void SetProvider(Provider provider) {
    std::lock_guard<std::mutex> lock(providerMutex);
    installed = std::move(provider);
}

void ResetProvider() {
    SetProvider(Provider());
}

bool FindDevicePort(const QList<PortEntry>& ports, QString* name) {
    for (const PortEntry& port : ports) {
        if (port.description.contains(kCdcMarker, Qt::CaseInsensitive) ||
            port.description.contains(kMakerMarker, Qt::CaseInsensitive)) {
            if (name)
                *name = port.name;
            return true;
        }
    }
    return false;
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
