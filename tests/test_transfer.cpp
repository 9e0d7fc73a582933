// A whole update from end to end, and the update branches of the reply
// handler: the real main window against the simulated boot loader and the
// local update service.
#include "device/platform.h"
#include "device/threadmonitordevice.h"
#include "support/logcapture.h"
#include "support/ptyfixture.h"
#include "support/rig.h"

#include <QFile>
#include <QSerialPort>
#include <QTemporaryDir>
#include <atomic>

namespace {
const int kUpdateDone = 30000;
const QByteArray kReset = QByteArray::fromHex("6E0111018F6E");

sim::DeviceConfig quickDevice() {
    sim::DeviceConfig config;
    config.bootRestartGoneMs = 300;
    config.firmwareRestartGoneMs = 300;
    return config;
}

std::vector<uint8_t> padded(std::vector<uint8_t> image) {
    while (image.size() % 128)
        image.push_back(0x1A);
    return image;
}

int countEvents(const sim::SimDevice& device, const std::string& what) {
    int n = 0;
    for (const auto& e : device.events())
        n += e.what == what ? 1 : 0;
    return n;
}

QStringList statusTexts(const LogCapture& log) {
    QStringList texts;
    for (const QString& line : log.lines())
        if (line.startsWith("status text: "))
            texts << line.mid(13);
    return texts;
}

// Waits for the device information page showing the given version.
bool updatedTo(Rig& rig, const QString& version, int timeoutMs = kUpdateDone) {
    return QTest::qWaitFor(
        [&] {
            auto* page = rig.page<InitPage>();
            auto* label = page ? page->findChild<QLabel*>("LbVersion") : nullptr;
            return label && label->text() == version;
        },
        timeoutMs);
}
} // namespace

class TestTransfer : public QObject {
    Q_OBJECT
private slots:
    void init() { Globals::RestartPauseMs = 200; }
    void cleanup() {
        Globals::RestartPauseMs = 3000;
        Platform::SetWindows10Override(std::nullopt);
    }

    void fullUpdateWithRealPauses() {
        Globals::RestartPauseMs = 3000;
        sim::DeviceConfig config;
        config.lineTiming = true;
        Rig rig(config, sim::makeFirmwareImage(20 * 1024 + 77, 1, 3, 0));
        QVERIFY(rig.identify());
        QCOMPARE(rig.page<InitPage>()->findChild<QLabel*>("LbVersion")->text(),
                 QStringLiteral("1.2.7"));
        LogCapture log;
        rig.pressUpdate();
        QVERIFY(updatedTo(rig, "1.3.0", 40000));

        QCOMPARE(toQBytes(rig.device->receivedImage()), toQBytes(padded(rig.firmware)));
        QVERIFY(rig.window->monitor() && rig.window->monitor()->isRunning());
        QVERIFY(!Globals::IsUpdateMode);
        QVERIFY(!Globals::IsNeedResetDevice);

        // The texts the user saw, in order.
        const QStringList texts = statusTexts(log);
        QVERIFY(texts.size() > 10);
        QCOMPARE(texts.first(), QStringLiteral(" firmware processing   0/20 KB"));
        QVERIFY(texts.contains(" firmware processing   10/20 KB"));
        const int success = texts.indexOf("Update Successfully");
        QVERIFY(success > 0);
        QCOMPARE(texts.value(success - 1), QStringLiteral(" firmware processing   20/20 KB"));
        QCOMPARE(texts.value(success + 1), QStringLiteral("Firmware Update Successfully"));
        QCOMPARE(log.count("progress page at packet 2"), 1);

        // After the restart: identified again, with the reset written once on
        // the first init-status reply.
        const QByteArray wire = rig.received();
        const int afterRestart = wire.lastIndexOf("r");
        const QByteArray tail = wire.mid(afterRestart + 1);
        QCOMPARE(tail.count(kReset), 1);
        QVERIFY(tail.startsWith(QByteArray::fromHex("6E0102018F6E") + kReset +
                                QByteArray::fromHex("6E0103038F6E")));
    }

