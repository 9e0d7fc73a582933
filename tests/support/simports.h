#pragma once

#include "app/globals.h"
#include "app/state/updateevents.h"
#include "device/portlist.h"
#include "sim/simdevice.h"

#include <QList>
#include <vector>

// Lists simulated devices (and any extra entries) as the system's serial
// ports while it exists; the port threads then find them like real ones.
class SimPorts {
public:
    explicit SimPorts(std::vector<sim::SimDevice*> devices, QList<PortEntry> before = {},
                      QList<PortEntry> after = {}) {
        PortList::SetProvider([devices, before, after] {
            QList<PortEntry> ports = before;
            for (sim::SimDevice* device : devices) {
                if (device->present())
                    ports.append({QString::fromStdString(device->portPath()),
                                  QString::fromStdString(device->description())});
            }
            ports.append(after);
            return ports;
        });
    }
    ~SimPorts() { PortList::ResetProvider(); }
    SimPorts(const SimPorts&) = delete;
    SimPorts& operator=(const SimPorts&) = delete;
};

// Resets the process-wide state that the tool keeps between windows.
inline void resetToolState() {
    Globals::currentOrder = 0;
    Globals::ReceivedData->clear();
    Globals::IsUpdateMode = false;
    Globals::IsNeedResetDevice = false;
    Globals::NoDeviceMessage = Globals::PlugInMessage;
    Globals::DeviceModel.clear();
    Globals::UpdateFilePath.clear();
    Globals::FileCrc = 0;
    // The lines a window's device page keeps: each test's window is new.
    Globals::FailureLine.clear();
    Globals::ResultLine.clear();
    Globals::AnswerLine.clear();
    Globals::LastUpdateLine.clear();
    Device::DeviceInfo.clear();
    Device::VersionInfo.clear();
    Device::WatchId.clear();
    Device::InitStatus.clear();
    PortList::NotePlugged({});
    UpdateEvents::instance()->reset();
}

inline QByteArray toQBytes(const sim::Bytes& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()));
}
inline sim::Bytes toSimBytes(const QByteArray& bytes) {
    return sim::Bytes(bytes.begin(), bytes.end());
}
