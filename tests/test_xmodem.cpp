// The XModem packet layer: CRC, file cache, checksum and packets on the wire
// of a pseudo-terminal.
#include "app/mainwindow.h"
#include "device/xmodemdal.h"
#include "sim/simdevice.h"
#include "support/ptyfixture.h"
#include "support/simports.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {
QByteArray pattern(int size, int seed = 1) {
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 31 + seed * 17) & 0xFF);
    return data;
}

quint16 referenceCrc(const QByteArray& block) {
    return sim::SimDevice::crc16(reinterpret_cast<const uint8_t*>(block.constData()),
                                 static_cast<size_t>(block.size()));
}

// The packet for 1-based number n as the receiving side expects it.
QByteArray expectedPacket(const QByteArray& file, int n, int seq) {
    QByteArray data = file.mid((n - 1) * 128, 128);
    data.append(QByteArray(128 - data.size(), '\x1A'));
    const quint16 crc = referenceCrc(data);
    QByteArray packet;
    packet.append('\x01');
    packet.append(static_cast<char>(seq));
    packet.append(static_cast<char>(255 - seq));
    packet.append(data);
    packet.append(static_cast<char>(crc >> 8));
    packet.append(static_cast<char>(crc & 0xFF));
    return packet;
}
} // namespace

class TestXModem : public QObject {
    Q_OBJECT
private:
    QTemporaryDir dir;
    MainWindow* window = nullptr;

    QString writeFile(const QString& name, const QByteArray& data) {
        const QString path = dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return QString();
        file.write(data);
        return path;
    }

private slots:
    void init() {
        resetToolState();
        XModemDAL::FileData.clear();
        window = new MainWindow();
        window->StopPortThreads();
    }
    void cleanup() {
        delete window;
        XModemDAL::FileData.clear();
    }

