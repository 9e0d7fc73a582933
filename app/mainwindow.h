#pragma once

#include "app/globals.h"
#include "app/state/updateevents.h"
#include "device/deviceidentity.h"
#include "pages/nodevice.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPoint>
#include <functional>
#include <type_traits>

class HistoryRecorder;
class OfferCheck;
class QCloseEvent;
class QContextMenuEvent;
class QDragEnterEvent;
class QDropEvent;
class QMouseEvent;
class QSerialPort;
class QTimer;
class SleepInhibitor;
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

    // The folder for settings and firmware: beside the program where the user
    // may write there, else the user's data folder.
    static QString DataFolder();
    // Replaces that folder (the command line's --data-dir); "" restores it.
    static void SetDataFolder(const QString& folder);
    // Another instance holds the data folder: the window says so and touches
    // neither the port nor the files.
    static void SetAlreadyRunning(bool running);
    // The run is about one device (the command line): once chosen, that
    // device is followed to the end, even when it goes outside an update.
    // Otherwise (the window) a device gone outside an update is forgotten,
    // and the next one found is taken up.
    static void SetOneDevice(bool one);
    static bool OneDevice();

    // Serial port operations: the only way bytes reach the device.
    bool OpenComPort(const QString& name);
    void CloseComPort();
    void SendData(const char* data, int order, int length);
    void SendBytes(const char* data, int length, int order);
    void SendByteArray(const QByteArray& data, int order);

    // Starts, or starts again, the search for the device's port.
    void SearchComPort();

    // Starts an update of the identified device: what "1.Update Firmware"
    // does, and what the command line does in its place.
    void StartUpdate();
    // "2.Reset": asks first, then restarts the device, which is identified
    // again once it answers.
    void AskReset();
    void ResetDevice();

    // Asks the monitor thread to stop at its next safe point, without waiting.
    void StopMonitor();
    // Ends every port thread at its next safe point and waits for it (at exit).
    void StopPortThreads();

    QSerialPort* port() const { return serialPort; }
    ThreadMonitorDevice* monitor() const { return monitorThread; }
    bool receivedSinceInitStatus() const { return hasReceivedData; }
    // Whether the window system moves the window for the drag under way.
    bool movedBySystem() const { return systemMove; }

    // Gives the keyboard's focus to a page just shown: to its main button,
    // or to the window when it has none (its keys still work).
    void FocusPage(QWidget* page);

    // Whether an update has switched the device, or may have: from the
    // update start sent to the device until its restart is confirmed, and
    // while a device lost in between is looked for.
    bool UpdateUnderWay() const;
    // A device lost mid-update is being looked for, or waited for.
    bool Recovering() const { return recovering; }

    // A firmware file the user chose (dropped on the window, or picked with
    // Ctrl+O) is offered for the device on the device page: read, checked,
    // and installed once the user says yes. Not for a device in its boot loader.
    void OfferFirmwareFile(const QString& path);
    void ChooseFirmwareFile();
    bool CanChooseFirmware() const;

    // Looks in the update history (off the GUI thread) for when the device
    // was last updated, for its page.
    void showLastUpdate(const QString& number, const QString& serial);
    // The command line's run has ended: its record goes to the update
    // history (result: "updated", "up to date", "failed", "interrupted").
    void RecordRun(const QString& result, int exitCode, const QString& reason);
    HistoryRecorder* history() const { return recorder; }

    // This run's log: shown in the file manager (Ctrl+L), and the details
    // for support (its path, the device, the last failure) on the clipboard.
    void ShowLog();
    void CopyDetails();

signals:
    void ComPortDissappear();

