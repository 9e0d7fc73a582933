// The reply handler: every byte from the device arrives here, and the branch
// for the command written last reads it and writes the next command.
#include "app/logging.h"
#include "app/mainwindow.h"
#include "app/state/bounds.h"
#include "app/state/updateevents.h"
#include "device/platform.h"
#include "device/portlist.h"
#include "device/threadcomport.h"
#include "device/threadmonitordevice.h"
#include "device/xmodemdal.h"
#include "pages/initpage.h"
#include "pages/xmodemupdate.h"
#include "util/utility.h"

#include <QSerialPort>
#include <QTimer>

using namespace XModemDAL;

namespace {
const char kFrameStart = '\x6E';
const char kFrameEnd = '\x8F';
const char kCarriageReturn = '\x0D';
const char kLineFeed = '\x0A';
const int kInitStatusLength = 6;
const int kDeviceInfoMinimum = 17;
const int kWatchIdMinimum = 24;
const int kWatchIdPieceMinimum = 19;
const int kBootModelMinimum = 11;
const int kShortDeviceInfo = 5;
// The receive buffer keeps at most this many of the newest bytes: far above
// the longest reply (some tens of bytes), so a device that keeps talking where
// nothing reads costs neither memory nor time per notification without bound.
const int kReceiveLimit = 64 * 1024;
const QString kModelFragment = QStringLiteral("52M");
const QString kUpdatableModel = QStringLiteral("131152M2300101");
const QString kProductType = QStringLiteral("R52M");
const QString kRestartMarker = QStringLiteral("Restart");
const QString kRestartMarkerAlt = QStringLiteral("Value");

// The transfer's texts (their spacing too): sent and total kilobytes after an
// acknowledged packet, total and sent after a refused one.
const char* const kTextPacketSent =
    QT_TRANSLATE_NOOP("MainWindow", " firmware processing   %2/%1 KB");
const char* const kTextPacketRefused =
    QT_TRANSLATE_NOOP("MainWindow", " firmware processing    %1/%2 KB");
const char* const kTextVerified = QT_TRANSLATE_NOOP("MainWindow", "Update Successfully");
const char* const kTextRestarted = QT_TRANSLATE_NOOP("MainWindow", "Firmware Update Successfully");

const char kResetFrame[] = {'\x6E', '\x01', '\x11', '\x01', '\x8F', '\x6E'};

// A byte taken as a signed 8-bit value, in decimal.
QString decimal(const QByteArray& bytes, int index) {
    return Utility::IntToStr(static_cast<qint8>(bytes.at(index)));
}

QString hexText(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex());
}

// A framed reply is complete once its last byte is the frame's end byte.
bool endsFrame(const QByteArray& bytes) {
    return !bytes.isEmpty() && bytes.at(bytes.size() - 1) == kFrameEnd;
}

// Replies that are read whole: their branch waits for the frame's end byte or
// for the line to go quiet. The one-byte replies of the packet phase and the
// boot loader's answer to the update start are read as they come.
bool readsWholeReplies(int order) {
    switch (order) {
    case IdGetInitStatus:
    case IdGetDeviceInfo:
    case IdGetVersionInfo:
    case IdGetWatchId:
    case IdGetDeviceInfoWhenUpdate:
    case IdCrcOrder:
    case IdRestartOrder:
        return true;
    default:
        return false;
    }
}

bool isAsciiDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Where a checksum report holds the expected sum: nowhere, as its last digits
// (more digits may still come), or followed by another character.
enum class ChecksumFound { No, AtEnd, Whole };

