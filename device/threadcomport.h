#pragma once

#include <QString>
#include <QThread>

// Polls the port list every 300 ms until the device's port exists, publishes
// its name in Globals::PortName and ends; finished() is the result.
class ThreadComPort : public QThread {
    Q_OBJECT
public:
    ThreadComPort() = default;
    ~ThreadComPort() override;

    static constexpr unsigned long PollMs = 300;

protected:
    void run() override;

private:
    QString portName;
};
