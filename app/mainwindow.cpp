#include "app/mainwindow.h"

#include "app/logfile.h"
#include "app/logging.h"
#include "app/logreach.h"
#include "app/offercheck.h"
#include "app/offthread.h"
#include "app/sleepinhibitor.h"
#include "app/state/appfolder.h"
#include "app/state/bounds.h"
#include "app/state/history.h"
#include "app/state/updateevents.h"
#include "app/toolkit.h"
#include "device/platform.h"
#include "device/portlist.h"
#include "device/threadcomport.h"
#include "device/threadmonitordevice.h"
#include "device/threadsleep.h"
#include "device/xmodemdal.h"
#include "pages/initpage.h"
#include "pages/xmodemupdate.h"
#include "ui_mainwindow.h"
#include "util/utility.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QSerialPort>
#include <QShortcut>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QWindow>

static void initResources() {
    Q_INIT_RESOURCE(resources);
}

namespace {
const char* const kTitlePrefix = QT_TRANSLATE_NOOP("MainWindow", "Tembra Update Tool V");
// Shown, and nothing else done, while another instance holds the data folder.
const char* const kAlreadyRunningText =
    QT_TRANSLATE_NOOP("MainWindow", "Tembra Update Tool is already running");
QString dataFolderOverride;
bool alreadyRunning = false;
bool oneDevice = false;
const qint32 kBaudRate = 115200;
// How long the line must stay silent after a byte before a reply that has not
// ended itself (with a frame's end byte) is taken as complete. A device may
// write a reply in pieces, one per 1 ms USB frame, and USB-serial bridges hold
// bytes back for up to 16 ms (their latency timer): 20 ms covers one such
// hold-back and is still far below anything a user notices.
const int kReplyQuietMs = 20;
// How often the port of an update is looked for in the port list (a port
// can go from the list without its line hanging up).
const int kListingCheckMs = 1000;
// Shown on the no-device page while the device's port is listed but cannot be opened.
const char* const kCannotOpenText = QT_TRANSLATE_NOOP("MainWindow", "Cannot open %1: %2");
// When the device shown was last updated, as the history has it.
const char* const kLastUpdatedText =
    QT_TRANSLATE_NOOP("MainWindow", "Last updated %1 from %2 to %3");
const char* const kLastUpdatedToText = QT_TRANSLATE_NOOP("MainWindow", "Last updated %1 to %2");
// The window's context menu.
const char* const kShowLogText = QT_TRANSLATE_NOOP("MainWindow", "Open the log folder");
const char* const kCopyDetailsText = QT_TRANSLATE_NOOP("MainWindow", "Copy details");
const char* const kNoLogText =
    QT_TRANSLATE_NOOP("MainWindow", "There is no log file of this run to show.");
// Shown from the moment the port is open until the device answers.
const char* const kConnectingText =
    QT_TRANSLATE_NOOP("MainWindow", "Connecting to the device on %1…");
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
    Globals::AppPath = DataFolder();
    qCDebug(lcApp).noquote() << "settings and firmware are kept in" << Globals::AppPath;

    setCentralWidget(new NoDevice());

    Globals::PortName = Globals::NoDevicePortName;
    XModemDAL::FileData.clear();

    setWindowTitle(tr(kTitlePrefix) + Globals::Version);

