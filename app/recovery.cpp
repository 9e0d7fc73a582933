// Recovery from a device that goes away or stops answering in the middle of
// an update. The device's own protocol has no timeouts; left alone, such a
// device would leave the tool waiting for good. Here the wait is bounded: a
// silent boot loader is asked again, then given up on, and a device that has
// gone is looked for again, so that the update goes on once it is back.
#include "app/logging.h"
#include "app/mainwindow.h"
#include "app/state/bounds.h"
#include "app/state/updateevents.h"
#include "device/portlist.h"
#include "device/threadcomport.h"
#include "device/threadsleep.h"
#include "device/xmodemdal.h"
#include "pages/initpage.h"
#include "pages/question.h"
#include "pages/xmodemupdate.h"
#include "util/utility.h"

#include "app/chosenfirmware.h"
#include "app/logfile.h"
#include "app/offercheck.h"
#include "app/state/history.h"

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QSerialPort>
#include <QTime>
#include <QTimer>
#include <QUrl>

namespace {
const char* const kSilentText = QT_TRANSLATE_NOOP(
    "MainWindow", "The device stopped answering during the update. Unplug it and plug it in "
                  "again: the update continues by itself.");
const char* const kWrongChecksumText = QT_TRANSLATE_NOOP(
    "MainWindow", "The device reports a checksum that does not match the firmware. Unplug it and "
                  "plug it in again to try once more.");
const char* const kNotAnsweringText = QT_TRANSLATE_NOOP(
    "MainWindow", "The device on %1 does not answer. Unplug it and plug it in again.");
const char* const kLostBeforeSwitchText = QT_TRANSLATE_NOOP(
    "MainWindow", "The device was disconnected before its update began. Plug it in again: the "
                  "update starts again by itself.");
const char* const kLostText = QT_TRANSLATE_NOOP(
    "MainWindow", "The device was disconnected during the update. Plug it in again: the update "
                  "continues by itself.");
const char* const kRestartNotBackText = QT_TRANSLATE_NOOP(
    "MainWindow", "The device confirmed its new firmware but did not come back within %1 s. "
                  "Unplug it and plug it in again.");
const char* const kInUseText =
    QT_TRANSLATE_NOOP("MainWindow", "Another run of the tool, %2, is using the device on %1");
// A unit other than the device being updated where it was looked for.
const char* const kAnotherDeviceText = QT_TRANSLATE_NOOP(
    "MainWindow",
    "Another device (%1) is on that port; the device being updated (%2) has not come back.");
const char* const kCameBackOtherFailure = QT_TRANSLATE_NOOP(
    "MainWindow", "The device that came back (%1) is not the one that was updated (%2)");
const char* const kAdviceUpdatedOne = QT_TRANSLATE_NOOP(
    "MainWindow", "Plug in the device that was updated to see which firmware it runs.");
// A device identified this long after it was told to restart is another
// story: the line does not say that it restarted.
const qint64 kResetBackWithinMs = 30000;
const char* const kUpdatedText = QT_TRANSLATE_NOOP("MainWindow", "Updated from %1 to %2");
const char* const kUpdatedToText = QT_TRANSLATE_NOOP("MainWindow", "Updated to %1");
const char* const kRestartingText = QT_TRANSLATE_NOOP("MainWindow", "Restarting the device...");
const char* const kRestartedText = QT_TRANSLATE_NOOP("MainWindow", "The device restarted");
const char* const kResetTitle = QT_TRANSLATE_NOOP("MainWindow", "Restart the device?");
const char* const kResetQuestion = QT_TRANSLATE_NOOP(
    "MainWindow", "The device restarts, and is identified again once it answers.");
const char* const kCloseTitle = QT_TRANSLATE_NOOP("MainWindow", "Close the update tool?");
const char* const kCloseQuestion = QT_TRANSLATE_NOOP(
    "MainWindow", "The device is in the middle of its update. It stays in its boot loader until "
                  "it is updated; the tool will finish the update the next time it finds it.\n\n"
                  "Close the tool now?");
const char* const kCloseYes = QT_TRANSLATE_NOOP("MainWindow", "Close");
const char* const kCloseNo = QT_TRANSLATE_NOOP("MainWindow", "Keep Updating");

// The failures the run reports, for the device page's line, the log and
// the command line; and the way on.
const char* const kRestartNotBackFailure = QT_TRANSLATE_NOOP(
    "MainWindow", "The device confirmed its new firmware and did not come back within %1 s");
const char* const kRestartBusyFailure = QT_TRANSLATE_NOOP(
    "MainWindow", "The device restarted with its new firmware, but %1 stayed busy for %2 s: %3");
const char* const kAdviceFreePort = QT_TRANSLATE_NOOP(
    "MainWindow", "Close the program that holds the port, then unplug the device and plug it in "
                  "again.");
const char* const kSilentFailure =
    QT_TRANSLATE_NOOP("MainWindow", "The device stopped answering during the update");
const char* const kAdviceReplug =
    QT_TRANSLATE_NOOP("MainWindow", "Unplug the device and plug it in again.");
// The device page's line for a failure: the time, what failed, the way on.
const char* const kFailureLine = QT_TRANSLATE_NOOP("MainWindow", "%1: %2. %3");
// A firmware file the user chose.
const char* const kChooseTitle = QT_TRANSLATE_NOOP("MainWindow", "Choose a firmware file");
const char* const kFirmwareFiles = QT_TRANSLATE_NOOP("MainWindow", "Firmware files (*.bin)");
const char* const kAllFiles = QT_TRANSLATE_NOOP("MainWindow", "All files (*)");
const char* const kInstallTitle = QT_TRANSLATE_NOOP("MainWindow", "Install this file?");
const char* const kInstallQuestion =
    QT_TRANSLATE_NOOP("MainWindow", "Install %1 (%2 KB, sha256 %3…) on the device (now %4)?");
const char* const kAdviceOtherFile = QT_TRANSLATE_NOOP("MainWindow", "Choose another file.");
const char* const kInstallBootQuestion = QT_TRANSLATE_NOOP(
    "MainWindow", "Install %1 (%2 KB, sha256 %3…) on the device? It is in its boot loader: its "
                  "version is not known.");
// How a failure line ends: where the whole story is.
const char* const kDetailsText = QT_TRANSLATE_NOOP("MainWindow", "Details: Ctrl+L");
// Hex digits of the SHA-256 the question shows.
const int kShaShown = 12;
const char* const kWrongChecksumFailure = QT_TRANSLATE_NOOP(
    "MainWindow", "The device reports a checksum that does not match the firmware");
} // namespace

