#pragma once

#include <QString>
#include <QThread>

// Watches the port list once a second for the life of the tool: keeps
// Globals::PortName current and reports a vanished port outside an update.
// Stops at the interruption check after each sleep, never in between.
class ThreadMonitorDevice : public QThread {
    Q_OBJECT
public:
    ThreadMonitorDevice() = default;
    ~ThreadMonitorDevice() override;

    static constexpr unsigned long PollMs = 1000;

protected:
    void run() override;

private:
    QString portName;
};
