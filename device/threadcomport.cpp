#include "device/threadcomport.h"

#include "app/logging.h"
#include "app/state/state.h"
#include "device/portlist.h"
#include "device/threadsleep.h"

namespace {
std::atomic<int> instances{0};
}

ThreadComPort::ThreadComPort() {
    ++instances;
}

ThreadComPort::~ThreadComPort() {
    --instances;
}

int ThreadComPort::Instances() {
    return instances;
}

void ThreadComPort::run() {
    qCDebug(lcDevice).noquote() << "正在搜索串口......";
    for (;;) {
        QString name;
        const bool found = PortList::FindDevicePort(PortList::Available(), &name);
        if (found) {
            portName = name;
            Globals::PortName = name;
            qCDebug(lcDevice).noquote() << "端口：" + name;
            Wire::PortFound(name);
        }
        SleepUnlessInterrupted(this, PollMs);
        // Ends at this safe point when the tool shuts down.
        if (found || isInterruptionRequested())
            return;
    }
}