bool MainWindow::UpdateUnderWay() const {
    if (Globals::IsUpdateMode || recovering)
        return true;
    switch (UpdateEvents::instance()->phase()) {
    case UpdateEvents::Phase::Switching:
    case UpdateEvents::Phase::Transferring:
    case UpdateEvents::Phase::Verifying:
    case UpdateEvents::Phase::Restarting:
    case UpdateEvents::Phase::Recovering:
        return true;
    default:
        return false;
    }
}

namespace {
// How a unit that is not the device is named: by its device number where
// it gave one, else by its serial number or its port.
QString unitName(const DeviceIdentity& port, const QString& deviceNumber) {
    if (!deviceNumber.isEmpty())
        return QStringLiteral("D/N ") + deviceNumber;
    if (!port.serial.isEmpty())
        return QStringLiteral("serial ") + port.serial;
    return port.node.isEmpty() ? port.path : port.node;
}
} // namespace

bool MainWindow::chooseDevice(const QString& name, DeviceMode expected) {
    const DeviceIdentity identity = Identity::Resolve(PortList::SystemPath(name));
    // Gone already: the open that follows fails, and says so.
    if (identity.node.isEmpty())
        return true;
    // Once something was done to the device (and on the command line from
    // the start), a port is opened for it only where it may be that device.
    const bool midRun = UpdateUnderWay() && !recoveringBeforeSwitch;
    const bool judged = known.isSet() && (OneDevice() || midRun);
    if (judged) {
        if (known.port.isUsb() && !identity.isUsb()) {
            // Its USB device is gone from sysfs and its node is about to go:
            // neither another port nor the device yet.
            qCDebug(lcApp).noquote()
                << "the port" << name << "has no USB device behind it any more: not opened";
            return false;
        }
        const Verdict verdict = Identity::Judge(known, identity, expected);
        if (!verdict.device) {
            anotherDevice(identity, unitName(identity, QString()), verdict.why);
            return false;
        }
    }
    QString holder;
    if (!deviceLock.take(identity, &holder)) {
        if (midRun) {
            // Mid-update a port that another run holds is that run's device,
            // never this one's: it is passed over, and this one waited for.
            qCWarning(lcApp).noquote()
                << "the port" << name << "is held by another run of the tool," << holder
                << ": not this run's device";
            PortList::Exclude(identity);
            return false;
        }
        UpdateEvents::instance()->deviceInUse(name, holder);
        const UserText text = UserText::Of("MainWindow", kInUseText).arg(name).arg(holder);
        if (!showsNoDevicePage(text.shown)) {
            auto* page = new NoDevice(text);
            AddControl(page);
        }
        return false;
    }
    current = identity;
    if (!known.isSet() || (!judged && !recoveringBeforeSwitch && !known.port.samePort(identity))) {
        // A device taken up for the first time (the window: whichever comes).
        known = KnownDevice();
        known.port = identity;
        recorder->noteDevice(identity.serial, identity.usbDevice, identity.byPath);
        qCInfo(lcApp).noquote() << "the device:" << identity.describe();
    } else if (expected == DeviceMode::BootLoader) {
        // Judged a boot loader where it was switched: taken as the device.
        proveDevice(DeviceMode::BootLoader);
    }
    PortList::Follow(known);
    return true;
}