// The device reports its checksum as text holding a decimal number, such as
// "CRC:51234": a run of digits counts when it is the expected sum, also
// zero-padded or, after a minus sign, signed; a longer number that merely
// contains it does not ("5120" is not 512).
ChecksumFound findChecksum(const QString& text, int expected) {
    ChecksumFound found = ChecksumFound::No;
    for (int i = 0; i < text.size();) {
        if (!isAsciiDigit(text.at(i))) {
            ++i;
            continue;
        }
        const int first = i;
        while (i < text.size() && isAsciiDigit(text.at(i)))
            ++i;
        const QString digits = text.mid(first, i - first);
        // Digits after a minus sign are a negative number, never the same
        // digits unsigned: "-512" is not 512.
        const bool negative = first > 0 && text.at(first - 1) == QLatin1Char('-');
        if (!ChecksumEquals(negative ? QLatin1Char('-') + digits : digits, expected))
            continue;
        if (i < text.size())
            return ChecksumFound::Whole;
        found = ChecksumFound::AtEnd;
    }
    return found;
}
} // namespace

void MainWindow::HandlerData() {
    hasReceivedData = true;
    if (!serialPort || !serialPort->isOpen())
        return;
    const QByteArray newBytes = serialPort->readAll();
    if (newBytes.isEmpty())
        return;
    Wire::Received(Globals::currentOrder, newBytes);
    appendReceived(newBytes);
    // Any byte from the boot loader shows that it still answers.
    if (IsBootLoaderCommand(Globals::currentOrder)) {
        silenceRepeats = 0;
        silenceTimer->start(Bounds::DeviceSilenceMs());
    }
    if (pauseTimer->isActive()) {
        receivedInPause.append(newBytes);
        return;
    }
    if (readsWholeReplies(Globals::currentOrder))
        replyQuietTimer->start();
    dispatchReply(newBytes, false);
}

void MainWindow::appendReceived(const QByteArray& bytes) {
    QByteArray& buffer = *Globals::ReceivedData;
    buffer.append(bytes);
    const int excess = buffer.size() - kReceiveLimit;
    if (excess <= 0)
        return;
    buffer.remove(0, excess);
    if (receiveOverflowLogged)
        return;
    receiveOverflowLogged = true;
    qCDebug(lcApp).noquote() << "the device sent more than" << kReceiveLimit
                             << "bytes without a reply being taken; only the newest are kept";
}

// The line has been silent for the quiet interval: a reply that has not ended
// itself is now taken as complete.
void MainWindow::onReplyQuiet() {
    // During a pause nothing is decided: the pause's end reads what came.
    if (pauseTimer->isActive())
        return;
    // Bytes still waiting in the system are read before anything is decided.
    if (Platform::PendingInput(serialPort) > 0) {
        replyQuietTimer->start();
        return;
    }
    if (Globals::ReceivedData->isEmpty() || !readsWholeReplies(Globals::currentOrder))
        return;
    dispatchReply(QByteArray(), true);
}

bool MainWindow::replyComplete(bool quiet) const {
    if (quiet || !readsWholeReplies(Globals::currentOrder))
        return true;
    const QByteArray& buffer = *Globals::ReceivedData;
    switch (Globals::currentOrder) {
    case IdGetInitStatus:
    case IdGetDeviceInfo:
    case IdGetVersionInfo:
    case IdGetWatchId:
        return endsFrame(buffer);
    case IdCrcOrder:
        return findChecksum(Utility::Latin1UpToNul(buffer), Globals::FileCrc) ==
               ChecksumFound::Whole;
    default:
        return false;
    }
}

void MainWindow::dispatchReply(const QByteArray& newBytes, bool quiet) {
    if (!replyComplete(quiet))
        return;
    switch (Globals::currentOrder) {
    case IdGetInitStatus:
        handleInitStatus();
        break;
    case IdGetDeviceInfo:
        handleDeviceInfo();
        break;
    case IdGetVersionInfo:
        handleVersion();
        break;
    case IdGetWatchId:
        handleWatchId();
        break;
    case IdUpdateSoftwareInfo:
        handleUpdateSoftwareInfo(newBytes);
        break;
    case IdGetDeviceInfoWhenUpdate:
        handleDeviceInfoWhenUpdate();
        break;
    case IdStartOrder:
        handleStartOrder(newBytes);
        break;
    case IdSendPacket:
        handlePacketReply(newBytes);
        break;
    case IdEndOrder:
        handleEndOrder(newBytes);
        break;
    case IdCrcOrder:
        handleCrcOrder();
        break;
    case IdRestartOrder:
        handleRestartOrder();
        break;
    default:
        break; // no branch: the bytes stay in the buffer
    }
}

