// The XModem packet layer: the firmware file cache, packets, CRC and checksum.
#include "device/xmodemdal.h"

#include "app/globals.h"
#include "app/logging.h"

#include <QFile>
#include <array>
#include <cstring>

namespace XModemDAL {

int PacketSize = 128;
int PacketIndex = 1;
int Sequence = 1;
int MaxSequence = 255;
int PacketCount = 0;
int FileSize = 0;
int FileSizeKB = 0;
QByteArray FileData;

namespace {
const quint16 kCrcPolynomial = 0x1021;
const int kDataBytes = 128;

std::array<quint16, 256> makeCrcTable() {
    std::array<quint16, 256> table{};
    for (int i = 0; i < 256; ++i) {
        quint16 crc = static_cast<quint16>(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? static_cast<quint16>((crc << 1) ^ kCrcPolynomial)
                                 : static_cast<quint16>(crc << 1);
        table[static_cast<size_t>(i)] = crc;
    }
    return table;
}
const std::array<quint16, 256> kCrcTable = makeCrcTable();

int packetCountFor(int size) {
    return (size + kDataBytes - 1) / kDataBytes;
}

// Copies block n (1-based) of the file into a 128-byte field, padding with 0x1A.
void fillBlock(const QByteArray& file, int n, char* field) {
    const int first = (n - 1) * kDataBytes;
    const int count = qBound(0, file.size() - first, kDataBytes);
    if (count > 0)
        std::memcpy(field, file.constData() + first, static_cast<size_t>(count));
    std::memset(field + count, PadByte, static_cast<size_t>(kDataBytes - count));
}
} // namespace

quint16 Crc16(const char* bytes, int offset, int count) {
    if (!bytes || count <= 0)
        return 0;
    quint16 crc = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes) + offset;
    for (int i = 0; i < count; ++i)
        crc = static_cast<quint16>((crc << 8) ^ kCrcTable[((crc >> 8) ^ p[i]) & 0xFF]);
    return crc;
}

QByteArray ReadFile(const QString& path) {
    if (!FileData.isEmpty())
        return FileData;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCDebug(lcDevice).noquote()
            << "cannot open firmware file" << path << ":" << file.errorString();
        return QByteArray();
    }
    FileData = file.readAll();
    file.close();
    return FileData;
}

int GetFileCrc(const QString& path) {
    return FileChecksum(ReadFile(path));
}

int FileChecksum(const QByteArray& file) {
    const int blocks = packetCountFor(file.size());
    // Summed unsigned, so that a large file wraps instead of overflowing.
    quint32 sum = 0;
    char field[kDataBytes];
    for (int n = 1; n <= blocks; ++n) {
        fillBlock(file, n, field);
        sum += Crc16(field, 0, kDataBytes);
    }
    return static_cast<int>(sum);
}

std::optional<qint64> ChecksumValue(const QString& text) {
    int first = 0;
    bool negative = false;
    if (!text.isEmpty() && (text.at(0) == QLatin1Char('-') || text.at(0) == QLatin1Char('+'))) {
        negative = text.at(0) == QLatin1Char('-');
        first = 1;
    }
    if (first == text.size())
        return std::nullopt;
    for (int i = first; i < text.size(); ++i) {
        if (text.at(i) < QLatin1Char('0') || text.at(i) > QLatin1Char('9'))
            return std::nullopt;
    }
    int significant = first;
    while (significant < text.size() - 1 && text.at(significant) == QLatin1Char('0'))
        ++significant;
    if (text.size() - significant > 10)
        return std::nullopt;
    const qint64 value = text.mid(significant).toLongLong();
    return negative ? -value : value;
}

bool ChecksumEquals(const QString& text, int sum) {
    const std::optional<qint64> value = ChecksumValue(text);
    return value && (*value == sum || *value == static_cast<qint64>(static_cast<quint32>(sum)));
}

QByteArray BuildPacket(const QByteArray& file, int index, int seq) {
    char p[PacketBytes];
    p[0] = SOH;
    p[1] = static_cast<char>(seq & 0xFF);
    p[2] = static_cast<char>((255 - seq) & 0xFF);
    fillBlock(file, index, p + 3);
    const quint16 crc = Crc16(p, 3, kDataBytes);
    p[3 + kDataBytes] = static_cast<char>(crc >> 8);
    p[4 + kDataBytes] = static_cast<char>(crc & 0xFF);
    return QByteArray(p, PacketBytes);
}

void SendNextPacket(const QString& path) {
    const QByteArray file = ReadFile(path);
    FileSize = file.size();
    PacketCount = packetCountFor(FileSize);
    FileSizeKB = FileSize / 1024;
    if (PacketIndex > PacketCount || PacketIndex < 1)
        return;
    if (Sequence > MaxSequence)
        Sequence = 1;
    SendPacket(BuildPacket(file, PacketIndex, Sequence));
}

void StartTransfer() {
    PacketSize = 128;
    PacketIndex = 1;
    Sequence = 1;
    MaxSequence = 255;
    PacketCount = 0;
    FileSize = 0;
    FileSizeKB = 0;
    StartOrder();
}

void BeginUpdate() {
    Globals::NoDeviceMessage = Globals::ProcessingMessage;
    UpdateSoftwareInfo();
}

} // namespace XModemDAL