bool MainWindow::proveDevice(DeviceMode mode, const QString& deviceNumber) {
    UpdateEvents* events = UpdateEvents::instance();
    if (!known.isSet() || current.node.isEmpty()) {
        known.learn(current, mode, deviceNumber);
        return true;
    }
    const Verdict verdict = Identity::Judge(known, current, mode, deviceNumber);
    if (verdict.device) {
        if (!current.samePort(known.port))
            qCInfo(lcApp).noquote() << "the same device, now:" << current.describe();
        known.learn(current, mode, deviceNumber);
        PortList::Follow(known);
        recorder->noteDevice(current.serial, current.usbDevice, current.byPath);
        return true;
    }
    const QString other = unitName(current, deviceNumber);
    if (events->phase() == UpdateEvents::Phase::Restarting) {
        // What answered after the restart is another unit: whether the
        // updated one runs its new firmware is not known, and never said.
        qCWarning(lcApp).noquote() << "after its restart another unit answered:" << other << "("
                                   << verdict.why << "), not" << known.name();
        restartTimer->stop();
        Globals::IsUpdateMode = false;
        events->setPhase(UpdateEvents::Phase::Idle);
        events->runFailed(
            UpdateEvents::Failure::Device,
            UserText::Of("MainWindow", kCameBackOtherFailure).arg(other).arg(known.name()),
            UserText::Of("MainWindow", kAdviceUpdatedOne));
        // The window shows the unit that is plugged in now.
        known = KnownDevice();
        known.learn(current, mode, deviceNumber);
        PortList::Follow(known);
        return true;
    }
    if (!OneDevice() && (!UpdateUnderWay() || recoveringBeforeSwitch)) {
        // The window, and nothing was done to the device it had: the unit
        // plugged in now is taken up, and not updated unasked.
        qCInfo(lcApp).noquote() << "another device than before:" << other << "(" << verdict.why
                                << "): taken up";
        if (recovering) {
            recovering = false;
            recoveringBeforeSwitch = false;
            forgetChosenFirmware();
            events->setPhase(UpdateEvents::Phase::Idle);
        }
        known = KnownDevice();
        known.learn(current, mode, deviceNumber);
        PortList::Follow(known);
        return true;
    }
    anotherDevice(current, other, verdict.why);
    return false;
}

