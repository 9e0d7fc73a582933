#pragma once

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>

// One category per subsystem of the tool.
Q_DECLARE_LOGGING_CATEGORY(lcApp)    // window, connection control, reply handler
Q_DECLARE_LOGGING_CATEGORY(lcDevice) // command set, packets, port threads
Q_DECLARE_LOGGING_CATEGORY(lcPages)  // pages
// The conversation with the device, in a stable form that a replay reads
// back (docs: README, "The log's form"): one line per event.
Q_DECLARE_LOGGING_CATEGORY(lcWire)

// The wire lines.
//
// Form 2 records an XModem packet (command id 36) by what identifies it, not
// its 133 bytes: a run of packets each answered by a lone ACK is one line,
// written when the run ends or reaches RunPackets, and a packet with any
// other answer is a line of its own before that answer's line:
//   packets, id 36: 1-256 acknowledged, crc sum 8412345
//   sent, id 36: packet 257, seq 2, crc 3fa2
// (the crc sum: the packets' CRC-16 added up; seq and crc as the packet
// carries them). Every other write and read is in hex, as in form 1.
namespace Wire {
// Every write to the device and every read from it, as the bytes went.
void Sent(int order, const QByteArray& bytes);
void Received(int order, const QByteArray& bytes);
// A packet (133 bytes) written as the index-th of its transfer.
void PacketSent(int index, const QByteArray& packet);
// Writes out a run of packets not yet written (the log is about to end).
void Flush();
// The port opened and closed by the tool, lost (hung up, or gone from the
// list) and found by a search.
void PortOpened(const QString& name);
void PortClosed(const QString& name);
void PortLost(const QString& name, const QString& reason);
void PortFound(const QString& name);
// The version of this form, named in the log's header.
constexpr int FormVersion = 2;
// The most packets one line of acknowledged packets stands for.
constexpr int RunPackets = 256;
} // namespace Wire