    replyQuietTimer = new QTimer(this);
    replyQuietTimer->setSingleShot(true);
    replyQuietTimer->setTimerType(Qt::PreciseTimer);
    replyQuietTimer->setInterval(kReplyQuietMs);
    connect(replyQuietTimer, &QTimer::timeout, this, &MainWindow::onReplyQuiet);
    silenceTimer = new QTimer(this);
    silenceTimer->setSingleShot(true);
    connect(silenceTimer, &QTimer::timeout, this, &MainWindow::onSilence);
    identifyTimer = new QTimer(this);
    identifyTimer->setSingleShot(true);
    connect(identifyTimer, &QTimer::timeout, this, &MainWindow::onNotAnswering);
    pauseTimer = new QTimer(this);
    pauseTimer->setSingleShot(true);
    connect(pauseTimer, &QTimer::timeout, this, &MainWindow::endPause);
    listingTimer = new QTimer(this);
    listingTimer->setInterval(kListingCheckMs);
    connect(listingTimer, &QTimer::timeout, this, &MainWindow::checkListing);
    switchTimer = new QTimer(this);
    switchTimer->setSingleShot(true);
    connect(switchTimer, &QTimer::timeout, this, &MainWindow::onSwitchNotBack);
    restartTimer = new QTimer(this);
    restartTimer->setSingleShot(true);
    connect(restartTimer, &QTimer::timeout, this, &MainWindow::onRestartNotBack);
    updateStartTimer = new QTimer(this);
    updateStartTimer->setSingleShot(true);
    connect(updateStartTimer, &QTimer::timeout, this, &MainWindow::onUpdateStartUnanswered);

    connect(UpdateEvents::instance(), &UpdateEvents::RunFailed, this, &MainWindow::noteFailure);
    recorder = new HistoryRecorder(this);
    // In the window each update is a run of the history: it ends with its outcome.
    if (!oneDevice) {
        connect(UpdateEvents::instance(), &UpdateEvents::RunFailed, this,
                [this](UpdateEvents::Failure kind, const QString& text) {
                    static const int codes[] = {4, 5, 6, 7}; // port, service, download, device
                    recorder->end(QStringLiteral("failed"), codes[int(kind)], text,
                                  LogFile::Path());
                });
        connect(UpdateEvents::instance(), &UpdateEvents::NothingToInstall, this,
                [this](const QString& text) {
                    recorder->end(QStringLiteral("up to date"), 0, text, LogFile::Path());
                });
    }
    // The desktop's portal is asked too where there is a desktop: the window.
    awake = new SleepInhibitor(!oneDevice, this);

    // Ctrl+Q and Ctrl+W close the window, as its close button does (and ask
    // first mid-update): the frameless window has no other way to be closed
    // from the keyboard.
    for (const QKeySequence& keys :
         {QKeySequence(Qt::CTRL | Qt::Key_Q), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        auto* shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, &QWidget::close);
    }
    // A firmware file of the user's: Ctrl+O picks one, or it is dropped here.
    auto* open = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_O), this);
    connect(open, &QShortcut::activated, this, &MainWindow::ChooseFirmwareFile);
    setAcceptDrops(true);
    // The log within reach: Ctrl+L shows it in the file manager; the
    // window's context menu offers that and the details for support.
    auto* log = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_L), this);
    connect(log, &QShortcut::activated, this, &MainWindow::ShowLog);
    // The window keeps the size of its pages.
    setFixedSize(Globals::PageWidth, Globals::PageHeight);
    // In the window, what the service offers the device is asked for as
    // soon as it is identified, and shown on its page.
    if (!oneDevice) {
        offers = new OfferCheck(this);
        connect(offers, &OfferCheck::Changed, this, [this] {
            if (auto* page = qobject_cast<InitPage*>(centralWidget()))
                page->ShowOffer();
        });
        connect(UpdateEvents::instance(), &UpdateEvents::DeviceIdentified, this,
                [this](const QString& version, const QString&, const QString& number) {
                    if (!recovering &&
                        UpdateEvents::instance()->phase() == UpdateEvents::Phase::Idle)
                        offers->ask(number, version);
                    showLastUpdate(number, known.port.serial);
                });
    }

    if (alreadyRunning) {
        qCWarning(lcApp).noquote() << "another instance holds" << Globals::AppPath
                                   << ": neither the port nor the files are touched";
        auto* page = new NoDevice(UserText::Of("MainWindow", kAlreadyRunningText));
        setCentralWidget(page);
        return;
    }
    SearchComPort();
    connect(this, SIGNAL(ComPortDissappear()), this, SLOT(AddNoControl()));
    monitorThread = new ThreadMonitorDevice();
    connect(monitorThread, &QThread::finished, this, &MainWindow::onMonitorFinished);
    monitorWanted = true;
    monitorThread->start(QThread::InheritPriority);
}