void MainWindow::anotherDevice(const DeviceIdentity& port, const QString& name,
                               const QString& why) {
    PortList::Exclude(port);
    CloseComPort();
    identifyTimer->stop();
    const UserText text =
        UserText::Of("MainWindow", kAnotherDeviceText).arg(name).arg(known.name());
    UpdateEvents::instance()->anotherDevice(port.path, name, known.name(), why);
    recoveryText = text;
    if (!showsNoDevicePage(text.shown)) {
        auto* page = new NoDevice(text, Globals::StatusKind::Alert);
        setCentralWidget(page);
    }
    // Looked for again; that unit's port is passed over while it stays.
    if (!searching())
        searchForUpdate(&MainWindow::InitPC);
}

bool MainWindow::searching() const {
    return (Globals::ComPortThread && Globals::ComPortThread->isRunning()) ||
           (updatePortThread && updatePortThread->isRunning());
}

void MainWindow::forgetDevice() {
    forgetChosenFirmware();
    if (offers)
        offers->forget();
    if (deviceLock.held())
        qCDebug(lcApp).noquote() << "the device is forgotten:" << known.port.describe();
    PortList::StopFollowing();
    deviceLock.release();
    known = KnownDevice();
    current = DeviceIdentity();
}

MainWindow::Loss MainWindow::lossNow() const {
    switch (UpdateEvents::instance()->phase()) {
    case UpdateEvents::Phase::Idle:
        // A device in its boot loader is mid-update, whatever was asked yet.
        return Globals::IsUpdateMode ? Loss::DuringUpdate : Loss::NoUpdate;
    case UpdateEvents::Phase::Checking:
    case UpdateEvents::Phase::Downloading:
        return Globals::IsUpdateMode ? Loss::DuringUpdate : Loss::BeforeSwitch;
    case UpdateEvents::Phase::Restarting:
        return Loss::AfterConfirmation;
    case UpdateEvents::Phase::Switching:
    case UpdateEvents::Phase::Transferring:
    case UpdateEvents::Phase::Verifying:
    case UpdateEvents::Phase::Recovering:
        return Loss::DuringUpdate;
    }
    return Loss::DuringUpdate;
}

void MainWindow::onDeviceGone(const QString& reason) {
    const QString name = serialPort ? serialPort->portName() : Globals::PortName.get();
    if (recovering) {
        // Gone again while it is looked for (a port that opened and went):
        // looked for again, with what was said of it before.
        qCInfo(lcApp).noquote() << "the port" << name << "went while the device is looked for ("
                                << reason + "): looked for again";
        CloseComPort();
        identifyTimer->stop();
        if (!searching())
            searchForUpdate(&MainWindow::InitPC);
        return;
    }
    // Told to restart into its boot loader, the device may go before its
    // answer is read, or without one: that is the switch it was asked for,
    // and it is looked for in its boot loader, not as a device that was lost.
    // Once its switch is under way (the pause before it is looked for), a
    // late report of its port's going is that switch too.
    if (UpdateEvents::instance()->phase() == UpdateEvents::Phase::Switching &&
        Globals::currentOrder == XModemDAL::IdUpdateSoftwareInfo) {
        if (pauseTimer->isActive())
            return;
        qCInfo(lcApp).noquote() << "the port" << name << "went right after the update start ("
                                << reason + "): the device restarts into its boot loader";
        handleUpdateSoftwareInfo(QByteArray());
        return;
    }
    switch (lossNow()) {
    case Loss::NoUpdate:
        CloseComPort();
        // Shutting down: nobody looks for a device any more.
        if (!monitorWanted)
            return;
        qCInfo(lcApp).noquote() << "the device on" << name << "has gone (" + reason + ")";
        if (!OneDevice())
            forgetDevice();
        else // one device: waited for, for as long as a lost device is
            UpdateEvents::instance()->deviceLost(name, reason, UpdateEvents::Loss::Identification);
        Globals::ForgetDevicePort();
        showNoDevice();
        return;
    case Loss::BeforeSwitch:
        // Nothing was sent to the device yet: the attempt is dropped (its page
        // and with it the service's answer or the download) and made again,
        // from the version check, once the same device is back.
        qCWarning(lcApp).noquote() << "the device on" << name << "went before its update began ("
                                   << reason << "): the update starts again once it is back";
        beginRecovery(UserText::Of("MainWindow", kLostBeforeSwitchText), reason, true,
                      UpdateEvents::Loss::BeforeSwitch);
        return;
    case Loss::DuringUpdate:
        beginRecovery(UserText::Of("MainWindow", kLostText), reason, true,
                      UpdateEvents::Loss::DuringUpdate);
        return;
    case Loss::AfterConfirmation:
        // Restarting into its new firmware: looked for again, for as long as
        // a restarted device is waited for.
        qCInfo(lcApp).noquote() << "the device on" << name
                                << "went while it restarts into its new firmware (" + reason +
                                       "): it is looked for";
        CloseComPort();
        Globals::IsUpdateMode = false;
        // One search finds it: a search already under way reports to InitPC too.
        if (searching())
            return;
        searchForUpdate(&MainWindow::InitPC);
        return;
    }
}

