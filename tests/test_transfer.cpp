// A whole update from end to end, and the update branches of the reply
// handler: the real main window against the simulated boot loader and the
// local update service.
#include "device/platform.h"
#include "device/threadmonitordevice.h"
#include "support/logcapture.h"
#include "support/ptyfixture.h"
#include "support/rig.h"

#include <QFile>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSerialPort>
#include <QTemporaryDir>
#include <atomic>
#include <ctime>

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
    // Shorter than the tool's 3 s, but longer than the simulated device may
    // take to drop its old port after its last reply (up to about 0.5 s), so
    // the search never finds the port that is going away.
    void init() { Globals::RestartPauseMs = 1000; }
    void cleanup() {
        Globals::RestartPauseMs = 3000;
        Platform::SetWindows10Override(std::nullopt);
    }

    void fullUpdateWithRealPauses() {
        Globals::RestartPauseMs = 3000;
        sim::DeviceConfig config;
        config.lineTiming = true;
        Rig rig(config, sim::makeFirmwareImage(40 * 1024 + 77, 1, 3, 0));
        QVERIFY(rig.identify());
        QCOMPARE(rig.page<InitPage>()->findChild<QLabel*>("LbVersion")->text(),
                 QStringLiteral("1.2.7"));
        LogCapture log;
        // The highest the progress bar of the page shown went; the step
        // lines shown, and whether the page said to keep the device plugged in.
        int barHighest = 0;
        QStringList steps;
        bool keepSaid = true;
        QObject::connect(
            UpdateEvents::instance(), &UpdateEvents::TransferProgress, rig.window.get(),
            [&] {
                QWidget* page = rig.window->centralWidget();
                auto* bar = page->findChild<QProgressBar*>("progressBar");
                barHighest =
                    qMax(barHighest, bar && bar->isVisibleTo(rig.window.get()) ? bar->value() : 0);
                const QString step = page->findChild<QLabel*>("stepMsg")->text();
                if (steps.isEmpty() || steps.last() != step)
                    steps << step;
                keepSaid = keepSaid && page->findChild<QLabel*>("keepMsg")->isVisibleTo(page);
            },
            Qt::QueuedConnection);
        rig.pressUpdate();
        QVERIFY(updatedTo(rig, "1.3.0", 40000));
        QCOMPARE(barHighest, 100);
        QVERIFY(keepSaid);
        // The time left, once the transfer was measured for 2 s: about what
        // was left of some 6 s for 40 KB at line speed, running down steadily.
        QCOMPARE(steps.value(0), QStringLiteral("Sending to the device"));
        const QRegularExpression left("^Sending to the device — about (\\d+) s left$");
        QList<int> seconds;
        for (const QString& step : steps.mid(1)) {
            if (!step.startsWith("Sending")) // the device checks, the last packet acknowledged
                continue;
            const QRegularExpressionMatch match = left.match(step);
            QVERIFY2(match.hasMatch(), qPrintable(steps.join(" | ")));
            seconds << match.captured(1).toInt();
        }
        QVERIFY2(!seconds.isEmpty() && seconds.first() >= 1 && seconds.first() <= 8,
                 qPrintable(steps.join(" | ")));
        for (int i = 1; i < seconds.size(); ++i)
            QVERIFY2(seconds.at(i) <= seconds.at(i - 1) + 2, qPrintable(steps.join(" | ")));
        QCOMPARE(rig.page<InitPage>()->findChild<QLabel*>("resultMsg")->text(),
                 QStringLiteral("Updated from 1.2.7 to 1.3.0"));

        QCOMPARE(toQBytes(rig.device->receivedImage()), toQBytes(padded(rig.firmware)));
        QVERIFY(rig.window->monitor() && rig.window->monitor()->isRunning());
        QVERIFY(!Globals::IsUpdateMode);
        QVERIFY(!Globals::IsNeedResetDevice);

        // The texts the user saw, in order.
        const QStringList texts = statusTexts(log);
        QVERIFY(texts.size() > 10);
        QCOMPARE(texts.first(), QStringLiteral(" firmware processing   0/40 KB"));
        QVERIFY(texts.contains(" firmware processing   20/40 KB"));
        const int success = texts.indexOf("Update Successfully");
        QVERIFY(success > 0);
        QCOMPARE(texts.value(success - 1), QStringLiteral(" firmware processing   40/40 KB"));
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

    // Past the sequence's wrap, on the same progress page: a page made anew
    // would be read out again by a screen reader from its top.
    void sequenceWrapsOnTheSameProgressPage() {
        Rig rig(quickDevice(), sim::makeFirmwareImage(300 * 128 - 3, 1, 4, 0));
        QVERIFY(rig.identify());
        LogCapture log;
        rig.pressUpdate();
        QVERIFY(updatedTo(rig, "1.4.0"));
        QCOMPARE(toQBytes(rig.device->receivedImage()), toQBytes(padded(rig.firmware)));
        QCOMPARE(log.count("progress page at packet 2"), 1);
        QCOMPARE(log.count("progress page at packet 257"), 0);
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

    // A transfer that the device cancels stands still where it is; one whose
    // port goes away says so at once, without a busy loop on a hung-up line.
    void transferStandsStill_data() {
        QTest::addColumn<bool>("unplug");
        QTest::newRow("cancelled") << false;
        QTest::newRow("port gone") << true;
    }
    void transferStandsStill() {
        QFETCH(bool, unplug);
        sim::DeviceConfig config = quickDevice();
        config.cancelAtPacket = unplug ? 0 : 5;
        config.lineTiming = unplug; // slow enough to be unplugged half-way
        Rig rig(config);
        QVERIFY(rig.identify());
        LogCapture log;
        rig.pressUpdate();
        QTRY_VERIFY_WITH_TIMEOUT(countEvents(*rig.device, "packet") >= 5, kUpdateDone);
        if (unplug) {
            const std::clock_t cpuBefore = std::clock();
            rig.device->unplug();
            QTRY_VERIFY_WITH_TIMEOUT(rig.status().startsWith("The device was disconnected"), 2000);
            QVERIFY(!rig.window->port()->isOpen());
            const auto cpuSeconds = [&] {
                return double(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
            };
            QVERIFY2(!QTest::qWaitFor([&] { return cpuSeconds() > 0.3; }, 1000),
                     qPrintable(QString::number(cpuSeconds())));
            QVERIFY(rig.page<NoDevice>());
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(log.contains("无条件终止传输"), kUpdateDone);
            QVERIFY(!QTest::qWaitFor([&] { return countEvents(*rig.device, "packet") > 5; }, 500));
        }
        QCOMPARE(Globals::currentOrder, 36);
        QCOMPARE(countEvents(*rig.device, "eot"), 0);
    }

    // Closing the window while the device is in its boot loader asks first,
    // and the answer the keyboard gives at once is to stay.
    void closingMidUpdateAsks() {
        sim::DeviceConfig config = quickDevice();
        config.lineTiming = true;
        Rig rig(config);
        QVERIFY(rig.identify());
        rig.pressUpdate();
        QTRY_VERIFY_WITH_TIMEOUT(countEvents(*rig.device, "packet") >= 2, kUpdateDone);
        QString defaultButton;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            defaultButton = box && box->defaultButton() ? box->defaultButton()->text() : QString();
            if (box)
                QTest::keyClick(box, Qt::Key_Return);
        });
        QVERIFY(!rig.window->close());
        QCOMPARE(defaultButton, QStringLiteral("Keep Updating"));
        QVERIFY(updatedTo(rig, "1.3.0"));
        QVERIFY(rig.window->close()); // no question once the update is over
    }

    void checksumReplies_data() {
        QTest::addColumn<int>("wrongReplies");
        QTest::addColumn<int>("digits");
        QTest::addColumn<int>("chunk");
        QTest::addColumn<int>("expectedV");
        QTest::newRow("two wrong reports") << 2 << 0 << 0 << 3;
        QTest::newRow("zero-padded") << 0 << 12 << 0 << 2;
        QTest::newRow("written byte by byte at line speed") << 0 << 0 << 1 << 2;
    }
    void checksumReplies() {
        QFETCH(int, wrongReplies);
        QFETCH(int, digits);
        QFETCH(int, chunk);
        QFETCH(int, expectedV);
        sim::DeviceConfig config = quickDevice();
        config.wrongCrcReplies = wrongReplies;
        config.crcDigits = digits;
        config.chunkSize = static_cast<size_t>(chunk);
        config.lineTiming = chunk > 0;
        Rig rig(config);
        QVERIFY(rig.identify());
        LogCapture log;
        rig.pressUpdate();
        QVERIFY(updatedTo(rig, "1.3.0"));
        QCOMPARE(log.contains("再发CRC"), wrongReplies > 0);
        QCOMPARE(countEvents(*rig.device, "v"), expectedV);
        QCOMPARE(countEvents(*rig.device, "r"), 1);
    }

    void restartReplyWithoutMarkerIsIgnored() {
        sim::DeviceConfig config = quickDevice();
        config.restartReplyWithoutMarker = true;
        Rig rig(config);
        QVERIFY(rig.identify());
        LogCapture log;
        rig.pressUpdate();
        // The late second checksum report may come in the same read.
        QTRY_VERIFY_WITH_TIMEOUT(log.contains("Rebooting"), kUpdateDone);
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

    void deviceInBootLoaderWhenPluggedIn_data() {
        QTest::addColumn<int>("chunk");
        QTest::newRow("replies whole") << 0;
        QTest::newRow("replies byte by byte at line speed") << 1;
    }
    void deviceInBootLoaderWhenPluggedIn() {
        QFETCH(int, chunk);
        sim::DeviceConfig config = quickDevice();
        config.startMode = sim::Mode::BootLoader;
        config.chunkSize = static_cast<size_t>(chunk);
        config.lineTiming = chunk > 0;
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

QTEST_MAIN(TestTransfer)
#include "test_transfer.moc"