    void sequenceWrapsAndShowsAnotherProgressPage() {
        Rig rig(quickDevice(), sim::makeFirmwareImage(300 * 128 - 3, 1, 4, 0));
        QVERIFY(rig.identify());
        LogCapture log;
        rig.pressUpdate();
        QVERIFY(updatedTo(rig, "1.4.0"));
        QCOMPARE(toQBytes(rig.device->receivedImage()), toQBytes(padded(rig.firmware)));
        QCOMPARE(log.count("progress page at packet 2"), 1);
        QCOMPARE(log.count("progress page at packet 257"), 1);
        QCOMPARE(countEvents(*rig.device, "bad-packet"), 0);
    }

    void nakRestartsTheWholeFile() {
        sim::DeviceConfig config = quickDevice();
        config.nakOnceAtPacket = 10;
        Rig rig(config, sim::makeFirmwareImage(8 * 1024, 1, 3, 0));
        QVERIFY(rig.identify());
        LogCapture log;
        rig.pressUpdate();
        QVERIFY(updatedTo(rig, "1.3.0"));
        QVERIFY(statusTexts(log).contains(" firmware processing    8/1 KB"));
        QCOMPARE(log.count("重发"), 1);
        QCOMPARE(countEvents(*rig.device, "u"), 2);
        QCOMPARE(toQBytes(rig.device->receivedImage()), toQBytes(padded(rig.firmware)));
    }

    void cancelLeavesTheTransferStanding() {
        sim::DeviceConfig config = quickDevice();
        config.cancelAtPacket = 5;
        Rig rig(config);
        QVERIFY(rig.identify());
        LogCapture log;
        rig.pressUpdate();
        QTRY_VERIFY_WITH_TIMEOUT(log.contains("无条件终止传输"), kUpdateDone);
        QVERIFY(!QTest::qWaitFor([&] { return countEvents(*rig.device, "packet") > 5; }, 500));
        QCOMPARE(Globals::currentOrder, 36);
        QCOMPARE(countEvents(*rig.device, "eot"), 0);
    }

    void checksumMismatchAsksAgain() {
        sim::DeviceConfig config = quickDevice();
        config.wrongCrcReplies = 2;
        Rig rig(config);
        QVERIFY(rig.identify());
        LogCapture log;
        rig.pressUpdate();
        QVERIFY(updatedTo(rig, "1.3.0"));
        QVERIFY(log.contains("再发CRC"));
        QVERIFY(countEvents(*rig.device, "v") >= 3);
        QCOMPARE(countEvents(*rig.device, "r"), 1);
    }

    void restartReplyWithoutMarkerIsIgnored() {
        sim::DeviceConfig config = quickDevice();
        config.restartReplyWithoutMarker = true;
        Rig rig(config);
        QVERIFY(rig.identify());
        LogCapture log;
        rig.pressUpdate();
        QTRY_VERIFY_WITH_TIMEOUT(log.contains("RestartOrder，重启:Rebooting"), kUpdateDone);
        QVERIFY(!QTest::qWaitFor([&] { return !Globals::IsNeedResetDevice; }, 300));
        QCOMPARE(Globals::currentOrder, 39);
        QVERIFY(!statusTexts(log).contains("Firmware Update Successfully"));
    }

    void readyCDuringPackets_data() {
        QTest::addColumn<bool>("windows10");
        QTest::newRow("Windows 10 restarts") << true;
        QTest::newRow("elsewhere ignored") << false;
    }
    void readyCDuringPackets() {
        QFETCH(bool, windows10);
        Platform::SetWindows10Override(windows10);
        sim::DeviceConfig config = quickDevice();
        config.readyCOnceAtPacket = 4;
        Rig rig(config);
        QVERIFY(rig.identify());
        LogCapture log;
        rig.pressUpdate();
        if (windows10) {
            QVERIFY(updatedTo(rig, "1.3.0"));
            QCOMPARE(log.count("windows 10 系统"), 1);
            QCOMPARE(countEvents(*rig.device, "u"), 2);
            QCOMPARE(toQBytes(rig.device->receivedImage()), toQBytes(padded(rig.firmware)));
        } else {
            // The device waits for an answer that never comes: the flow stands.
            QTRY_COMPARE_WITH_TIMEOUT(countEvents(*rig.device, "packet"), 4, kUpdateDone);
            QVERIFY(!QTest::qWaitFor([&] { return countEvents(*rig.device, "packet") > 4; }, 500));
            QCOMPARE(log.count("windows 10 系统"), 0);
            QCOMPARE(countEvents(*rig.device, "u"), 1);
        }
    }

