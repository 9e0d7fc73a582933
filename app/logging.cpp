#include "app/logging.h"

#include "device/xmodemdal.h"

#include <mutex>

Q_LOGGING_CATEGORY(lcApp, "tembra.app")
Q_LOGGING_CATEGORY(lcDevice, "tembra.device")
Q_LOGGING_CATEGORY(lcPages, "tembra.pages")
Q_LOGGING_CATEGORY(lcWire, "tembra.wire")

namespace Wire {
namespace {
const char kAck = '\x06';
const int kPacketBytes = 133;

// The packets not yet written: a run of acknowledged ones, and the one
// written last, whose answer has not come. The port threads write wire lines
// too, hence the lock.
struct Packets {
    int first = 0;
    int last = 0;
    quint32 crcSum = 0;
    int pendingIndex = 0;
    QByteArray pending;
};
std::mutex packetsMutex;
Packets packets;

quint16 packetCrc(const QByteArray& packet) {
    return quint16((quint8(packet.at(kPacketBytes - 2)) << 8) |
                   quint8(packet.at(kPacketBytes - 1)));
}

// Called with the lock held.
void writeRun() {
    if (packets.first == 0)
        return;
    qCDebug(lcWire).noquote() << QStringLiteral("packets, id %1: %2-%3 acknowledged, crc sum %4")
                                     .arg(XModemDAL::IdSendPacket)
                                     .arg(packets.first)
                                     .arg(packets.last)
                                     .arg(packets.crcSum);
    packets.first = packets.last = 0;
    packets.crcSum = 0;
}

// Called with the lock held: the run, then the packet still unanswered.
void writePending() {
    writeRun();
    if (packets.pendingIndex == 0)
        return;
    qCDebug(lcWire).noquote() << QStringLiteral("sent, id %1: packet %2, seq %3, crc %4")
                                     .arg(XModemDAL::IdSendPacket)
                                     .arg(packets.pendingIndex)
                                     .arg(quint8(packets.pending.at(1)))
                                     .arg(packetCrc(packets.pending), 4, 16, QLatin1Char('0'));
    packets.pendingIndex = 0;
    packets.pending.clear();
}

void line(const QString& text) {
    std::lock_guard<std::mutex> lock(packetsMutex);
    writePending();
    qCDebug(lcWire).noquote() << text;
}
} // namespace

void Sent(int order, const QByteArray& bytes) {
    line(QStringLiteral("sent, id %1: %2").arg(order).arg(QString::fromLatin1(bytes.toHex(' '))));
}

void PacketSent(int index, const QByteArray& packet) {
    if (packet.size() != kPacketBytes) {
        Sent(XModemDAL::IdSendPacket, packet);
        return;
    }
    std::lock_guard<std::mutex> lock(packetsMutex);
    // An unanswered packet ends the run; it is written with the run before it.
    if (packets.pendingIndex > 0)
        writePending();
    packets.pendingIndex = index;
    // A copy: the packet may be the sender's buffer, used again for the next.
    packets.pending = QByteArray(packet.constData(), packet.size());
}

void Received(int order, const QByteArray& bytes) {
    std::lock_guard<std::mutex> lock(packetsMutex);
    // A lone ACK of the packet written last joins the run, when it follows on.
    if (order == XModemDAL::IdSendPacket && packets.pendingIndex > 0 && bytes.size() == 1 &&
        bytes.at(0) == kAck) {
        if (packets.first > 0 && packets.pendingIndex != packets.last + 1)
            writeRun();
        if (packets.first == 0)
            packets.first = packets.pendingIndex;
        packets.last = packets.pendingIndex;
        packets.crcSum += packetCrc(packets.pending);
        packets.pendingIndex = 0;
        packets.pending.clear();
        if (packets.last - packets.first + 1 >= RunPackets)
            writeRun();
        return;
    }
    writePending();
    qCDebug(lcWire).noquote() << QStringLiteral("received, id %1: %2")
                                     .arg(order)
                                     .arg(QString::fromLatin1(bytes.toHex(' ')));
}

void Flush() {
    std::lock_guard<std::mutex> lock(packetsMutex);
    writePending();
}

void PortOpened(const QString& name) {
    line(QStringLiteral("port opened: ") + name);
}
void PortClosed(const QString& name) {
    line(QStringLiteral("port closed: ") + name);
}
void PortLost(const QString& name, const QString& reason) {
    line(QStringLiteral("port lost: %1 (%2)").arg(name, reason));
}
void PortFound(const QString& name) {
    line(QStringLiteral("port found: ") + name);
}
} // namespace Wire