void MainWindow::SetDataFolder(const QString& folder) {
    dataFolderOverride = folder;
}

void MainWindow::SetAlreadyRunning(bool running) {
    alreadyRunning = running;
}

void MainWindow::SetOneDevice(bool one) {
    oneDevice = one;
}

bool MainWindow::OneDevice() {
    return oneDevice;
}

QString MainWindow::DataFolder() {
    if (!dataFolderOverride.isEmpty())
        return dataFolderOverride;
    return AppFolder::Choose(
        QCoreApplication::applicationDirPath(), QStringLiteral(TEMBRA_INSTALLED_BINDIR),
        QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation));
}

MainWindow::~MainWindow() {
    if (!oneDevice && recorder->recording())
        recorder->end(QStringLiteral("interrupted"), 130,
                      QStringLiteral("the window was closed during the update"), LogFile::Path());
    StopPortThreads();
    forgetDevice();
    if (Globals::MainWin == this)
        Globals::MainWin = nullptr;
    delete ui;
}

// Ends every port thread at its next safe point and waits for it, so that no
// thread touches the globals or this window once the window is gone.
void MainWindow::StopPortThreads() {
    monitorWanted = false;
    const QList<QThread*> threads = {monitorThread, Globals::ComPortThread, updatePortThread};
    // No finished() of a stopped thread may reach this window afterwards.
    for (QThread* thread : threads) {
        if (!thread)
            continue;
        disconnect(thread, nullptr, this, nullptr);
        InterruptThread(thread);
    }
    for (QThread* thread : threads) {
        if (thread)
            thread->wait();
    }
    // Nor a report the monitor queued before it stopped (the device gone),
    // which would close a port opened after this call.
    QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
    delete monitorThread;
    monitorThread = nullptr;
    delete Globals::ComPortThread;
    Globals::ComPortThread = nullptr;
    delete updatePortThread;
    updatePortThread = nullptr;
}

// ---------------------------------------------------------------------------
// Window dragging: the window has no title bar and moves with any held button.
// With the left button the window system moves it (startSystemMove), which is
// the only way on Wayland, where a client may not place its own window; where
// the platform refuses (no window manager that supports it, offscreen), and
// for other buttons, the window follows the cursor by move().

void MainWindow::mousePressEvent(QMouseEvent* event) {
    windowPos = pos();
    mousePos = Toolkit::GlobalPos(event);
    dragOffset = mousePos - windowPos;
    systemMove =
        event->button() == Qt::LeftButton && windowHandle() && windowHandle()->startSystemMove();
    qCDebug(lcApp).noquote() << (systemMove ? "window moved by the window system"
                                            : "window moved by the tool");
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
    if (systemMove && (event->buttons() & Qt::LeftButton))
        return;
    move(Toolkit::GlobalPos(event) - dragOffset);
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
    // Bytes that wait in the system from before this open (a reply to a
    // command of an earlier session of the port) answer nothing the tool will
    // ask: read as the reply to its next command, they would shift the whole
    // conversation by one reply.
    const qint64 stale = Platform::PendingInput(serialPort);
    if (stale > 0) {
        qCDebug(lcApp).noquote() << "discarding" << stale << "bytes left in" << name
                                 << "from before it was opened";
        serialPort->clear(QSerialPort::Input);
    }
    connect(serialPort, SIGNAL(readyRead()), this, SLOT(HandlerData()));
    // A hung-up line (the device unplugged or restarted) keeps reporting read
    // errors until the port is closed; the close happens on the next pass of
    // the event loop, outside the port's own notification.
    QPointer<QSerialPort> port(serialPort);
    connect(serialPort, &QSerialPort::errorOccurred, this,
            [this, port](QSerialPort::SerialPortError error) {
                if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError)
                    return;
                const QString reason = port ? port->errorString() : QString();
                QTimer::singleShot(0, this, [this, port, reason] {
                    if (port && port == serialPort)
                        onPortLost(reason);
                });
            });
    qCDebug(lcApp).noquote() << "串口已打开";
    Wire::PortOpened(name);
    if (UpdateUnderWay())
        listingTimer->start();
    UpdateEvents::instance()->portOpened(name);
    return true;
}

