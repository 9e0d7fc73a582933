// The reply handler: every byte from the device arrives here, and the branch
// for the command written last reads it and writes the next command.
#include "app/logging.h"
#include "app/mainwindow.h"
#include "device/platform.h"
#include "device/threadcomport.h"
#include "device/threadmonitordevice.h"
#include "device/xmodemdal.h"
#include "pages/initpage.h"
#include "pages/xmodemupdate.h"
#include "util/utility.h"

#include <QSerialPort>

using namespace XModemDAL;

namespace {
const char kFrameStart = '\x6E';
const char kFrameEnd = '\x8F';
const char kCarriageReturn = '\x0D';
const char kLineFeed = '\x0A';
const int kInitStatusLength = 6;
const int kLongestVersionReply = 8;
const int kDeviceInfoMinimum = 17;
const int kWatchIdMinimum = 24;
const int kWatchIdPieceMinimum = 19;
const int kBootModelMinimum = 11;
const int kShortDeviceInfo = 5;
const QString kModelFragment = QStringLiteral("52M");
const QString kUpdatableModel = QStringLiteral("131152M2300101");
const QString kProductType = QStringLiteral("R52M");
const QString kRestartMarker = QStringLiteral("Restart");
const QString kRestartMarkerAlt = QStringLiteral("Value");

const char kResetFrame[] = {'\x6E', '\x01', '\x11', '\x01', '\x8F', '\x6E'};

// A byte taken as a signed 8-bit value, in decimal.
QString decimal(const QByteArray& bytes, int index) {
    return Utility::IntToStr(static_cast<qint8>(bytes.at(index)));
}

QString hexText(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex());
}

// True when text holds the decimal number as a whole number: not preceded or
// followed by another digit.
bool containsWholeNumber(const QString& text, int number) {
    const QString wanted = Utility::IntToStr(number);
    for (int from = 0;;) {
        const int at = text.indexOf(wanted, from);
        if (at < 0)
            return false;
        const int end = at + wanted.size();
        const bool digitBefore = at > 0 && text.at(at - 1).isDigit();
        const bool digitAfter = end < text.size() && text.at(end).isDigit();
        if (!digitBefore && !digitAfter)
            return true;
        from = at + 1;
    }
}
} // namespace

void MainWindow::HandlerData() {
    hasReceivedData = true;
    if (!serialPort)
        return;
    const QByteArray newBytes = serialPort->readAll();
    Globals::ReceivedData->append(newBytes);

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
        handleDeviceInfoWhenUpdate(newBytes);
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
        handleCrcOrder(newBytes);
        break;
    case IdRestartOrder:
        handleRestartOrder(newBytes);
        break;
    default:
        break; // no branch: the bytes stay in the buffer
    }
}

