#pragma once

#include <QString>
#include <QThread>
#include <atomic>

// Watches the port list once a second for the life of the tool: keeps
// Globals::PortName current and reports a vanished port outside an update.
// Stops at the interruption check after each sleep, never in between.
class ThreadMonitorDevice : public QThread {
    Q_OBJECT
public:
    ThreadMonitorDevice() = default;
    ~ThreadMonitorDevice() override;

    static constexpr unsigned long DefaultPollMs = 1000;
    // The time between two passes (tests shorten it).
    static void SetPollMs(unsigned long ms);
    static unsigned long PollMs();

protected:
    void run() override;

private:
    // Tells the window that the device's port has gone.
    void reportGone();

    QString portName;
};
