#include "device/portlist.h"

#include <QSerialPortInfo>
#include <mutex>

namespace PortList {
namespace {
const QString kCdcMarker = QStringLiteral("USB CDC");
const QString kMakerMarker = QStringLiteral("velmorix");

std::mutex providerMutex;
Provider installed;

QList<PortEntry> systemPorts() {
    QList<PortEntry> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        ports.append({info.portName(), info.description()});
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
} // namespace PortList