protected:
    // Mid-update the user is asked first; the answer defaults to staying.
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dropEvent(QDropEvent* event) override;

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
    // Starts the search that an update uses to find the port again, on one
    // reused thread object, reporting to the given slot.
    void searchForUpdate(void (MainWindow::*slot)());
    // Waits while the device restarts, then runs then. The window stays
    // alive meanwhile (it repaints, its busy bar turns, it can be asked to
    // close), but what the device sends is only collected: its replies are
    // read when the pause is over, as if the tool had slept through it.
    void pauseForRestart(const std::function<void()>& then = {});
    void endPause();

    // The port reported that its line is gone (hang-up, unplug).
    void onPortLost(const QString& reason);
    // A lost line's last bytes answer the command they were sent for; if
    // they move nothing on, the device is taken as gone.
    void lineGone(const QByteArray& rest, const QString& reason);

    // The device behind the port about to be opened: resolved to its
    // identity, judged against this run's device (expected: the mode it is
    // expected in), locked for this run and followed from now on. False when
    // it is not to be opened: another run of the tool holds it (said when
    // nothing was done yet), or it is another unit than this run's device.
    bool chooseDevice(const QString& name, DeviceMode expected = DeviceMode::Unknown);
    // The port open now answered in mode (with its device number in its
    // firmware): true when it is this run's device, which is then known by
    // what it said. Otherwise it is dealt with as another unit (see
    // anotherDevice), or, after a confirmed restart, the run fails.
    bool proveDevice(DeviceMode mode, const QString& deviceNumber = QString());
    // A unit other than this run's device is on the port: it is closed and
    // not taken again while it stays, said, and the device is looked for.
    void anotherDevice(const DeviceIdentity& port, const QString& name, const QString& why);
    // The device of this run is no longer followed (the window: it is gone).
    void forgetDevice();
    // Where the update stands when the device goes: not under way; before
    // the device was told to switch to its boot loader; after that; after
    // it confirmed the firmware's checksum and was told to restart.
    enum class Loss { NoUpdate, BeforeSwitch, DuringUpdate, AfterConfirmation };
    Loss lossNow() const;
    // The one rule for a device that goes (hung up, gone from the list,
    // reported by the monitor), whatever the phase.
    void onDeviceGone(const QString& reason);
    // No device: the no-device page, and the search again.
    void showNoDevice();
    // The device's port is listed but does not open: said, with the reason.
    void sayCannotOpen(const QString& name);
    // The boot loader's port did not come back after the switch.
    void onSwitchNotBack();
    // A boot loader sent nothing after the update start: taken as its answer.
    void onUpdateStartUnanswered();
    // The device confirmed its firmware, was told to restart, and is not back.
    void onRestartNotBack();

    // Recovery from a device lost or silent mid-update (app/recovery.cpp).
    // The boot loader has been silent for the silence bound since the last
    // byte or write: the last command goes out again, up to SilenceRetries
    // times, then the run fails and the device is looked for again.
    void onSilence();
    // The device opened but has not answered its identification.
    void onNotAnswering();
    // Says text on a no-device page, closes the port and, with search, looks
    // for the device again; found in its boot loader, its update goes on from
    // the first packet, after the firmware is fetched and checked again.
    // Without search the port is watched until the device is unplugged.
    void beginRecovery(const UserText& text, const QString& reason, bool search,
                       UpdateEvents::Loss loss);
    // Whether a port search is under way.
    bool searching() const;
    // Whether the port open for an update is still listed.
    void checkListing();
    // The device's checksum reports have not matched too many times in a row.
    void giveUpOnChecksum();
    // A run failed: what, when and the way on are noted for the device page.
    void noteFailure();
    // The file chosen for one run is the service's firmware's business again.
    void forgetChosenFirmware();
    // The device answered its identification: what the last action did is
    // noted for the page (updated, restarted) before the page is built.
    void noteIdentification(bool afterUpdate);
    // After a confirmed update, or when a device that was lost comes back
    // running its old firmware: the update either ends or starts again.
    void afterIdentification();
    // A reset device that kept its port is asked who it is again.
    void identifyAfterReset();
    // True when the page shown is a no-device page reading text whose label
    // is the current status label: building another would change nothing.
    bool showsNoDevicePage(const QString& text) const;

    // Reply handling: appends to the bounded receive buffer, then runs the
    // branch of the command written last; quiet is true when the line has
    // been silent for the quiet interval since the last byte.
    void appendReceived(const QByteArray& bytes);
    // Whether the reply to the command written last is complete: a framed
    // reply once it ends with its end byte, a checksum report once the sum is
    // followed by another character, any reply once the line is quiet.
    bool replyComplete(bool quiet) const;
    void dispatchReply(const QByteArray& newBytes, bool quiet);
    void onReplyQuiet();

    // Reply branches, selected by the id of the command written last.
    void handleInitStatus();
    void handleVersion();
    void handleDeviceInfo();
    void handleWatchId();
    void handleDeviceInfoWhenUpdate();
    void handleUpdateSoftwareInfo(const QByteArray& newBytes);
    void handleStartOrder(const QByteArray& newBytes);
    void handlePacketReply(const QByteArray& newBytes);
    void handleEndOrder(const QByteArray& newBytes);
    void handleCrcOrder();
    void handleRestartOrder();

    Ui::MainWindow* ui;
    QPoint windowPos;
    QPoint mousePos;
    QPoint dragOffset;
    // The drag under way is carried out by the window system.
    bool systemMove = false;
    ThreadComPort* updatePortThread = nullptr;
    ThreadMonitorDevice* monitorThread = nullptr;
    QSerialPort* serialPort = nullptr;
    bool hasReceivedData = false;

    // Whether the monitor should be running; a stop that has not taken effect
    // yet is followed by a restart when this is set again.
    bool monitorWanted = false;
    // Fires once the line has been quiet for the quiet interval after a byte.
    QTimer* replyQuietTimer = nullptr;
    // The receive buffer overflowed during the current reply (logged once).
    bool receiveOverflowLogged = false;

    // The last command written, to be sent again when the boot loader is silent.
    QByteArray lastBytes;
    int lastOrder = 0;
    QTimer* silenceTimer = nullptr;
    int silenceRepeats = 0;
    QTimer* identifyTimer = nullptr;
    QTimer* listingTimer = nullptr;
    // Bound the device's return: after the switch to its boot loader, after
    // its confirmed restart; and a boot loader's answer to the update start.
    QTimer* switchTimer = nullptr;
    QTimer* restartTimer = nullptr;
    QTimer* updateStartTimer = nullptr;
    // Why the restarted device's port did not open, while it is waited for.
    UserText restartedBusy;
    // The window installs a file the user chose, for this one run.
    bool chosenForThisRun = false;
    // Keeps the computer awake while the device is mid-update.
    SleepInhibitor* awake = nullptr;
    // What the service offers the device shown (the window only).
    OfferCheck* offers = nullptr;
    // The record of the run (or, in the window, of each update) for the history.
    HistoryRecorder* recorder = nullptr;
    // The device of this run, the port opened for it now, and the lock that
    // keeps other runs off it.
    KnownDevice known;
    DeviceIdentity current;
    Identity::Lock deviceLock;
    // Checksum reports in a row that did not match.
    int checksumMismatches = 0;
    bool recovering = false;
    // The device went before it was told to switch: nothing was done to it.
    bool recoveringBeforeSwitch = false;
    UserText recoveryText;
    // Set while closing has been agreed to (no second question).
    bool closeAgreed = false;
    // The device was told to restart and has not been identified since.
    bool resetPending = false;
    QElapsedTimer resetSince;

    // The pause while the device restarts: what to do after it, the bytes
    // received meanwhile, and a line lost meanwhile.
    QTimer* pauseTimer = nullptr;
    std::function<void()> afterPause;
    QByteArray receivedInPause;
    QString lostInPause;
    bool lineLostInPause = false;
    int portCloses = 0; // CloseComPort calls: a reply's branch that moved on
};

// Shows a page as the window's central widget; while no device port is known a
// new no-device page is shown instead and the given page is left alive, hidden.
// A no-device page given here is itself what would be shown, so it is shown.
template <typename T> void AddControl(T* page) {
    if (!Globals::MainWin)
        return;
    if (!std::is_same<T, NoDevice>::value && !Globals::HasDevicePort()) {
        auto* noDevice = new NoDevice();
        Globals::MainWin->setCentralWidget(noDevice);
        Globals::MainWin->FocusPage(noDevice);
        return;
    }
    Globals::MainWin->setCentralWidget(page);
    Globals::MainWin->FocusPage(page);
}
