#pragma once

#include "app/globals.h"
#include "pages/nodevice.h"

#include <QList>
#include <QMainWindow>
#include <QPoint>

class QMouseEvent;
class QSerialPort;
class ThreadComPort;
class ThreadMonitorDevice;

namespace Ui {
class MainWindow;
}

// The one window of the tool: owns the device's serial port, receives every
// byte from the device, runs the port threads and shows one page at a time.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Serial port operations: the only way bytes reach the device.
    bool OpenComPort(const QString& name);
    void CloseComPort();
    void SendData(const char* data, int order, int length);
    void SendBytes(const char* data, int length, int order);
    void SendByteArray(const QByteArray& data, int order);

    // Starts, or starts again, the search for the device's port.
    void SearchComPort();

    // Asks the monitor thread to stop at its next safe point, without waiting.
    void StopMonitor();
    // Ends every port thread at its next safe point and waits for it (at exit).
    void StopPortThreads();

    QSerialPort* port() const { return serialPort; }
    ThreadMonitorDevice* monitor() const { return monitorThread; }
    bool receivedSinceInitStatus() const { return hasReceivedData; }

signals:
    void ComPortDissappear();

public slots:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void HandlerData();
    void InitPC();
    void OpenComPortForUpdate();
    void handerSign();
    void AddNoControl();
    void HasReceivedData();

private:
    // Writes bytes for a command id, opening the port first when needed.
    // Returns false when the port could not be opened and nothing was written.
    bool writeCommand(const char* data, qint64 length, int order);
    void startMonitor();
    void onMonitorFinished();
    // A new search thread reporting to the given slot; kept for shutdown.
    ThreadComPort* newSearchThread(void (MainWindow::*slot)());
    void pauseForRestart();

    // Reply branches, selected by the id of the command written last.
    void handleInitStatus();
    void handleVersion();
    void handleDeviceInfo();
    void handleWatchId();
    void handleDeviceInfoWhenUpdate(const QByteArray& newBytes);
    void handleUpdateSoftwareInfo(const QByteArray& newBytes);
    void handleStartOrder(const QByteArray& newBytes);
    void handlePacketReply(const QByteArray& newBytes);
    void handleEndOrder(const QByteArray& newBytes);
    void handleCrcOrder(const QByteArray& newBytes);
    void handleRestartOrder(const QByteArray& newBytes);

    Ui::MainWindow* ui;
    QPoint windowPos;
    QPoint mousePos;
    QPoint dragOffset;
    ThreadComPort* updatePortThread = nullptr;
    ThreadMonitorDevice* monitorThread = nullptr;
    QSerialPort* serialPort = nullptr;
    bool hasReceivedData = false;

    // Whether the monitor should be running; a stop that has not taken effect
    // yet is followed by a restart when this is set again.
    bool monitorWanted = false;
    // Every search thread this window made, stopped and deleted at exit.
    QList<ThreadComPort*> searchThreads;
};

// Shows a page as the window's central widget; while no device port is known a
// new no-device page is shown instead and the given page is left alive, hidden.
template <typename T> void AddControl(T* page) {
    if (!Globals::MainWin)
        return;
    if (!Globals::HasDevicePort()) {
        Globals::MainWin->setCentralWidget(new NoDevice());
        return;
    }
    Globals::MainWin->setCentralWidget(page);
}
