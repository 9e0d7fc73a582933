#include "device/threadmonitordevice.h"

#include "app/globals.h"
#include "app/logging.h"
#include "app/mainwindow.h"
#include "device/portlist.h"
#include "device/threadsleep.h"

#include <QMetaObject>

namespace {
std::atomic<unsigned long> pollMs{ThreadMonitorDevice::DefaultPollMs};
}

ThreadMonitorDevice::~ThreadMonitorDevice() = default;

void ThreadMonitorDevice::SetPollMs(unsigned long ms) {
    pollMs = ms;
}

unsigned long ThreadMonitorDevice::PollMs() {
    return pollMs;
}

void ThreadMonitorDevice::run() {
    qCDebug(lcDevice).noquote() << "监控串口已开启......";
    while (!isInterruptionRequested()) {
        QString name;
        if (PortList::FindDevicePort(PortList::Available(), &name)) {
            portName = name;
            // A device plugged back in while the tool still held its old port
            // comes back under another name. Outside an update that is the
            // device gone and found again: the search finds the new port and
            // the device is identified there.
            const QString known = Globals::PortName;
            const bool knownIsPort = known != Globals::NoDevicePortName && !known.isEmpty();
            if (!Globals::IsUpdateMode && knownIsPort && known != name) {
                qCDebug(lcDevice).noquote()
                    << "the device's port changed from" << known << "to" << name;
                reportGone();
            } else {
                Globals::PortName = name;
            }
        } else {
            qCDebug(lcDevice).noquote() << "端口已退出";
            if (!Globals::IsUpdateMode)
                reportGone();
        }
        SleepUnlessInterrupted(this, PollMs());
    }
}

void ThreadMonitorDevice::reportGone() {
    Globals::PortName = Globals::NoDevicePortName;
    Globals::NoDeviceMessage = Globals::PlugInMessage;
    if (MainWindow* window = Globals::MainWin)
        emit window->ComPortDissappear();
}