void MainWindow::onSwitchNotBack() {
    if (UpdateEvents::instance()->phase() != UpdateEvents::Phase::Switching || recovering)
        return;
    qCWarning(lcApp).noquote() << "the device's port is not back" << Bounds::SwitchBackMs() / 1000.0
                               << "s after its switch to the boot loader";
    beginRecovery(UserText::Of("MainWindow", kLostText),
                  QStringLiteral("not back after its switch to the boot loader"), true,
                  UpdateEvents::Loss::DuringUpdate);
}

void MainWindow::onUpdateStartUnanswered() {
    if (Globals::currentOrder != XModemDAL::IdUpdateSoftwareInfo || !serialPort ||
        !serialPort->isOpen() || !Globals::ReceivedData->isEmpty())
        return;
    qCInfo(lcApp).noquote() << "the boot loader sent nothing"
                            << Bounds::UpdateStartAnswerMs() / 1000.0
                            << "s after the update start: going on as if it had answered";
    handleUpdateSoftwareInfo(QByteArray());
}

void MainWindow::onRestartNotBack() {
    if (UpdateEvents::instance()->phase() != UpdateEvents::Phase::Restarting)
        return;
    const int seconds = Bounds::LostReturnMs() / 1000;
    if (!restartedBusy.isEmpty()) {
        // Back, but its port never opened: said as a busy port is, not as a
        // device that did not come back.
        const QString name = Globals::PortName;
        qCWarning(lcApp).noquote() << "the device restarted, and its port" << name
                                   << "stayed busy for" << seconds << "s:" << restartedBusy.english;
        const UserText text = UserText::Of("MainWindow", kRestartBusyFailure)
                                  .arg(name)
                                  .arg(seconds)
                                  .arg(restartedBusy);
        UpdateEvents::instance()->runFailed(UpdateEvents::Failure::Port, text,
                                            UserText::Of("MainWindow", kAdviceFreePort));
        auto* page = new NoDevice(text, Globals::StatusKind::Alert);
        setCentralWidget(page);
        return;
    }
    qCWarning(lcApp).noquote() << "the device confirmed its firmware, was told to restart and is"
                               << "not back after" << seconds << "s";
    UpdateEvents::instance()->runFailed(
        UpdateEvents::Failure::Device,
        UserText::Of("MainWindow", kRestartNotBackFailure).arg(seconds),
        UserText::Of("MainWindow", kAdviceReplug));
    auto* page = new NoDevice(UserText::Of("MainWindow", kRestartNotBackText).arg(seconds),
                              Globals::StatusKind::Alert);
    setCentralWidget(page);
    // Still looked for: a device that comes back later is identified.
}

