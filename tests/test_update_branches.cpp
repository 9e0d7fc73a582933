// The update branches of the reply handler, fed byte by byte from a
// pseudo-terminal.
#include "device/platform.h"
#include "support/logcapture.h"
#include "support/ptyfixture.h"
#include "support/rig.h"

#include <QFile>
#include <QSerialPort>
#include <QTemporaryDir>

class TestUpdateBranches : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<PtyFixture> pty;
    QTemporaryDir dir;

private slots:
    void init() {
        resetToolState();
        Globals::RestartPauseMs = 0;
        window = std::make_unique<MainWindow>();
        window->StopPortThreads();
        pty = std::make_unique<PtyFixture>();
        QVERIFY(window->OpenComPort(pty->slavePath()));
        Globals::PortName = pty->slavePath();
    }
    void cleanup() {
        window.reset();
        pty.reset();
        Platform::SetWindows10Override(std::nullopt);
        XModemDAL::FileData.clear();
        Globals::RestartPauseMs = 3000;
    }

    // The device's checksum report against the expected sum: a run of digits
    // of the same value, with leading zeros or not, read unsigned or (after a
    // minus sign) signed; never a longer number that merely contains it.
    void checksumReports_data() {
        QTest::addColumn<int>("crc");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("matches");
        const int big = static_cast<int>(2415424288u); // a sum past 2^31
        QTest::newRow("CRC:512") << 512 << QByteArray("CRC:512\r\n") << true;
        QTest::newRow("bare 512") << 512 << QByteArray("512") << true;
        QTest::newRow("51") << 512 << QByteArray("51") << false;
        QTest::newRow("5120") << 512 << QByteArray("CRC:5120") << false;
        QTest::newRow("1512") << 512 << QByteArray("CRC:1512") << false;
        QTest::newRow("second of two") << 512 << QByteArray("CRC:5121 CRC:512") << true;
        QTest::newRow("nothing") << 512 << QByteArray("CRC:") << false;
        QTest::newRow("zero-padded") << 51234 << QByteArray("CRC:0051234") << true;
        QTest::newRow("zero-padded 5120") << 512 << QByteArray("CRC:05120") << false;
        QTest::newRow("zero") << 0 << QByteArray("CRC:0000") << true;
        QTest::newRow("past 2^31, unsigned") << big << QByteArray("CRC:2415424288") << true;
        QTest::newRow("past 2^31, signed") << big << QByteArray("CRC:-1879543008") << true;
        QTest::newRow("past 2^31, sign dropped") << big << QByteArray("CRC:1879543008") << false;
        QTest::newRow("longer than any sum") << 512 << QByteArray("CRC:4294967808") << false;
        QTest::newRow("minus sign, small") << 512 << QByteArray("CRC:-512") << false;
        QTest::newRow("minus sign, unsigned digits")
            << big << QByteArray("CRC:-2415424288") << false;
    }
    void checksumReports() {
        QFETCH(int, crc);
        QFETCH(QByteArray, reply);
        QFETCH(bool, matches);
        Globals::FileCrc = crc;
        XModemDAL::CrcOrder();
        QCOMPARE(pty->read(1), QByteArray("v"));
        pty->write(reply);
        QCOMPARE(pty->read(1), QByteArray(matches ? "r" : "v"));
        QCOMPARE(Globals::currentOrder, matches ? 39 : 38);
        QCOMPARE(Globals::IsNeedResetDevice, matches);
        QCOMPARE(pty->drain(100), QByteArray());
    }

    void restartReplies_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("confirmed");
        QTest::addColumn<bool>("hangUp"); // in the restart pause, after the reply
        QTest::newRow("Restart") << QByteArray("Restart OK") << true << false;
        QTest::newRow("Value") << QByteArray("Value=1") << true << false;
        QTest::newRow("late checksum reply") << QByteArray("CRC:512") << false << false;
        QTest::newRow("late checksum reply, then Restart")
            << QByteArray("CRC:512Restart OK") << true << false;
        QTest::newRow("lower case") << QByteArray("restart") << false << false;
        // Closed at once (a hung-up line open spins the event loop), and the
        // reply still taken when the pause ends.
        QTest::newRow("Restart, and the line hangs up") << QByteArray("Restart OK") << true << true;
    }
    void restartReplies() {
        QFETCH(QByteArray, reply);
        QFETCH(bool, confirmed);
        QFETCH(bool, hangUp);
        Globals::IsUpdateMode = true;
        if (hangUp) { // as the checksum's confirmation sends it, with its pause
            Globals::RestartPauseMs = 3000;
            Globals::FileCrc = 512;
            XModemDAL::CrcOrder();
            QCOMPARE(pty->read(1), QByteArray("v"));
            pty->write("CRC:512");
        } else {
            XModemDAL::RestartOrder();
        }
        QCOMPARE(pty->read(1), QByteArray("r"));
        LogCapture log;
        pty->write(reply);
        if (hangUp) {
            QTRY_VERIFY_WITH_TIMEOUT(Platform::PendingInput(window->port()) == 0, 10000);
            QTest::qWait(0);
            pty->hangUp();
            QTRY_VERIFY_WITH_TIMEOUT(!window->port()->isOpen(), 2000);
            QVERIFY(!log.contains("RestartOrder，重启"));
        }
        QTRY_VERIFY_WITH_TIMEOUT(log.contains("RestartOrder，重启:" + QString::fromLatin1(reply)),
                                 10000);
        QCOMPARE(bool(Globals::IsUpdateMode), !confirmed);
        QCOMPARE(window->port()->isOpen(), !confirmed);
        QCOMPARE(log.contains("status text: Firmware Update Successfully"), confirmed);
    }

    void packetAcknowledgements() {
        QFile file(dir.filePath("fw.bin"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(64 * 128, 'x')); // 64 packets, 8 KB
        file.close();
        Globals::UpdateFilePath = file.fileName();
        LogCapture log;

        XModemDAL::StartTransfer();
        QCOMPARE(pty->read(1), QByteArray("u"));
        pty->write("C");
        QCOMPARE(pty->read(133).left(3), QByteArray::fromHex("0101FE"));
        pty->write("\x06");
        QCOMPARE(pty->read(133).left(3), QByteArray::fromHex("0102FD"));
        QVERIFY(log.contains("status text:  firmware processing   0/8 KB"));
        for (int n = 2; n <= 8; ++n) {
            pty->write("\x06");
            pty->read(133);
        }
        QVERIFY(log.contains("status text:  firmware processing   1/8 KB"));
        QCOMPARE(XModemDAL::PacketIndex, 9);

        // NAK at packet 10: total first, then (10 * 128) / 1024, and "u" again.
        pty->write("\x06");
        pty->read(133);
        QCOMPARE(XModemDAL::PacketIndex, 10);
        pty->write("\x15");
        QCOMPARE(pty->read(1), QByteArray("u"));
        QVERIFY(log.contains("status text:  firmware processing    8/1 KB"));
        pty->write("C");
        QCOMPARE(pty->read(133).left(3), QByteArray::fromHex("0101FE"));

        // EOT and other bytes change nothing; a "C" only on Windows 10.
        pty->write("\x04");
        pty->write("Z");
        Platform::SetWindows10Override(false);
        pty->write("C");
        QCOMPARE(pty->drain(100), QByteArray());
        QCOMPARE(Globals::currentOrder, 36);
        QVERIFY(log.contains("发送完成"));
        Platform::SetWindows10Override(true);
        pty->write("C");
        QCOMPARE(pty->read(1), QByteArray("u"));

        // The last acknowledgement writes EOT, whose ACK asks for the checksum twice.
        pty->write("C");
        pty->read(133);
        XModemDAL::PacketIndex = 64;
        XModemDAL::Sequence = 64;
        pty->write("\x06");
        QCOMPARE(pty->read(1), QByteArray("\x04"));
        pty->write("\x06");
        QCOMPARE(pty->read(2), QByteArray("vv"));
    }

    void bootLoaderModelReply() {
        Globals::IsUpdateMode = true;
        XModemDAL::GetDeviceInfoWhenUpdate();
        QCOMPARE(pty->read(1), QByteArray("c"));
        pty->write("short\r\n"); // 10 bytes or fewer: asked again
        QCOMPARE(pty->read(1), QByteArray("c"));
        pty->write("  131152M2300101 boot\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(qobject_cast<XModemUpdate*>(window->centralWidget()), 10000);
        QCOMPARE(Device::DeviceInfo, QStringLiteral("131152M2300101 boot"));
        QCOMPARE(Globals::DeviceModel, QStringLiteral("131152M2300101"));
        Globals::IsUpdateMode = false;
    }
};

QTEST_MAIN(TestUpdateBranches)
#include "test_update_branches.moc"