void MainWindow::CloseComPort() {
    ++portCloses;
    // A partial reply of the closed port is never completed later: its quiet
    // timer would run a branch, and that branch's write would open a port.
    replyQuietTimer->stop();
    silenceTimer->stop();
    identifyTimer->stop();
    listingTimer->stop();
    updateStartTimer->stop();
    Globals::ReceivedData->clear();
    if (!serialPort || !serialPort->isOpen())
        return;
    serialPort->close();
    qCDebug(lcApp).noquote() << "串口已关闭";
    Wire::PortClosed(PortList::SystemPath(serialPort->portName()));
}

void MainWindow::onPortLost(const QString& reason) {
    if (!serialPort || !serialPort->isOpen())
        return;
    qCDebug(lcApp).noquote() << "port" << serialPort->portName()
                             << "lost its line (" + reason + "): closing it";
    Wire::PortLost(PortList::SystemPath(serialPort->portName()), reason);
    // What the device sent before its line went is its whole reply: a device
    // may answer and restart at once.
    const QByteArray rest = serialPort->readAll();
    if (!rest.isEmpty()) {
        Wire::Received(Globals::currentOrder, rest);
        appendReceived(rest);
    }
    if (pauseTimer->isActive()) {
        // A hung-up line reports an error on every pass of the event loop
        // for as long as it is open: it is closed now, and what it sent and
        // its loss are taken when the pause ends.
        receivedInPause.append(rest);
        serialPort->close();
        lineLostInPause = true;
        lostInPause = reason;
        return;
    }
    lineGone(rest, reason);
}