void MainWindow::onSilence() {
    if (!serialPort || !serialPort->isOpen() || lastBytes.isEmpty())
        return;
    const double seconds = Bounds::DeviceSilenceMs() / 1000.0;
    if (silenceRepeats < Bounds::SilenceRetries) {
        ++silenceRepeats;
        qCWarning(lcApp).noquote()
            << "the device has sent nothing for" << seconds << "s after command" << lastOrder
            << ": sending it again (" << silenceRepeats << "of" << Bounds::SilenceRetries << ")";
        // A copy: the write records the command it sends as the last one.
        const QByteArray bytes = lastBytes;
        writeCommand(bytes.constData(), bytes.size(), lastOrder);
        return;
    }
    qCWarning(lcApp).noquote() << "the device stayed silent after command" << lastOrder
                               << "was sent" << 1 + Bounds::SilenceRetries << "times";
    UpdateEvents::instance()->runFailed(UpdateEvents::Failure::Device,
                                        UserText::Of("MainWindow", kSilentFailure),
                                        UserText::Of("MainWindow", kAdviceReplug));
    beginRecovery(UserText::Of("MainWindow", kSilentText), QStringLiteral("silent"), true,
                  UpdateEvents::Loss::DuringUpdate);
}

void MainWindow::onNotAnswering() {
    const QString name = Globals::PortName;
    UpdateEvents::instance()->deviceNotAnswering(name);
    // The identification goes on waiting: a late answer still shows the device.
    auto* page = new NoDevice(UserText::Of("MainWindow", kNotAnsweringText).arg(name),
                              Globals::StatusKind::Alert);
    AddControl(page);
}

void MainWindow::beginRecovery(const UserText& text, const QString& reason, bool search,
                               UpdateEvents::Loss loss) {
    const QString name = serialPort && !serialPort->portName().isEmpty() ? serialPort->portName()
                                                                         : Globals::PortName.get();
    CloseComPort();
    switchTimer->stop();
    identifyTimer->stop();
    // As during the update itself, the monitor does not report the device
    // gone; the search below, or InitPC once the device is back, runs it again.
    StopMonitor();
    // Found again, the device is asked for its init status as at start-up: a
    // boot loader answers with a carriage return and is asked for its model
    // (the device's earlier information is forgotten for that), a device back
    // in its normal firmware is identified.
    Globals::IsUpdateMode = false;
    Device::DeviceInfo.clear();
    recovering = true;
    recoveringBeforeSwitch = loss == UpdateEvents::Loss::BeforeSwitch;
    recoveryText = text;
    checksumMismatches = 0;
    // The window takes up whichever device comes next when nothing was done
    // to this one yet; that it is this one again is known once it answers.
    if (recoveringBeforeSwitch && !OneDevice())
        PortList::StopFollowing();
    UpdateEvents* events = UpdateEvents::instance();
    events->setPhase(UpdateEvents::Phase::Recovering);
    events->deviceLost(name, reason, loss);
    auto* page = new NoDevice(text, Globals::StatusKind::Alert);
    setCentralWidget(page);
    if (search) {
        searchForUpdate(&MainWindow::InitPC);
        return;
    }
    // The device is still there: it is taken up again once it has been
    // unplugged, which the monitor reports.
    startMonitor();
}

void MainWindow::giveUpOnChecksum() {
    qCWarning(lcApp).noquote() << "the device's checksum did not match" << checksumMismatches
                               << "times in a row";
    UpdateEvents::instance()->runFailed(UpdateEvents::Failure::Device,
                                        UserText::Of("MainWindow", kWrongChecksumFailure),
                                        UserText::Of("MainWindow", kAdviceReplug));
    beginRecovery(UserText::Of("MainWindow", kWrongChecksumText), QStringLiteral("wrong checksum"),
                  false, UpdateEvents::Loss::DuringUpdate);
}

void MainWindow::checkListing() {
    if (!serialPort || !serialPort->isOpen() || !UpdateUnderWay())
        return;
    const QString name = Globals::PortName;
    for (const PortEntry& entry : PortList::Available()) {
        if (entry.name == name && PortList::FindDevicePort({entry}, nullptr))
            return;
    }
    onPortLost(QStringLiteral("the port is no longer listed"));
}

bool MainWindow::CanChooseFirmware() const {
    // On the device page, with nothing under way: a device in its boot
    // loader that the service offers nothing may take a file too, its only
    // way out.
    return qobject_cast<InitPage*>(centralWidget()) && !recovering &&
           UpdateEvents::instance()->phase() == UpdateEvents::Phase::Idle;
}