    void crc16_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("crc");
        QTest::newRow("check string") << QByteArray("123456789") << 0x31C3;
        QTest::newRow("128 pad bytes") << QByteArray(128, '\x1A') << 0xF8B0;
        QTest::newRow("128 zero bytes") << QByteArray(128, '\0') << 0x0000;
        QTest::newRow("nothing") << QByteArray() << 0;
    }
    void crc16() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, crc);
        QCOMPARE(int(XModemDAL::Crc16(bytes.constData(), 0, bytes.size())), crc);
        const QByteArray framed = "xyz" + bytes;
        QCOMPARE(int(XModemDAL::Crc16(framed.constData(), 3, bytes.size())), crc);
        QCOMPARE(int(XModemDAL::Crc16(framed.constData(), 0, -1)), 0);
    }

    void packetsOnTheWire_data() {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("packets");
        QTest::newRow("empty") << 0 << 0;
        QTest::newRow("128 bytes") << 128 << 1;
        QTest::newRow("129 bytes") << 129 << 2;
        QTest::newRow("256 bytes") << 256 << 2;
        QTest::newRow("1000 bytes") << 1000 << 8;
    }
    void packetsOnTheWire() {
        QFETCH(int, size);
        QFETCH(int, packets);
        const QByteArray file = pattern(size);
        const QString path = writeFile("fw.bin", file);
        PtyFixture pty;
        QVERIFY(window->OpenComPort(pty.slavePath()));

        XModemDAL::StartTransfer();
        QCOMPARE(pty.read(1), QByteArray("u"));
        QCOMPARE(Globals::currentOrder, 35);
        for (int n = 1; n <= packets; ++n) {
            XModemDAL::SendNextPacket(path);
            QCOMPARE(XModemDAL::PacketCount, packets);
            QCOMPARE(XModemDAL::FileSize, size);
            QCOMPARE(XModemDAL::FileSizeKB, size / 1024);
            QCOMPARE(Globals::currentOrder, 36);
            const QByteArray wire = pty.read(133);
            QCOMPARE(wire.toHex(), expectedPacket(file, n, n).toHex());
            if (size == 129 && n == 2)
                QCOMPARE(wire.mid(4, 127), QByteArray(127, '\x1A'));
            if (size == 256)
                QCOMPARE(wire.mid(3, 128), file.mid((n - 1) * 128, 128)); // no padding at all
            // The counters are the transfer's business, not the packet layer's.
            QCOMPARE(XModemDAL::PacketIndex, n);
            ++XModemDAL::PacketIndex;
            ++XModemDAL::Sequence;
        }
        // Past the last packet nothing goes out.
        XModemDAL::SendNextPacket(path);
        QCOMPARE(pty.drain(50), QByteArray());
    }

    void sequenceWrapsFrom255To1() {
        const QByteArray file = pattern(256 * 128 + 5);
        const QString path = writeFile("big.bin", file);
        PtyFixture pty;
        QVERIFY(window->OpenComPort(pty.slavePath()));
        XModemDAL::PacketIndex = 255;
        XModemDAL::Sequence = 255;
        XModemDAL::SendNextPacket(path);
        QCOMPARE(pty.read(133).toHex(), expectedPacket(file, 255, 255).toHex());
        XModemDAL::PacketIndex = 256;
        XModemDAL::Sequence = 256;
        XModemDAL::SendNextPacket(path);
        const QByteArray wire = pty.read(133);
        QCOMPARE(quint8(wire.at(1)), quint8(1));
        QCOMPARE(quint8(wire.at(2)), quint8(0xFE));
        QCOMPARE(wire.toHex(), expectedPacket(file, 256, 1).toHex());
        QCOMPARE(XModemDAL::Sequence, 1);
    }

    void fileChecksum() {
        const QByteArray file = pattern(129);
        const QString path = writeFile("129.bin", file);
        const QByteArray second = file.mid(128) + QByteArray(127, '\x1A');
        const int expected = referenceCrc(file.left(128)) + referenceCrc(second);
        QCOMPARE(XModemDAL::GetFileCrc(path), expected);
    }

    void checksumOfLargeFileWrapsLikeUnsigned() {
        const QByteArray file = pattern(9 * 1024 * 1024, 3);
        const QString path = writeFile("large.bin", file);
        quint32 sum = 0;
        for (int off = 0; off < file.size(); off += 128)
            sum += referenceCrc(file.mid(off, 128));
        QVERIFY(sum > 0x7FFFFFFFu);
        QCOMPARE(XModemDAL::GetFileCrc(path), static_cast<int>(sum));
    }

    void emptyOrUnreadableFiles_data() {
        QTest::addColumn<bool>("exists");
        QTest::newRow("empty file") << true;
        QTest::newRow("missing file") << false;
    }
    void emptyOrUnreadableFiles() {
        QFETCH(bool, exists);
        const QString path =
            exists ? writeFile("empty.bin", QByteArray()) : dir.filePath("none.bin");
        PtyFixture pty;
        QVERIFY(window->OpenComPort(pty.slavePath()));
        QCOMPARE(XModemDAL::GetFileCrc(path), 0);
        QVERIFY(XModemDAL::ReadFile(path).isEmpty());
        XModemDAL::SendNextPacket(path);
        QCOMPARE(XModemDAL::PacketCount, 0);
        QCOMPARE(pty.drain(50), QByteArray());
    }

    void cacheAnswersWhateverPathIsAsked() {
        const QString a = writeFile("a.bin", pattern(300, 1));
        const QString b = writeFile("b.bin", pattern(300, 2));
        QCOMPARE(XModemDAL::ReadFile(a), pattern(300, 1));
        QCOMPARE(XModemDAL::ReadFile(b), pattern(300, 1));
        QCOMPARE(XModemDAL::GetFileCrc(b), XModemDAL::GetFileCrc(a));
        QFile::remove(a);
        QCOMPARE(XModemDAL::ReadFile(a), pattern(300, 1)); // from memory, not disk
        XModemDAL::StartTransfer();                        // keeps the cache
        QCOMPARE(XModemDAL::FileData, pattern(300, 1));
        XModemDAL::FileData.clear();
        QCOMPARE(XModemDAL::ReadFile(b), pattern(300, 2));
    }

    void transferResetAndUpdateStart() {
        PtyFixture pty;
        QVERIFY(window->OpenComPort(pty.slavePath()));
        XModemDAL::PacketIndex = 9;
        XModemDAL::Sequence = 9;
        XModemDAL::PacketCount = 9;
        XModemDAL::FileSize = 9;
        XModemDAL::FileSizeKB = 9;
        XModemDAL::StartTransfer();
        QCOMPARE(XModemDAL::PacketIndex, 1);
        QCOMPARE(XModemDAL::Sequence, 1);
        QCOMPARE(XModemDAL::PacketCount, 0);
        QCOMPARE(XModemDAL::FileSize, 0);
        QCOMPARE(XModemDAL::FileSizeKB, 0);
        QCOMPARE(XModemDAL::PacketSize, 128);
        QCOMPARE(XModemDAL::MaxSequence, 255);
        QCOMPARE(pty.read(1), QByteArray("u"));

        XModemDAL::BeginUpdate();
        QCOMPARE(Globals::NoDeviceMessage.get(), QStringLiteral("Processing"));
        QCOMPARE(Globals::currentOrder, 32);
        QCOMPARE(pty.read(35).size(), 35);
    }
};

QTEST_MAIN(TestXModem)
#include "test_xmodem.moc"