void MainWindow::lineGone(const QByteArray& rest, const QString& reason) {
    if (!Globals::ReceivedData->isEmpty()) {
        const int closes = portCloses;
        replyQuietTimer->stop();
        dispatchReply(rest, true);
        if (portCloses != closes)
            return; // the reply's branch has moved on (a confirmed restart)
    }
    // The device has gone, which the monitor would report a moment later,
    // perhaps not at all if it comes back under the same name.
    onDeviceGone(reason);
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
    // What came during a restart pause before this write answers an earlier
    // command, as the buffer's bytes do.
    receivedInPause.clear();
    Globals::currentOrder = order;
    replyQuietTimer->stop();
    receiveOverflowLogged = false;
    lastBytes = QByteArray(data, int(length));
    lastOrder = order;
    // The boot loader's answers are awaited for a bounded time.
    if (XModemDAL::IsBootLoaderCommand(order))
        silenceTimer->start(Bounds::DeviceSilenceMs());
    else
        silenceTimer->stop();
    // A boot loader may take no notice of the framed update start.
    if (order == XModemDAL::IdUpdateSoftwareInfo && Globals::IsUpdateMode)
        updateStartTimer->start(Bounds::UpdateStartAnswerMs());
    else
        updateStartTimer->stop();
    if (length > 0) {
        const QByteArray bytes = QByteArray::fromRawData(data, int(length));
        if (order == XModemDAL::IdSendPacket)
            Wire::PacketSent(XModemDAL::PacketIndex, bytes);
        else
            Wire::Sent(order, bytes);
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

void MainWindow::searchForUpdate(void (MainWindow::*slot)()) {
    if (!updatePortThread)
        updatePortThread = new ThreadComPort();
    // A search still under way is ended first; with its connection removed,
    // its end reports to nobody.
    disconnect(updatePortThread, &QThread::finished, this, nullptr);
    if (updatePortThread->isRunning()) {
        InterruptThread(updatePortThread);
        updatePortThread->wait();
    }
    connect(updatePortThread, &QThread::finished, this, slot);
    updatePortThread->start(QThread::InheritPriority);
}

void MainWindow::SearchComPort() {
    if (Globals::ComPortThread) {
        if (Globals::ComPortThread->isRunning())
            return;
        qCDebug(lcApp).noquote() << "过来重新搜索了";
        Globals::ComPortThread->start(QThread::InheritPriority);
        return;
    }
    Globals::ComPortThread = new ThreadComPort();
    connect(Globals::ComPortThread, &QThread::finished, this,
            Globals::IsUpdateMode ? &MainWindow::OpenComPortForUpdate : &MainWindow::InitPC);
    Globals::ComPortThread->start(QThread::InheritPriority);
}

void MainWindow::showLastUpdate(const QString& number, const QString& serial) {
    // Read off the GUI thread: the history is a file, which may be slow to come.
    RunOffThread<History::Record>(
        this,
        [number, serial] {
            History::Record last;
            for (const History::Record& record : History::Read()) {
                if (record.result == QLatin1String("updated") &&
                    (number.isEmpty() ? record.isOf(serial) : record.deviceNumber == number))
                    last = record;
            }
            return last;
        },
        [this, number](const History::Record& last) {
            if (Device::WatchId != number)
                return; // another device by now
            Globals::LastUpdateLine =
                !last.ended.isValid() ? QString()
                : last.bootLoaderBefore || last.versionBefore.isEmpty()
                    ? tr(kLastUpdatedToText)
                          .arg(
                              last.ended.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                              Utility::Displayable(last.versionAfter))
                    : tr(kLastUpdatedText)
                          .arg(
                              last.ended.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                              Utility::Displayable(last.versionBefore),
                              Utility::Displayable(last.versionAfter));
            if (auto* page = qobject_cast<InitPage*>(centralWidget()))
                page->ShowNote();
        });
}

void MainWindow::RecordRun(const QString& result, int exitCode, const QString& reason) {
    recorder->end(result, exitCode, reason, LogFile::Path());
}

void MainWindow::ShowLog() {
    const QString path = LogFile::Path();
    if (path.isEmpty()) {
        // The user asked for something: say why nothing opens.
        qCInfo(lcApp).noquote() << "there is no log file to show: none was written";
        auto* box = new QMessageBox(QMessageBox::Information, windowTitle(), tr(kNoLogText),
                                    QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
        return;
    }
    LogReach::ShowInFolder(this, path);
}

void MainWindow::CopyDetails() {
    QString device;
    if (known.isSet())
        device = QStringLiteral("%1, %2").arg(Globals::PortName.get(), known.name());
    QApplication::clipboard()->setText(
        LogReach::Details(LogFile::Path(), device, Globals::FailureLine));
    qCInfo(lcApp).noquote() << "the details were copied to the clipboard";
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("windowMenu"));
    QAction* log = menu.addAction(tr(kShowLogText), this, &MainWindow::ShowLog);
    log->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    menu.addAction(tr(kCopyDetailsText), this, &MainWindow::CopyDetails);
    menu.exec(event->globalPos());
}

void MainWindow::FocusPage(QWidget* page) {
    auto* base = qobject_cast<BaseUI*>(page);
    QWidget* button = base ? base->mainButton() : nullptr;
    if (button)
        button->setFocus(Qt::OtherFocusReason);
    else
        setFocus(Qt::OtherFocusReason);
}

void MainWindow::StartUpdate() {
    // A new attempt: what failed before, and what the last press answered,
    // are no news (what was done stays while the device does).
    Globals::FailureLine.clear();
    Globals::AnswerLine.clear();
    if (Globals::HasDevicePort()) {
        UpdateEvents* events = UpdateEvents::instance();
        events->updateStarted(Device::VersionInfo);
        events->setPhase(UpdateEvents::Phase::Checking);
    }
    AddControl(new XModemUpdate());
}

void MainWindow::StopMonitor() {
    monitorWanted = false;
    if (monitorThread)
        InterruptThread(monitorThread);
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

bool MainWindow::showsNoDevicePage(const QString& text) const {
    auto* page = qobject_cast<NoDevice*>(centralWidget());
    return page && page->statusLabel()->text() == text &&
           Globals::StatusLabel.data() == page->statusLabel();
}

// The monitor found the device's port gone: outside an update its port is
// closed, a no-device page is shown and the search starts again; mid-update
// the rule for a lost device applies.
void MainWindow::AddNoControl() {
    if (lossNow() != Loss::NoUpdate) {
        onDeviceGone(QStringLiteral("the port is no longer listed"));
        return;
    }
    if (!oneDevice)
        forgetDevice();
    showNoDevice();
}

// A no-device page is shown (unless the same one is shown already: the
// monitor reports an absent device every second) and the search starts again.
void MainWindow::showNoDevice() {
    CloseComPort();
    // A device lost mid-update keeps the text that says how its update goes on.
    const UserText text =
        recovering ? recoveryText : NoDevice::MessageText(Globals::NoDeviceMessage);
    // What was done to the device, and what failed, is no news about the
    // next one (a device told to restart is expected back, though).
    if (!recovering) {
        Globals::ResultLine.clear();
        Globals::FailureLine.clear();
        Globals::AnswerLine.clear();
        Globals::LastUpdateLine.clear();
    }
    if (!showsNoDevicePage(text.shown))
        AddControl(recovering ? new NoDevice(text) : new NoDevice());
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
    if (!chooseDevice(name)) {
        if (!searching())
            SearchComPort();
        return;
    }
    if (!OpenComPort(name)) {
        SearchComPort();
        sayCannotOpen(name);
        return;
    }
    identifyTimer->start(Bounds::NotAnsweringMs());
    // A plugged-in device is not "missing" while it is asked who it is; a
    // page that says how an update goes on keeps saying it.
    auto* waiting = qobject_cast<NoDevice*>(centralWidget());
    if (waiting && !recovering && UpdateEvents::instance()->phase() == UpdateEvents::Phase::Idle)
        waiting->SetMessage(UserText::Of("MainWindow", kConnectingText).arg(name));
    if (Globals::IsUpdateMode) {
        qCDebug(lcApp).noquote() << "怎么还在升级状态";
        XModemDAL::GetDeviceInfoWhenUpdate();
        return;
    }
    hasReceivedData = false;
    qCDebug(lcApp).noquote() << "getInitStatus";
    XModemDAL::GetInitStatus();
}

// The port is listed but refuses to open (held by another program, or not
// permitted): said, with the system's reason, rather than asking for a
// device that is plugged in. Retries keep the page while the text stays.
void MainWindow::sayCannotOpen(const QString& name) {
    qCDebug(lcApp).noquote() << "打不开" + name;
    const UserText reason = Platform::OpenFailureReason(serialPort);
    // A restarted device that is back but busy is not one that did not come back.
    if (UpdateEvents::instance()->phase() == UpdateEvents::Phase::Restarting)
        restartedBusy = reason;
    UpdateEvents::instance()->portUnavailable(name, reason.english);
    const UserText text = UserText::Of("MainWindow", kCannotOpenText).arg(name).arg(reason);
    if (showsNoDevicePage(text.shown))
        return;
    auto* page = new NoDevice(text);
    AddControl(page);
}

void MainWindow::handerSign() {
    XModemDAL::SendSign();
}

void MainWindow::HasReceivedData() {
    if (!Globals::ReceivedData->isEmpty() || hasReceivedData)
        qCDebug(lcApp).noquote() << "收到数据了";
}
