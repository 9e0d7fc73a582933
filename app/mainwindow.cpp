#include "app/mainwindow.h"

#include "app/logging.h"
#include "device/threadcomport.h"
#include "device/threadmonitordevice.h"
#include "device/xmodemdal.h"
#include "pages/initpage.h"
#include "ui_mainwindow.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QSerialPort>
#include <QThread>

static void initResources() {
    Q_INIT_RESOURCE(resources);
}

namespace {
const QString kTitlePrefix = QStringLiteral("Tembra Update Tool V");
const qint32 kBaudRate = 115200;
// Frameless but with minimise and close hints: the window is moved by dragging.
const Qt::WindowFlags kWindowFlags =
    Qt::Window | Qt::WindowMinimizeButtonHint | Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint;
} // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui(new Ui::MainWindow) {
    initResources();
    ui->setupUi(this);
    serialPort = nullptr;
    setWindowFlags(kWindowFlags);

    Globals::MainWin = this;
    Globals::AppPath = QCoreApplication::applicationDirPath();

    setCentralWidget(new NoDevice());

    Globals::PortName = Globals::NoDevicePortName;
    XModemDAL::FileData.clear();

    setWindowTitle(kTitlePrefix + Globals::Version);

    SearchComPort();
    connect(this, SIGNAL(ComPortDissappear()), this, SLOT(AddNoControl()));
    monitorThread = new ThreadMonitorDevice();
    connect(monitorThread, &QThread::finished, this, &MainWindow::onMonitorFinished);
    monitorWanted = true;
    monitorThread->start(QThread::InheritPriority);
}

MainWindow::~MainWindow() {
    StopPortThreads();
    if (Globals::MainWin == this)
        Globals::MainWin = nullptr;
    delete ui;
}

// Ends every port thread at its next safe point and waits for it, so that no
// thread touches the globals or this window once the window is gone.
void MainWindow::StopPortThreads() {
    monitorWanted = false;
    // No finished() of a stopped thread may reach this window afterwards.
    for (ThreadComPort* thread : searchThreads)
        disconnect(thread, nullptr, this, nullptr);
    if (monitorThread) {
        disconnect(monitorThread, nullptr, this, nullptr);
        monitorThread->requestInterruption();
        monitorThread->wait();
        delete monitorThread;
        monitorThread = nullptr;
    }
    for (ThreadComPort* thread : searchThreads) {
        thread->requestInterruption();
        thread->wait();
    }
    for (ThreadComPort* thread : searchThreads) {
        if (Globals::ComPortThread == thread)
            Globals::ComPortThread = nullptr;
        delete thread;
    }
    searchThreads.clear();
    updatePortThread = nullptr;
}

// ---------------------------------------------------------------------------
// Window dragging: the window has no title bar and moves with any held button.

void MainWindow::mousePressEvent(QMouseEvent* event) {
    windowPos = pos();
    mousePos = event->globalPos();
    dragOffset = mousePos - windowPos;
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
    move(event->globalPos() - dragOffset);
}

// ---------------------------------------------------------------------------
// Serial port operations

bool MainWindow::OpenComPort(const QString& name) {
    if (name.isEmpty())
        return false;
    delete serialPort;
    serialPort = new QSerialPort(name, this);
    if (!serialPort->open(QIODevice::ReadWrite)) {
        qCDebug(lcApp).noquote() << "cannot open port" << name << ":" << serialPort->errorString();
        return false;
    }
    serialPort->setBaudRate(kBaudRate, QSerialPort::AllDirections);
    serialPort->setDataBits(QSerialPort::Data8);
    serialPort->setParity(QSerialPort::NoParity);
    connect(serialPort, SIGNAL(readyRead()), this, SLOT(HandlerData()));
    qCDebug(lcApp).noquote() << "串口已打开";
    return true;
}

void MainWindow::CloseComPort() {
    if (!serialPort || !serialPort->isOpen())
        return;
    serialPort->close();
    qCDebug(lcApp).noquote() << "串口已关闭";
}

