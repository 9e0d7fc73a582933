#pragma once

#include <QString>
#include <QThread>
#include <atomic>

// Polls the port list every 300 ms until the device's port exists, publishes
// its name in Globals::PortName and ends; finished() is the result.
class ThreadComPort : public QThread {
    Q_OBJECT
public:
    ThreadComPort();
    ~ThreadComPort() override;

    static constexpr unsigned long PollMs = 300;
    // Number of search thread objects that exist now.
    static int Instances();

protected:
    void run() override;

private:
    QString portName;
};
