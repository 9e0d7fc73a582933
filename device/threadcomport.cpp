#include "device/threadcomport.h"

#include "app/logging.h"
#include "app/state/state.h"
#include "device/portlist.h"
#include "device/threadsleep.h"

ThreadComPort::~ThreadComPort() = default;

void ThreadComPort::run() {
    qCDebug(lcDevice).noquote() << "正在搜索串口......";
    for (;;) {
        QString name;
        const bool found = PortList::FindDevicePort(PortList::Available(), &name);
        if (found) {
            portName = name;
            Globals::PortName = name;
            qCDebug(lcDevice).noquote() << "端口：" + name;
        }
        SleepUnlessInterrupted(this, PollMs);
        // Ends at this safe point when the tool shuts down.
        if (found || isInterruptionRequested())
            return;
    }
}