// Init status, the answer to 6E 01 02 01 8F:
//   normal firmware:  6E xx xx <status> xx xx        (6 bytes, status signed)
//   boot loader:      0D 0A ...                      (carriage return first)
// Any other reply, whatever its length, goes on to the version query.
void MainWindow::handleInitStatus() {
    const QByteArray& buffer = *Globals::ReceivedData;
    qCDebug(lcApp).noquote() << "GetInitStatus";
    int n = buffer.size();

    if (n >= 2 && buffer.at(0) == kCarriageReturn) {
        if (Device::DeviceInfo.size() < kShortDeviceInfo) {
            Globals::IsUpdateMode = true;
            GetDeviceInfoWhenUpdate();
            return;
        }
        if (buffer.at(1) == kLineFeed) {
            if (!proveDevice(DeviceMode::BootLoader))
                return;
            Globals::IsUpdateMode = true;
            identifyTimer->stop();
            recovering = false;
            recoveringBeforeSwitch = false;
            AddControl(new XModemUpdate());
        }
        n = Globals::ReceivedData->size();
    }

    if (n == kInitStatusLength) {
        qCDebug(lcApp).noquote() << hexText(*Globals::ReceivedData);
        Device::InitStatus = decimal(*Globals::ReceivedData, 3);
        qCDebug(lcApp).noquote() << "初始化状态:  " + Device::InitStatus;
        if (Globals::IsNeedResetDevice) {
            SendData(kResetFrame, IdResetDevice, sizeof(kResetFrame));
            Globals::IsNeedResetDevice = false;
        }
    }
    GetVersionInfo();
}

// Version, the answer to 6E 01 03 03 8F, read from its first 6E:
//   6E xx xx <major> <minor> 8F             (6 bytes)  -> "major.0minor" below 10
//   6E xx xx <a> <b> <c> 8F                 (7 bytes)  -> "a.b.c"
//   6E xx xx <a> <b> ... 8F                 (8 bytes)  -> "a.b"
// Another length keeps the version read before.
void MainWindow::handleVersion() {
    const QByteArray& buffer = *Globals::ReceivedData;
    const int start = buffer.indexOf(kFrameStart);
    if (start < 0)
        return;
    qCDebug(lcApp).noquote() << "GetVersionInfo" << hexText(buffer);
    const QByteArray reply = buffer.mid(start);
    const int length = reply.size();
    if (length == 7) {
        Device::VersionInfo =
            QString("%1.%2.%3").arg(decimal(reply, 3), decimal(reply, 4), decimal(reply, 5));
    } else if (length == 6) {
        const int minor = static_cast<qint8>(reply.at(4));
        Device::VersionInfo =
            QString(minor <= 9 ? "%1.0%2" : "%1.%2").arg(decimal(reply, 3), decimal(reply, 4));
    } else if (length == 8) {
        Device::VersionInfo = QString("%1.%2").arg(decimal(reply, 3), decimal(reply, 4));
    }
    qCDebug(lcApp).noquote() << "版本信息：  " + Utility::Printable(Device::VersionInfo);
    GetDeviceInfo();
}