    void deviceInBootLoaderWhenPluggedIn() {
        sim::DeviceConfig config = quickDevice();
        config.startMode = sim::Mode::BootLoader;
        Rig rig(config);
        rig.device->plug();
        QVERIFY(updatedTo(rig, "1.3.0"));
        QCOMPARE(toQBytes(rig.device->receivedImage()), toQBytes(padded(rig.firmware)));
        QVERIFY(!Globals::IsUpdateMode);
        QCOMPARE(countEvents(*rig.device, "c"), 1);
    }

    void reopenedPortNotOpenableAtFirst() {
        Rig rig(quickDevice());
        // While the device is in its boot loader, the port list first names a
        // port that does not open, three times over.
        std::atomic<int> ghosts{0};
        sim::SimDevice* device = rig.device.get();
        PortList::SetProvider([device, &ghosts] {
            QList<PortEntry> ports;
            if (device->mode() == sim::Mode::BootLoader && device->present() && ghosts < 3) {
                ++ghosts;
                ports.append(PortEntry{"/nonexistent/ttyGhost", "USB CDC ghost"});
                return ports;
            }
            if (device->present())
                ports.append(PortEntry{QString::fromStdString(device->portPath()),
                                       QString::fromStdString(device->description())});
            return ports;
        });
        QVERIFY(rig.identify());
        LogCapture log;
        rig.pressUpdate();
        QVERIFY(updatedTo(rig, "1.3.0"));
        QVERIFY(log.count("OpenComPortForUpdate") >= 3);
        QCOMPARE(toQBytes(rig.device->receivedImage()), toQBytes(padded(rig.firmware)));
    }
};

// The update branches fed byte by byte from a pseudo-terminal.
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

    void checksumMustMatchAsAWholeNumber_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("matches");
        QTest::newRow("CRC:512") << QByteArray("CRC:512\r\n") << true;
        QTest::newRow("bare 512") << QByteArray("512") << true;
        QTest::newRow("51") << QByteArray("51") << false;
        QTest::newRow("5120") << QByteArray("CRC:5120") << false;
        QTest::newRow("1512") << QByteArray("CRC:1512") << false;
        QTest::newRow("second of two") << QByteArray("CRC:5121 CRC:512") << true;
        QTest::newRow("nothing") << QByteArray("CRC:") << false;
    }
    void checksumMustMatchAsAWholeNumber() {
        QFETCH(QByteArray, reply);
        QFETCH(bool, matches);
        Globals::FileCrc = 512;
        XModemDAL::CrcOrder();
        QCOMPARE(pty->read(1), QByteArray("v"));
        pty->write(reply);
        QCOMPARE(pty->read(1), QByteArray(matches ? "r" : "v"));
        QCOMPARE(Globals::currentOrder, matches ? 39 : 38);
        QCOMPARE(Globals::IsNeedResetDevice, matches);
    }

    void restartReplies_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("confirmed");
        QTest::newRow("Restart") << QByteArray("Restart OK") << true;
        QTest::newRow("Value") << QByteArray("Value=1") << true;
        QTest::newRow("late checksum reply") << QByteArray("CRC:512") << false;
        QTest::newRow("lower case") << QByteArray("restart") << false;
    }
    void restartReplies() {
        QFETCH(QByteArray, reply);
        QFETCH(bool, confirmed);
        Globals::IsUpdateMode = true;
        XModemDAL::RestartOrder();
        QCOMPARE(pty->read(1), QByteArray("r"));
        LogCapture log;
        pty->write(reply);
        QTRY_VERIFY_WITH_TIMEOUT(log.contains("RestartOrder，重启:" + QString::fromLatin1(reply)),
                                 2000);
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
        QTRY_VERIFY_WITH_TIMEOUT(qobject_cast<XModemUpdate*>(window->centralWidget()), 2000);
        QCOMPARE(Device::DeviceInfo, QStringLiteral("131152M2300101 boot"));
        QCOMPARE(Globals::DeviceModel, QStringLiteral("131152M2300101"));
        Globals::IsUpdateMode = false;
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int status = 0;
    {
        TestUpdateBranches branches;
        status |= QTest::qExec(&branches, argc, argv);
    }
    {
        TestTransfer transfer;
        status |= QTest::qExec(&transfer, argc, argv);
    }
    return status;
}
#include "test_transfer.moc"
