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
#include "device/threadsleep.h"
#include "device/xmodemdal.h"
#include "pages/initpage.h"
#include "pages/question.h"

#include <QCloseEvent>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSerialPort>
#include <QTimer>

namespace {
const char* const kSilentText = QT_TRANSLATE_NOOP(
    "MainWindow", "The device stopped answering during the update. Unplug it and plug it in "
                  "again: the update continues by itself.");
const char* const kWrongChecksumText = QT_TRANSLATE_NOOP(
    "MainWindow", "The device reports a checksum that does not match the firmware. Unplug it and "
                  "plug it in again to try once more.");
const char* const kNotAnsweringText =
    QT_TRANSLATE_NOOP("MainWindow", "The device on %1 does not answer");
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

// The failures the run reports, in the log's and the command line's words.
const QString kSilentFailure = QStringLiteral("The device stopped answering during the update");
const QString kWrongChecksumFailure =
    QStringLiteral("The device reports a checksum that does not match the firmware");
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
    UpdateEvents::instance()->runFailed(UpdateEvents::Failure::Device, kSilentFailure);
    beginRecovery(tr(kSilentText), QStringLiteral("silent"), true);
}

void MainWindow::onNotAnswering() {
    const QString name = Globals::PortName;
    UpdateEvents::instance()->deviceNotAnswering(name);
    // The identification goes on waiting: a late answer still shows the device.
    auto* page = new NoDevice();
    page->SetMessage(tr(kNotAnsweringText).arg(name), Globals::StatusKind::Alert);
    AddControl(page);
}

void MainWindow::beginRecovery(const QString& text, const QString& reason, bool search) {
    const QString name = Globals::PortName;
    CloseComPort();
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
    recoveryText = text;
    checksumMismatches = 0;
    UpdateEvents* events = UpdateEvents::instance();
    events->setPhase(UpdateEvents::Phase::Recovering);
    events->deviceLost(name, reason);
    auto* page = new NoDevice();
    page->SetMessage(text, Globals::StatusKind::Alert);
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
    UpdateEvents::instance()->runFailed(UpdateEvents::Failure::Device, kWrongChecksumFailure);
    beginRecovery(tr(kWrongChecksumText), QStringLiteral("wrong checksum"), false);
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

void MainWindow::noteIdentification(bool afterUpdate) {
    if (afterUpdate) {
        const QString before = UpdateEvents::instance()->versionBefore();
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
    closeAgreed = true;
    event->accept();
}