// Device information, the answer to 6E 01 03 02 8F:
//   6E xx xx <model text ...> xx xx        (17 bytes or more)
void MainWindow::handleDeviceInfo() {
    QByteArray& buffer = *Globals::ReceivedData;
    const auto clean = [](QString text) {
        return text.remove(QLatin1Char(' ')).remove(QLatin1Char('?')).trimmed();
    };
    qCDebug(lcApp).noquote() << "GetDeviceInfo" << buffer.size()
                             << Utility::Printable(clean(Utility::Utf8UpToNul(buffer)));
    if (buffer.size() < kDeviceInfoMinimum)
        return;
    const QByteArray payload = buffer.mid(3, buffer.size() - 5);
    buffer = payload;
    Device::DeviceInfo = clean(Utility::Utf8UpToNul(payload));
    if (Device::DeviceInfo.contains(kModelFragment))
        Device::DeviceInfo = kUpdatableModel;
    Globals::ProductType = kProductType;
    Globals::DeviceModel = Device::DeviceInfo;
    qCDebug(lcApp).noquote() << "固件信息：  " + Utility::Printable(Device::DeviceInfo);
    qCDebug(lcApp).noquote() << "Globals::ProductType  " + Globals::ProductType;
    GetWatchId();
}

// Device number, the answer to 6E 01 04 01 8F:
//   ... 6E xx xx F<device number, 19 characters or more> xx   (24 bytes or more)
void MainWindow::handleWatchId() {
    QByteArray& buffer = *Globals::ReceivedData;
    const QString text = Utility::Utf8UpToNul(buffer);
    qCDebug(lcApp).noquote() << "GetWatchId" << buffer.size() << Utility::Printable(text);
    if (buffer.size() < kWatchIdMinimum)
        return;
    if (!text.contains(QLatin1Char('F')))
        return;
    const QString piece = text.split(QLatin1Char('F')).value(1);
    qCDebug(lcApp).noquote() << Utility::Printable(piece);
    if (piece.size() < kWatchIdPieceMinimum)
        return;
    const int start = buffer.indexOf(kFrameStart);
    if (start < 0)
        return;
    buffer.remove(0, start + 3);
    buffer.chop(1);
    Device::WatchId = Utility::Utf8UpToNul(buffer).trimmed();
    qCDebug(lcApp).noquote() << "设备ID：  " + Utility::Printable(Device::WatchId);
    EndInfoQuery();
    // Proven by what it says of itself, or another unit, which is not taken up.
    if (!proveDevice(DeviceMode::Firmware, Device::WatchId))
        return;
    noteIdentification(UpdateEvents::instance()->deviceIdentified(
        Device::VersionInfo, Device::DeviceInfo, Device::WatchId, Globals::PortName));
    AddControl(new InitPage());
    afterIdentification();
}

// Boot-loader device information, the answer to "c": its model as text,
// 11 bytes or more, taken once the line is quiet.
void MainWindow::handleDeviceInfoWhenUpdate() {
    qCDebug(lcApp).noquote() << "GetDeviceInfoWhenUpdate:" +
                                    Utility::Printable(*Globals::ReceivedData);
    if (Globals::ReceivedData->size() < kBootModelMinimum) {
        qCDebug(lcApp).noquote() << "getDeviceInfoWhenUpdate 再发一次获取固件";
        GetDeviceInfoWhenUpdate();
        return;
    }
    Device::DeviceInfo = Utility::Utf8UpToNul(*Globals::ReceivedData).trimmed();
    qCDebug(lcApp).noquote() << "Device::DeviceInfo=" + Utility::Printable(Device::DeviceInfo);
    if (!Device::DeviceInfo.contains(kUpdatableModel))
        return;
    if (!proveDevice(DeviceMode::BootLoader))
        return;
    Globals::DeviceModel = kUpdatableModel;
    identifyTimer->stop();
    recovering = false;
    recoveringBeforeSwitch = false;
    UpdateEvents::instance()->bootLoaderFound(kUpdatableModel, Globals::PortName);
    AddControl(new XModemUpdate());
}

