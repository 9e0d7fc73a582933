#include "device/threadmonitordevice.h"

#include "app/globals.h"
#include "app/logging.h"
#include "app/mainwindow.h"
#include "device/portlist.h"
#include "device/threadsleep.h"

#include <QMetaObject>

ThreadMonitorDevice::~ThreadMonitorDevice() = default;

void ThreadMonitorDevice::run() {
    qCDebug(lcDevice).noquote() << "监控串口已开启......";
    while (!isInterruptionRequested()) {
        QString name;
        if (PortList::FindDevicePort(PortList::Available(), &name)) {
            portName = name;
            Globals::PortName = name;
        } else {
            qCDebug(lcDevice).noquote() << "端口已退出";
            if (!Globals::IsUpdateMode) {
                Globals::PortName = Globals::NoDevicePortName;
                Globals::NoDeviceMessage = Globals::PlugInMessage;
                if (MainWindow* window = Globals::MainWin)
                    emit window->ComPortDissappear();
            }
        }
        SleepUnlessInterrupted(this, PollMs);
    }
}
