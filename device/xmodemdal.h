#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <optional>

// The device command set and the XModem packet layer. Every command hands its
// exact bytes and its command id to the main window's write operations; the id
// tells the reply handler how to read what comes back.
//
// Normal-firmware frame:   6E 01 <command> <parameters...> 8F
// Boot-loader commands:    one byte each: "c" "d" "u" "v" "r" and EOT (04)
// XModem packet (133):     SOH, seq, 255-seq, 128 data bytes (0x1A padded), CRC hi, CRC lo
namespace XModemDAL {

// Command ids (the values of Globals::currentOrder).
enum OrderId : int {
    IdInitStatusZero = 0,
    IdEndInfoQuery = 1,
    IdGetInitStatus = 2,
    IdGetDeviceInfo = 3,
    IdGetVersionInfo = 4,
    IdGetWatchId = 5,
    IdSendSign = 6,
    IdResetDevice = 25,
    IdUpdateSoftwareInfo = 32,
    IdGetDeviceInfoWhenUpdate = 33,
    IdRestartUpdate = 34,
    IdStartOrder = 35,
    IdSendPacket = 36,
    IdEndOrder = 37,
    IdCrcOrder = 38,
    IdRestartOrder = 39,
};

// Whether a command is one of the boot loader's transfer conversation ("u",
// a packet, EOT, "v", "r"), whose answers are awaited for a bounded time.
constexpr bool IsBootLoaderCommand(int order) {
    return order == IdStartOrder || order == IdSendPacket || order == IdEndOrder ||
           order == IdCrcOrder || order == IdRestartOrder;
}

// Control bytes of the boot loader's transfer conversation.
constexpr char SOH = 0x01;
constexpr char EOT = 0x04;
constexpr char ACK = 0x06;
constexpr char NAK = 0x15;
constexpr char CAN = 0x18;
constexpr char ReadyC = 0x43;
constexpr char PadByte = 0x1A;
constexpr int PacketBytes = 133;

// Transfer counters and the firmware file cache.
extern int PacketSize;
extern int PacketIndex;
extern int Sequence;
extern int MaxSequence;
extern int PacketCount;
extern int FileSize;
extern int FileSizeKB;
extern QByteArray FileData;

// --- Commands the tool sends -------------------------------------------------
void GetInitStatus();                      // id 2
void GetVersionInfo();                     // id 4
void GetDeviceInfo();                      // id 3
void GetWatchId();                         // id 5
void EndInfoQuery();                       // id 1
void ResetDevice();                        // id 25
void UpdateSoftwareInfo();                 // id 32, 35 bytes carrying two frames
void GetDeviceInfoWhenUpdate();            // id 33, "c"
void StartOrder();                         // id 35, "u"
void SendPacket(const QByteArray& packet); // id 36
void EndOrder();                           // id 37, EOT
void CrcOrder();                           // id 38, "v"
void RestartOrder();                       // id 39, "r"

// --- Further commands of the set, which no flow sends -------------------------
void InitStatusZero(); // id 0
void SendSign();       // id 6
void RestartUpdate();  // id 34, "d"
void Order7();
void Order9();
void Order10();
void Order12();
void Order19();
void Order20();
void Order21();
void Order22();
void Order24();
void Order40();
void Order43();
void Order44();
void Order45();
void Order46();
void Order47();
void Order48();
void Order49();
void Order50();
void Order52();
void Order53();
void Order54();
// Commands that write their caller's bytes (fixed count unless stated).
void Order23(const char* data); // 5 bytes
void Order26(const char* data); // 12 bytes
void Order27(const char* data); // 11 bytes
void Order28(const char* data); // 5 bytes
void Order29(const char* data); // 8 bytes
void Order31(const char* data, int length);
void Order41(const char* data); // 8 bytes
void Order42(const char* data); // 13 bytes
void Order51(const char* data); // 200 bytes
void Order51(const QByteArray& data);

// --- Packet layer -------------------------------------------------------------
// CRC-16/XMODEM (poly 0x1021, init 0, MSB first) of count bytes from offset.
quint16 Crc16(const char* bytes, int offset, int count);
// The firmware file, read from disk only while the cache is empty.
QByteArray ReadFile(const QString& path);
// Sum of the CRC-16 of every 128-byte block, the last one padded with 0x1A.
int GetFileCrc(const QString& path);
// The same sum of the given bytes.
int FileChecksum(const QByteArray& file);
// The value of a checksum written as a decimal integer (optional sign, leading
// zeros allowed); nothing when text is not one, or has more digits than any
// 32-bit value.
std::optional<qint64> ChecksumValue(const QString& text);
// True when text holds the 32-bit checksum sum, read unsigned or signed: a sum
// past 2^31 may be written either way.
bool ChecksumEquals(const QString& text, int sum);
// The 133-byte packet for 1-based packet number index with sequence number seq.
QByteArray BuildPacket(const QByteArray& file, int index, int seq);
// Builds packet PacketIndex with sequence Sequence and writes it; nothing when
// PacketIndex is past the last packet.
void SendNextPacket(const QString& path);
// Resets the counters and writes "u".
void StartTransfer();
// Sets the no-device text to "Processing" and writes UpdateSoftwareInfo.
void BeginUpdate();

} // namespace XModemDAL