void MainWindow::ChooseFirmwareFile() {
    if (!CanChooseFirmware())
        return;
    auto* dialog = new QFileDialog(this, tr(kChooseTitle));
    dialog->setObjectName(QStringLiteral("firmwareDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setNameFilters({tr(kFirmwareFiles), tr(kAllFiles)});
    connect(dialog, &QFileDialog::fileSelected, this, &MainWindow::OfferFirmwareFile);
    dialog->open();
}

void MainWindow::OfferFirmwareFile(const QString& path) {
    if (!CanChooseFirmware())
        return;
    ChosenFirmware firmware;
    UserText why;
    if (!ChosenFirmware::Load(path, QString(), &firmware, &why)) {
        qCWarning(lcApp).noquote() << "the chosen file is not taken:" << why.english;
        Globals::FailureLine =
            tr(kFailureLine)
                .arg(QLocale().toString(QTime::currentTime(), QLocale::ShortFormat), why.shown,
                     tr(kAdviceOtherFile) + QLatin1Char(' ') + tr(kDetailsText));
        if (auto* page = qobject_cast<InitPage*>(centralWidget()))
            page->ShowFailure(Globals::FailureLine);
        return;
    }
    // Asked about this file, what was said of another no longer applies.
    Globals::FailureLine.clear();
    if (auto* page = qobject_cast<InitPage*>(centralWidget()))
        page->ShowFailure(QString());
    const QString name = Utility::Displayable(QFileInfo(firmware.path).fileName());
    const qint64 kilobytes = (firmware.data.size() + 1023) / 1024;
    const QString sha = firmware.sha256.left(kShaShown);
    // A device in its boot loader has no version to tell.
    const QString text = Globals::IsUpdateMode
                             ? tr(kInstallBootQuestion).arg(name).arg(kilobytes).arg(sha)
                             : tr(kInstallQuestion)
                                   .arg(name)
                                   .arg(kilobytes)
                                   .arg(sha)
                                   .arg(Utility::Displayable(Device::VersionInfo));
    QMessageBox* box = Question::Ask(this, tr(kInstallTitle), text);
    box->setObjectName(QStringLiteral("installQuestion"));
    connect(box, &QMessageBox::finished, this, [this, box, firmware] {
        if (box->clickedButton() != box->button(QMessageBox::Yes) || !CanChooseFirmware()) {
            qCInfo(lcApp).noquote() << "the chosen file is not installed";
            return;
        }
        qCInfo(lcApp).noquote() << "the chosen file" << firmware.path << "is installed, as asked";
        XModemUpdate::SetChosenFirmware(firmware);
        chosenForThisRun = true;
        StartUpdate();
    });
    box->open();
}

void MainWindow::forgetChosenFirmware() {
    if (!chosenForThisRun)
        return;
    chosenForThisRun = false;
    XModemUpdate::SetChosenFirmware(ChosenFirmware());
    if (auto* page = qobject_cast<InitPage*>(centralWidget()))
        page->ShowOffer();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (CanChooseFirmware() && urls.size() == 1 && urls.first().isLocalFile())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() != 1 || !urls.first().isLocalFile())
        return;
    event->acceptProposedAction();
    // After the drop has ended: the question is a window of its own.
    const QString path = urls.first().toLocalFile();
    QTimer::singleShot(0, this, [this, path] { OfferFirmwareFile(path); });
}

void MainWindow::noteFailure() {
    // A file the user chose stays chosen for the next try: the window never
    // installs other firmware than the one asked for.
    const UpdateEvents* events = UpdateEvents::instance();
    Globals::FailureLine =
        tr(kFailureLine)
            .arg(QLocale().toString(events->lastFailureTime().time(), QLocale::ShortFormat),
                 events->lastFailure().shown,
                 (events->lastAdvice().shown + QLatin1Char(' ') + tr(kDetailsText)).trimmed())
            .trimmed();
    if (auto* page = qobject_cast<InitPage*>(centralWidget()))
        page->ShowFailure(Globals::FailureLine);
}

void MainWindow::noteIdentification(bool afterUpdate) {
    restartTimer->stop();
    if (afterUpdate) {
        forgetChosenFirmware();
        // A failure on the way is no news once the update has ended well.
        Globals::FailureLine.clear();
        const QString before = UpdateEvents::instance()->versionBefore();
        if (!OneDevice())
            recorder->end(
                QStringLiteral("updated"), 0,
                QStringLiteral("update complete: %1 -> %2")
                    .arg(before.isEmpty() ? QStringLiteral("?") : before, Device::VersionInfo),
                LogFile::Path());
        Globals::ResultLine = before.isEmpty() ? tr(kUpdatedToText).arg(Device::VersionInfo)
                                               : tr(kUpdatedText).arg(before, Device::VersionInfo);
    } else if (resetPending && resetSince.elapsed() < kResetBackWithinMs) {
        Globals::ResultLine = tr(kRestartedText);
    }
    resetPending = false;
}

void MainWindow::AskReset() {
    QMessageBox* box = Question::Ask(this, tr(kResetTitle), tr(kResetQuestion));
    box->setObjectName(QStringLiteral("resetQuestion"));
    connect(box, &QMessageBox::finished, this, [this, box] {
        if (box->clickedButton() == box->button(QMessageBox::Yes))
            ResetDevice();
    });
    box->open();
}

void MainWindow::ResetDevice() {
    qCInfo(lcApp).noquote() << "the device is told to restart";
    XModemDAL::ResetDevice();
    resetPending = true;
    resetSince.start();
    Globals::ResultLine = tr(kRestartingText);
    if (auto* page = qobject_cast<InitPage*>(centralWidget()))
        page->ShowResult(Globals::ResultLine);
    // A device whose port goes away is identified again when it is back; one
    // that keeps its port is asked once it has had time to restart.
    QTimer::singleShot(Bounds::RestartPauseMs(), this, &MainWindow::identifyAfterReset);
}

void MainWindow::identifyAfterReset() {
    if (!resetPending || !serialPort || !serialPort->isOpen() ||
        Globals::currentOrder != XModemDAL::IdResetDevice)
        return;
    qCDebug(lcApp).noquote() << "getInitStatus";
    hasReceivedData = false;
    identifyTimer->start(Bounds::NotAnsweringMs());
    XModemDAL::GetInitStatus();
}

void MainWindow::afterIdentification() {
    identifyTimer->stop();
    UpdateEvents* events = UpdateEvents::instance();
    const bool wasRecovering = recovering;
    recovering = false;
    recoveringBeforeSwitch = false;
    if (!wasRecovering || events->phase() != UpdateEvents::Phase::Recovering)
        return;
    // Back in its old firmware: the update starts again, as promised.
    qCInfo(lcApp).noquote() << "the device came back with firmware" << Device::VersionInfo
                            << ": its update starts again";
    QTimer::singleShot(0, this, &MainWindow::StartUpdate);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (closeAgreed || !UpdateEvents::instance()->deviceMidUpdate()) {
        event->accept();
        return;
    }
    QPointer<QMessageBox> question = Question::Ask(this, tr(kCloseTitle), tr(kCloseQuestion));
    question->setAttribute(Qt::WA_DeleteOnClose, false);
    question->setObjectName(QStringLiteral("closeQuestion"));
    question->button(QMessageBox::Yes)->setText(tr(kCloseYes));
    question->button(QMessageBox::No)->setText(tr(kCloseNo));
    question->exec();
    const bool agreed = question && question->clickedButton() == question->button(QMessageBox::Yes);
    delete question;
    if (!agreed) {
        qCInfo(lcApp).noquote() << "closing asked for mid-update: the tool stays open";
        event->ignore();
        return;
    }
    qCWarning(lcApp).noquote() << "closed mid-update: the device stays in its boot loader";
    recorder->end(QStringLiteral("interrupted"), 130,
                  QStringLiteral("the window was closed during the update; the device is left in "
                                 "its boot loader"),
                  LogFile::Path());
    closeAgreed = true;
    event->accept();
}