// Init status, the answer to 6E 01 02 01 8F:
//   normal firmware:  6E xx xx <status> xx xx        (6 bytes, status signed)
//   boot loader:      0D 0A ...                      (carriage return first)
void MainWindow::handleInitStatus() {
    const QByteArray& buffer = *Globals::ReceivedData;
    qCDebug(lcApp).noquote() << "GetInitStatus";
    int n = buffer.size();

    // A normal reply, or the boot loader's line break, that the port delivered
    // in pieces: wait for the rest instead of reading a fragment.
    if (n > 0 && n < kInitStatusLength && buffer.at(0) == kFrameStart)
        return;
    if (n == 1 && buffer.at(0) == kCarriageReturn)
        return;

    if (n >= 2 && buffer.at(0) == kCarriageReturn) {
        if (Device::DeviceInfo.size() < kShortDeviceInfo) {
            Globals::IsUpdateMode = true;
            GetDeviceInfoWhenUpdate();
            return;
        }
        if (buffer.at(1) == kLineFeed) {
            Globals::IsUpdateMode = true;
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

// Version, the answer to 6E 01 03 03 8F:
//   6E xx xx <major> <minor> 8F             (6 bytes)  -> "major.0minor" below 10
//   6E xx xx <a> <b> <c> 8F                 (7 bytes)  -> "a.b.c"
//   6E xx xx <a> <b> ... 8F                 (8 bytes)  -> "a.b"
// The reply is read from the buffer, from its first 6E, once it ends with the
// end byte or has reached the longest form, so that a reply delivered in
// pieces reads the same as one delivered whole.
void MainWindow::handleVersion() {
    const QByteArray& buffer = *Globals::ReceivedData;
    qCDebug(lcApp).noquote() << "GetVersionInfo" << hexText(buffer);
    const int start = buffer.indexOf(kFrameStart);
    if (start < 0)
        return;
    const QByteArray reply = buffer.mid(start);
    const int length = reply.size();
    if (reply.at(length - 1) != kFrameEnd && length < kLongestVersionReply)
        return;

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
    qCDebug(lcApp).noquote() << "版本信息：  " + Device::VersionInfo;
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
                             << clean(Utility::Utf8UpToNul(buffer));
    if (buffer.size() < kDeviceInfoMinimum)
        return;
    const QByteArray payload = buffer.mid(3, buffer.size() - 5);
    buffer = payload;
    Device::DeviceInfo = clean(Utility::Utf8UpToNul(payload));
    if (Device::DeviceInfo.contains(kModelFragment))
        Device::DeviceInfo = kUpdatableModel;
    Globals::ProductType = kProductType;
    Globals::DeviceModel = Device::DeviceInfo;
    qCDebug(lcApp).noquote() << "固件信息：  " + Device::DeviceInfo;
    qCDebug(lcApp).noquote() << "Globals::ProductType  " + Globals::ProductType;
    GetWatchId();
}

// Device number, the answer to 6E 01 04 01 8F:
//   ... 6E xx xx F<device number, 19 characters or more> xx   (24 bytes or more)
void MainWindow::handleWatchId() {
    QByteArray& buffer = *Globals::ReceivedData;
    const QString text = Utility::Utf8UpToNul(buffer);
    qCDebug(lcApp).noquote() << "GetWatchId" << buffer.size() << text;
    if (buffer.size() < kWatchIdMinimum)
        return;
    if (!text.contains(QLatin1Char('F')))
        return;
    const QString piece = text.split(QLatin1Char('F')).value(1);
    qCDebug(lcApp).noquote() << piece;
    if (piece.size() < kWatchIdPieceMinimum)
        return;
    const int start = buffer.indexOf(kFrameStart);
    if (start < 0)
        return;
    buffer.remove(0, start + 3);
    buffer.chop(1);
    Device::WatchId = Utility::Utf8UpToNul(buffer).trimmed();
    qCDebug(lcApp).noquote() << "设备ID：  " + Device::WatchId;
    EndInfoQuery();
    AddControl(new InitPage());
}

// Boot-loader device information, the answer to "c": its model as text,
// 11 bytes or more in one write.
void MainWindow::handleDeviceInfoWhenUpdate(const QByteArray& newBytes) {
    qCDebug(lcApp).noquote() << "GetDeviceInfoWhenUpdate:" + Utility::Utf8UpToNul(newBytes);
    if (Globals::ReceivedData->size() < kBootModelMinimum) {
        qCDebug(lcApp).noquote() << "getDeviceInfoWhenUpdate 再发一次获取固件";
        GetDeviceInfoWhenUpdate();
        return;
    }
    Device::DeviceInfo = Utility::Utf8UpToNul(*Globals::ReceivedData).trimmed();
    qCDebug(lcApp).noquote() << "Device::DeviceInfo=" + Device::DeviceInfo;
    if (!Device::DeviceInfo.contains(kUpdatableModel))
        return;
    Globals::DeviceModel = kUpdatableModel;
    AddControl(new XModemUpdate());
}

// Answer to UpdateSoftwareInfo: any bytes. The device restarts into its boot
// loader; the port is closed and searched for again.
void MainWindow::handleUpdateSoftwareInfo(const QByteArray& newBytes) {
    qCDebug(lcApp).noquote() << "UpdateSoftwareInfo:" + Utility::Utf8UpToNul(newBytes);
    StopMonitor();
    CloseComPort();
    pauseForRestart();
    Globals::currentOrder = IdStartOrder;
    updatePortThread = newSearchThread(&MainWindow::OpenComPortForUpdate);
    updatePortThread->start(QThread::InheritPriority);
}

void MainWindow::OpenComPortForUpdate() {
    qCDebug(lcApp).noquote() << "OpenComPortForUpdate";
    if (OpenComPort(Globals::PortName)) {
        qCDebug(lcApp).noquote() << "Globals::currentOrder" << Globals::currentOrder;
        if (Globals::currentOrder != IdCrcOrder)
            StartTransfer();
        return;
    }
    Globals::currentOrder = IdGetDeviceInfo;
    updatePortThread = newSearchThread(&MainWindow::OpenComPortForUpdate);
    updatePortThread->start(QThread::InheritPriority);
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
        if (Sequence == 2) {
            qCDebug(lcApp).noquote() << "progress page at packet" << PacketIndex;
            AddControl(new NoDevice());
        }
        ++Sequence;
        ++PacketIndex;
        if (PacketIndex > PacketCount) {
            qCDebug(lcApp).noquote() << "XModemDAL::EndOrder()";
            EndOrder();
            return;
        }
        Globals::SetStatusText(QString(" firmware processing   %2/%1 KB")
                                   .arg(FileSizeKB)
                                   .arg((PacketIndex * PacketSize) / 1024));
        SendNextPacket(Globals::UpdateFilePath);
        return;
    case NAK:
        qCDebug(lcApp).noquote() << "重发";
        Globals::SetStatusText(
            QString(" firmware processing    %1/%2 KB").arg(FileSizeKB).arg(sentKB));
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
    qCDebug(lcApp).noquote() << "EndOrder:" + QString(QLatin1Char(newBytes.at(0)));
    if (newBytes.at(0) != ACK)
        return;
    CrcOrder();
    CrcOrder();
}

// Answer to "v": the device's checksum of what it received, as text holding
// the decimal number (for example "CRC:51234").
void MainWindow::handleCrcOrder(const QByteArray& newBytes) {
    qCDebug(lcApp).noquote() << "正确CRC:" + Utility::IntToStr(Globals::FileCrc);
    const QString reported = Utility::Latin1UpToNul(newBytes);
    qCDebug(lcApp).noquote() << "实际CRC:" + reported;
    if (!containsWholeNumber(reported, Globals::FileCrc)) {
        qCDebug(lcApp).noquote() << "再发CRC";
        CrcOrder();
        return;
    }
    qCDebug(lcApp).noquote() << "CRC is equal,send RestartOrder";
    Globals::SetStatusText(QStringLiteral("Update Successfully"));
    Globals::NoDeviceMessage = Globals::PlugInMessage;
    Globals::IsNeedResetDevice = true;
    RestartOrder();
    pauseForRestart();
}

// Answer to "r": a text containing "Restart" (or "Value") confirms the restart.
void MainWindow::handleRestartOrder(const QByteArray& newBytes) {
    const QString reply = Utility::Latin1UpToNul(newBytes);
    qCDebug(lcApp).noquote() << "RestartOrder，重启:" + reply;
    if (!reply.contains(kRestartMarker) && !reply.contains(kRestartMarkerAlt))
        return;
    Globals::IsUpdateMode = false;
    Globals::SetStatusText(QStringLiteral("Firmware Update Successfully"));
    CloseComPort();
    updatePortThread = newSearchThread(&MainWindow::InitPC);
    updatePortThread->start(QThread::InheritPriority);
}