// Answer to UpdateSoftwareInfo: any bytes (or, from a boot loader, none for
// a while). The device restarts into its boot loader; the port is closed and
// searched for again, for a bounded time.
void MainWindow::handleUpdateSoftwareInfo(const QByteArray& newBytes) {
    qCDebug(lcApp).noquote() << "UpdateSoftwareInfo:" + Utility::Printable(newBytes);
    updateStartTimer->stop();
    StopMonitor();
    CloseComPort();
    pauseForRestart([this] {
        Globals::currentOrder = IdStartOrder;
        switchTimer->start(Bounds::SwitchBackMs());
        searchForUpdate(&MainWindow::OpenComPortForUpdate);
    });
}

void MainWindow::OpenComPortForUpdate() {
    qCDebug(lcApp).noquote() << "OpenComPortForUpdate";
    switchTimer->stop();
    const QString name = Globals::PortName;
    // Expected at the device's place, in its boot loader, as it restarted.
    const bool chosenNow = chooseDevice(name, DeviceMode::BootLoader);
    if (chosenNow && OpenComPort(name)) {
        qCDebug(lcApp).noquote() << "Globals::currentOrder" << Globals::currentOrder;
        if (Globals::currentOrder != IdCrcOrder) {
            checksumMismatches = 0;
            UpdateEvents::instance()->setPhase(UpdateEvents::Phase::Transferring);
            StartTransfer();
        }
        return;
    }
    // Listed but not to be opened (held by another program): said as any
    // busy port is, and tried again.
    if (chosenNow)
        sayCannotOpen(name);
    Globals::currentOrder = IdGetDeviceInfo;
    searchForUpdate(&MainWindow::OpenComPortForUpdate);
}

// Answer to "u": "C" when the boot loader is ready for the first packet.
void MainWindow::handleStartOrder(const QByteArray& newBytes) {
    if (newBytes.isEmpty() || newBytes.at(0) != ReadyC)
        return;
    qCDebug(lcApp).noquote() << "收到67，开始发送";
    Globals::IsNeedResetDevice = false;
    SendNextPacket(Globals::UpdateFilePath);
}

// Answer to a packet, by its first byte: ACK, NAK, CAN, "C" or EOT.
void MainWindow::handlePacketReply(const QByteArray& newBytes) {
    if (newBytes.isEmpty())
        return;
    const int sentKB = (PacketIndex * PacketSize) / 1024;
    switch (newBytes.at(0)) {
    case ACK:
        // The progress page comes once, with the second packet: not anew
        // each time the sequence wraps, which a screen reader would read
        // out again from its top.
        if (Sequence == 2 && !qobject_cast<NoDevice*>(centralWidget())) {
            qCDebug(lcApp).noquote() << "progress page at packet" << PacketIndex;
            AddControl(new NoDevice());
        }
        ++Sequence;
        ++PacketIndex;
        emit UpdateEvents::instance()->TransferProgress(
            qMin<qint64>(qint64(PacketIndex - 1) * PacketSize, FileSize), FileSize);
        if (PacketIndex > PacketCount) {
            qCDebug(lcApp).noquote() << "XModemDAL::EndOrder()";
            UpdateEvents::instance()->setPhase(UpdateEvents::Phase::Verifying);
            EndOrder();
            return;
        }
        // The packet goes out first: the device waits for it, the label does not.
        SendNextPacket(Globals::UpdateFilePath);
        Globals::SetProgressText(UserText::Of("MainWindow", kTextPacketSent)
                                     .arg(FileSizeKB)
                                     .arg((PacketIndex * PacketSize) / 1024),
                                 qint64(PacketIndex - 1) * PacketSize, FileSize);
        return;
    case NAK:
        qCDebug(lcApp).noquote() << "重发";
        Globals::SetStatusText(
            UserText::Of("MainWindow", kTextPacketRefused).arg(FileSizeKB).arg(sentKB));
        StartTransfer();
        return;
    case CAN:
        qCDebug(lcApp).noquote() << "无条件终止传输";
        return;
    case ReadyC:
        if (Platform::IsWindows10()) {
            qCDebug(lcApp).noquote() << "windows 10 系统";
            StartTransfer();
        }
        return;
    case EOT:
        qCDebug(lcApp).noquote() << "发送完成";
        return;
    default:
        return;
    }
}