bool MainWindow::writeCommand(const char* data, qint64 length, int order) {
    if (!serialPort)
        OpenComPort(Globals::PortName);
    if (serialPort && !serialPort->isOpen())
        OpenComPort(Globals::PortName);
    if (!serialPort || !serialPort->isOpen()) {
        qCDebug(lcApp).noquote() << "无法打开串口";
        return false;
    }
    Globals::ReceivedData->clear();
    Globals::currentOrder = order;
    if (length > 0) {
        serialPort->write(data, length);
        // Out now rather than on the next pass of the event loop: the device
        // answers each packet, so every turn of the loop is latency.
        serialPort->flush();
    }
    return true;
}

void MainWindow::SendData(const char* data, int order, int length) {
    writeCommand(data, length, order);
}

void MainWindow::SendBytes(const char* data, int length, int order) {
    writeCommand(data, length, order);
}

void MainWindow::SendByteArray(const QByteArray& data, int order) {
    if (!writeCommand(data.constData(), data.size(), order))
        AddControl(new InitPage());
}

// ---------------------------------------------------------------------------
// Device connection control

ThreadComPort* MainWindow::newSearchThread(void (MainWindow::*slot)()) {
    auto* thread = new ThreadComPort();
    searchThreads.append(thread);
    connect(thread, &QThread::finished, this, slot);
    return thread;
}

void MainWindow::SearchComPort() {
    if (Globals::ComPortThread) {
        if (Globals::ComPortThread->isRunning())
            return;
        qCDebug(lcApp).noquote() << "过来重新搜索了";
        Globals::ComPortThread->start(QThread::InheritPriority);
        return;
    }
    Globals::ComPortThread = newSearchThread(
        Globals::IsUpdateMode ? &MainWindow::OpenComPortForUpdate : &MainWindow::InitPC);
    Globals::ComPortThread->start(QThread::InheritPriority);
}

void MainWindow::StopMonitor() {
    monitorWanted = false;
    if (monitorThread)
        monitorThread->requestInterruption();
}

void MainWindow::startMonitor() {
    monitorWanted = true;
    if (!monitorThread) {
        monitorThread = new ThreadMonitorDevice();
        connect(monitorThread, &QThread::finished, this, &MainWindow::onMonitorFinished);
    }
    // A monitor that was asked to stop and has not ended yet is started again
    // from onMonitorFinished once it has.
    if (!monitorThread->isRunning())
        monitorThread->start(QThread::InheritPriority);
}

void MainWindow::onMonitorFinished() {
    if (monitorWanted && monitorThread && !monitorThread->isRunning())
        monitorThread->start(QThread::InheritPriority);
}

void MainWindow::AddNoControl() {
    AddControl(new NoDevice());
    SearchComPort();
}

void MainWindow::InitPC() {
    qCDebug(lcApp).noquote() << "线程监控开启啦";
    startMonitor();

    if (!Globals::HasDevicePort()) {
        qCDebug(lcApp).noquote() << "端口不正确";
        return;
    }
    const QString name = Globals::PortName;
    if (!OpenComPort(name)) {
        SearchComPort();
        qCDebug(lcApp).noquote() << "打不开" + name;
        AddControl(new NoDevice());
        return;
    }
    if (Globals::IsUpdateMode) {
        qCDebug(lcApp).noquote() << "怎么还在升级状态";
        XModemDAL::GetDeviceInfoWhenUpdate();
        return;
    }
    hasReceivedData = false;
    qCDebug(lcApp).noquote() << "getInitStatus";
    XModemDAL::GetInitStatus();
}

void MainWindow::handerSign() {
    XModemDAL::SendSign();
}

void MainWindow::HasReceivedData() {
    if (!Globals::ReceivedData->isEmpty() || hasReceivedData)
        qCDebug(lcApp).noquote() << "收到数据了";
}

void MainWindow::pauseForRestart() {
    if (Globals::RestartPauseMs > 0)
        QThread::msleep(static_cast<unsigned long>(Globals::RestartPauseMs));
}
