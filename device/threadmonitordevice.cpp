#include "device/threadmonitordevice.h"

#include "app/globals.h"
#include "app/logging.h"
#include "app/mainwindow.h"
#include "device/portlist.h"
#include "device/threadsleep.h"

#include <QMetaObject>

namespace {
std::atomic<unsigned long> pollMs{ThreadMonitorDevice::DefaultPollMs};

// Whether a device port of this name is in the list.
bool isListed(const QList<PortEntry>& ports, const QString& name) {
    for (const PortEntry& port : ports) {
        if (port.name == name && PortList::FindDevicePort({port}, nullptr))
            return true;
    }
    return false;
}
} // namespace

ThreadMonitorDevice::~ThreadMonitorDevice() = default;

void ThreadMonitorDevice::SetPollMs(unsigned long ms) {
    pollMs = ms;
}

unsigned long ThreadMonitorDevice::PollMs() {
    return pollMs;
}

void ThreadMonitorDevice::run() {
    qCDebug(lcDevice).noquote() << "监控串口已开启......";
    // The absence is logged when it begins, not on every pass: a window left
    // waiting for a device would otherwise add a line a second to its log.
    bool absenceLogged = false;
    while (!isInterruptionRequested()) {
        const QList<PortEntry> ports = PortList::Available();
        PortList::NotePlugged(PortList::DescribedDevicePorts(ports));
        QString name;
        if (PortList::FindDevicePort(ports, &name)) {
            absenceLogged = false;
            portName = name;
            // The port the tool uses stays its port while it is listed, even
            // when another device's port is listed before it.
            const QString known = Globals::PortName;
            const bool knownIsPort = known != Globals::NoDevicePortName && !known.isEmpty();
            if (knownIsPort && known != name && isListed(ports, known)) {
                portName = known;
            } else if (!Globals::IsUpdateMode && knownIsPort && known != name) {
                // A device plugged back in while the tool still held its old
                // port comes back under another name. Outside an update that
                // is the device gone and found again: the search finds the new
                // port and the device is identified there.
                qCDebug(lcDevice).noquote()
                    << "the device's port changed from" << known << "to" << name;
                reportGone();
            } else {
                Globals::PortName = name;
            }
        } else {
            if (!absenceLogged)
                qCDebug(lcDevice).noquote() << "端口已退出";
            absenceLogged = true;
            if (!Globals::IsUpdateMode)
                reportGone();
        }
        SleepUnlessInterrupted(this, PollMs());
    }
}

void ThreadMonitorDevice::reportGone() {
    Globals::ForgetDevicePort();
    if (MainWindow* window = Globals::MainWin)
        emit window->ComPortDissappear();
}