// Answer to EOT: ACK, then the checksum is asked for twice.
void MainWindow::handleEndOrder(const QByteArray& newBytes) {
    if (newBytes.isEmpty())
        return;
    qCDebug(lcApp).noquote() << "EndOrder:" + Utility::Printable(newBytes.left(1));
    if (newBytes.at(0) != ACK)
        return;
    CrcOrder();
    CrcOrder();
}

// Answer to "v": the device's checksum of what it received, as text holding
// the decimal number (for example "CRC:51234"). A match followed by another
// character is taken at once; anything else once the line is quiet.
void MainWindow::handleCrcOrder() {
    const QString reported = Utility::Latin1UpToNul(*Globals::ReceivedData);
    const ChecksumFound found = findChecksum(reported, Globals::FileCrc);
    qCDebug(lcApp).noquote() << "正确CRC:" + Utility::IntToStr(Globals::FileCrc);
    qCDebug(lcApp).noquote() << "实际CRC:" + Utility::Printable(reported);
    if (found == ChecksumFound::No) {
        // A device that keeps reporting another sum would be asked for good.
        if (++checksumMismatches >= Bounds::ChecksumMismatches) {
            giveUpOnChecksum();
            return;
        }
        qCDebug(lcApp).noquote() << "再发CRC";
        CrcOrder();
        return;
    }
    checksumMismatches = 0;
    qCDebug(lcApp).noquote() << "CRC is equal,send RestartOrder";
    UpdateEvents::instance()->checksumConfirmed();
    UpdateEvents::instance()->setPhase(UpdateEvents::Phase::Restarting);
    // From here the device is waited for, for a bounded time, however it goes.
    restartTimer->start(Globals::RestartPauseMs + Bounds::LostReturnMs());
    restartedBusy = UserText();
    Globals::SetStatusText(UserText::Of("MainWindow", kTextVerified));
    Globals::NoDeviceMessage = Globals::PlugInMessage;
    Globals::IsNeedResetDevice = true;
    RestartOrder();
    pauseForRestart();
}

// Answer to "r": a text containing "Restart" (or "Value") confirms the
// restart; read whole, once the line is quiet.
void MainWindow::handleRestartOrder() {
    const QString reply = Utility::Latin1UpToNul(*Globals::ReceivedData);
    qCDebug(lcApp).noquote() << "RestartOrder，重启:" + Utility::Printable(reply);
    if (!reply.contains(kRestartMarker) && !reply.contains(kRestartMarkerAlt))
        return;
    Globals::IsUpdateMode = false;
    UpdateEvents::instance()->deviceRestarting();
    Globals::SetStatusText(UserText::Of("MainWindow", kTextRestarted));
    CloseComPort();
    searchForUpdate(&MainWindow::InitPC);
}

void MainWindow::pauseForRestart(const std::function<void()>& then) {
    afterPause = then;
    receivedInPause.clear();
    lineLostInPause = false;
    pauseTimer->start(qMax(0, Globals::RestartPauseMs));
}

void MainWindow::endPause() {
    const std::function<void()> then = std::move(afterPause);
    afterPause = nullptr;
    if (then)
        then();
    // What arrived meanwhile is read now, in one piece, and a line lost
    // meanwhile is taken as lost now.
    const QByteArray received = receivedInPause;
    receivedInPause.clear();
    if (lineLostInPause) {
        lineLostInPause = false;
        lineGone(received, lostInPause);
        return;
    }
    if (!received.isEmpty() && serialPort && serialPort->isOpen()) {
        if (readsWholeReplies(Globals::currentOrder))
            replyQuietTimer->start();
        dispatchReply(received, false);
    }
}
