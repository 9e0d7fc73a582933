// The identification chain of the real main window against the simulated
// device on a pseudo-terminal.
#include "app/mainwindow.h"
#include "device/threadcomport.h"
#include "pages/initpage.h"
#include "pages/nodevice.h"
#include "support/logcapture.h"
#include "support/simports.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSerialPort>
#include <QtTest>
#include <ctime>
#include <memory>
#include <thread>

namespace {
const QByteArray kInitStatus = QByteArray::fromHex("6E0102018F6E");
const QByteArray kVersion = QByteArray::fromHex("6E0103038F6E");
const QByteArray kDeviceInfo = QByteArray::fromHex("6E0103028F6E");
const QByteArray kWatchId = QByteArray::fromHex("6E0104018F6E");
const QByteArray kEndQuery = QByteArray::fromHex("6E010F018F6E");
const QByteArray kReset = QByteArray::fromHex("6E0111018F6E");
const QByteArray kChain = kInitStatus + kVersion + kDeviceInfo + kWatchId + kEndQuery;
const int kFound = 15000;

QString labelText(QWidget* page, const char* name) {
    auto* label = page ? page->findChild<QLabel*>(name) : nullptr;
    return label ? label->text() : QStringLiteral("<none>");
}
} // namespace

class TestIdentification : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<sim::SimDevice> device;
    std::unique_ptr<SimPorts> ports;
    std::unique_ptr<MainWindow> window;

    void start(const sim::DeviceConfig& config = sim::DeviceConfig(), bool plug = true) {
        device = std::make_unique<sim::SimDevice>(config);
        ports = std::make_unique<SimPorts>(std::vector<sim::SimDevice*>{device.get()});
        if (plug)
            device->plug();
        window = std::make_unique<MainWindow>();
    }
    InitPage* infoPage() const { return qobject_cast<InitPage*>(window->centralWidget()); }
    QByteArray received() const { return toQBytes(device->received()); }

    // Presses "2.Reset" and answers its question.
    void pressReset(bool yes) {
        QTest::mouseClick(infoPage()->findChild<QPushButton*>("BtnReset"), Qt::LeftButton);
        QMessageBox* box = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT(
            box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()), 10000);
        QCOMPARE(box->defaultButton(), box->button(QMessageBox::No));
        box->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
    }

private slots:
    void init() { resetToolState(); }
    void cleanup() {
        window.reset();
        ports.reset();
        device.reset();
    }

    void plugInShowsTheDevice() {
        QElapsedTimer timer;
        timer.start();
        start(sim::DeviceConfig(), false);
        QVERIFY(qobject_cast<NoDevice*>(window->centralWidget()));
        device->plug();
        QTRY_VERIFY_WITH_TIMEOUT(device->received().size() >= 6, kFound);
        // Found on the first pass of the search, after its one 300 ms pause.
        QVERIFY2(timer.elapsed() < 1500, qPrintable(QString::number(timer.elapsed())));

        QTRY_VERIFY_WITH_TIMEOUT(infoPage(), kFound);
        QCOMPARE(labelText(infoPage(), "LbVersion"), QStringLiteral("1.2.7"));
        QCOMPARE(labelText(infoPage(), "LbDN"), QStringLiteral("F1311520230010042357"));
        QCOMPARE(labelText(infoPage(), "LbFirmware"), QStringLiteral("131152M2300101"));
        QCOMPARE(labelText(infoPage(), "label"), QStringLiteral("Version:"));
        QCOMPARE(labelText(infoPage(), "label_2"), QStringLiteral("D/N:"));
        QCOMPARE(labelText(infoPage(), "label_3"), QStringLiteral("Firmware:"));
        // The captions fit their labels at the page's 13 pt.
        for (const char* name : {"label", "label_2", "label_3"}) {
            auto* caption = infoPage()->findChild<QLabel*>(name);
            caption->ensurePolished();
            QCOMPARE(caption->font().pointSize(), 13);
            QVERIFY2(QFontMetrics(caption->font()).horizontalAdvance(caption->text()) <=
                         caption->width(),
                     name);
        }
        QCOMPARE(infoPage()->findChild<QPushButton*>("BtnUpdate")->text(),
                 QStringLiteral("1.Update Firmware"));
        QCOMPARE(infoPage()->findChild<QPushButton*>("BtnReset")->text(),
                 QStringLiteral("2.Reset"));
        QTRY_COMPARE_WITH_TIMEOUT(received().toHex(), kChain.toHex(), 10000);
        QCOMPARE(Globals::ProductType, QStringLiteral("R52M"));
        QCOMPARE(Globals::DeviceModel, QStringLiteral("131152M2300101"));
        QCOMPARE(Device::InitStatus, QStringLiteral("1"));
        QCOMPARE(Globals::currentOrder, 1);
        // The status label of the information page is the device number.
        QCOMPARE(Globals::StatusLabel.data(), infoPage()->findChild<QLabel*>("LbDN"));
    }

    // Version replies as the device sends them; a form without the end byte
    // is taken once the line is quiet.
    void versionForms_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("version");
        QTest::newRow("6 bytes") << QByteArray::fromHex("6E010302038F") << "2.03";
        QTest::newRow("6 bytes, two-digit minor") << QByteArray::fromHex("6E0103010C8F") << "1.12";
        QTest::newRow("7 bytes") << QByteArray::fromHex("6E01030203048F") << "2.3.4";
        QTest::newRow("8 bytes") << QByteArray::fromHex("6E0103020304058F") << "2.3";
        QTest::newRow("6 bytes without end byte") << QByteArray::fromHex("6E0103020304") << "2.03";
        QTest::newRow("7 bytes without end byte")
            << QByteArray::fromHex("6E010302030400") << "2.3.4";
        QTest::newRow("5 bytes keep the old value") << QByteArray::fromHex("6E0103078F") << "9.9.9";
    }
    void versionForms() {
        QFETCH(QByteArray, reply);
        QFETCH(QString, version);
        Device::VersionInfo = QStringLiteral("9.9.9");
        sim::DeviceConfig config;
        config.versionOverride = toSimBytes(reply);
        start(config);
        QTRY_VERIFY_WITH_TIMEOUT(infoPage(), kFound);
        QCOMPARE(labelText(infoPage(), "LbVersion"), version);
        QTRY_COMPARE_WITH_TIMEOUT(received().toHex(), kChain.toHex(), 10000);
    }

    // However the replies are cut, each is read once, whole.
    void chunkedRepliesReadTheSame_data() {
        QTest::addColumn<int>("chunk");
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<bool>("lineTiming");
        QTest::newRow("1-byte chunks") << 1 << 4 << false;
        QTest::newRow("10-byte chunks") << 10 << 4 << false;
        QTest::newRow("byte by byte at line speed") << 1 << 0 << true;
    }
    void chunkedRepliesReadTheSame() {
        QFETCH(int, chunk);
        QFETCH(int, delayMs);
        QFETCH(bool, lineTiming);
        sim::DeviceConfig config;
        config.chunkSize = static_cast<size_t>(chunk);
        config.chunkDelayMs = delayMs;
        config.lineTiming = lineTiming;
        start(config);
        QTRY_VERIFY_WITH_TIMEOUT(infoPage(), kFound);
        QCOMPARE(labelText(infoPage(), "LbVersion"), QStringLiteral("1.2.7"));
        QCOMPARE(labelText(infoPage(), "LbDN"), QStringLiteral("F1311520230010042357"));
        QCOMPARE(labelText(infoPage(), "LbFirmware"), QStringLiteral("131152M2300101"));
        QTRY_COMPARE_WITH_TIMEOUT(received().toHex(), kChain.toHex(), 10000);
    }

    void deviceNumberWithoutFIsNeverAccepted() {
        sim::DeviceConfig config;
        config.watchId = std::string(30, '7');
        start(config);
        QTRY_COMPARE_WITH_TIMEOUT(Globals::ReceivedData->size(), 34, kFound);
        QCOMPARE(Globals::currentOrder, 5);
        device->send(sim::Bytes(40, '8'));
        QTRY_COMPARE_WITH_TIMEOUT(Globals::ReceivedData->size(), 74, 10000);
        QVERIFY(!QTest::qWaitFor([&] { return infoPage() != nullptr; }, 300));
        QCOMPARE(Globals::currentOrder, 5);
        QCOMPARE(received().toHex(), (kInitStatus + kVersion + kDeviceInfo + kWatchId).toHex());
    }

    void initStatusVariants_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("status");
        QTest::newRow("six bytes, status 1") << QByteArray::fromHex("6E0102018F00") << "1";
        QTest::newRow("six bytes, status negative")
            << QByteArray::fromHex("6E0102858F00") << "-123";
        QTest::newRow("one byte") << QByteArray::fromHex("00") << "unset";
        QTest::newRow("seven bytes") << QByteArray::fromHex("6E010201008F00") << "unset";
        QTest::newRow("five bytes ending the frame")
            << QByteArray::fromHex("6E0102018F") << "unset";
        QTest::newRow("two bytes") << QByteArray::fromHex("6E01") << "unset";
        QTest::newRow("lone carriage return") << QByteArray::fromHex("0D") << "unset";
    }
    void initStatusVariants() {
        QFETCH(QByteArray, reply);
        QFETCH(QString, status);
        Device::InitStatus = QStringLiteral("unset");
        sim::DeviceConfig config;
        config.initStatusOverride = toSimBytes(reply);
        start(config);
        QTRY_VERIFY_WITH_TIMEOUT(infoPage(), kFound);
        QCOMPARE(Device::InitStatus, status);
        QTRY_COMPARE_WITH_TIMEOUT(received().toHex(), kChain.toHex(), 10000);
    }

    void pendingResetIsWrittenOnce() {
        Globals::IsNeedResetDevice = true;
        start();
        QTRY_VERIFY_WITH_TIMEOUT(infoPage(), kFound);
        QVERIFY(!Globals::IsNeedResetDevice);
        const QByteArray expected =
            kInitStatus + kReset + kVersion + kDeviceInfo + kWatchId + kEndQuery;
        QTRY_COMPARE_WITH_TIMEOUT(received().toHex(), expected.toHex(), 10000);
    }

    void bootLoaderWithoutDeviceInformationAsksForTheModel() {
        sim::DeviceConfig config;
        config.startMode = sim::Mode::BootLoader;
        config.model = "OTHER-MODEL-7"; // not a model the tool updates: the flow stops here
        start(config);
        QTRY_VERIFY_WITH_TIMEOUT(Globals::IsUpdateMode, kFound);
        QTRY_COMPARE_WITH_TIMEOUT(received(), kInitStatus + "c", 10000);
        QTRY_COMPARE_WITH_TIMEOUT(Device::DeviceInfo, QStringLiteral("OTHER-MODEL-7"), 10000);
        QVERIFY(qobject_cast<NoDevice*>(window->centralWidget()));
    }

    // "2.Reset" asks first; answered yes, it writes the reset command, and
    // once the device answers again the page says that it restarted.
    void resetButtonWritesTheResetCommand_data() {
        QTest::addColumn<bool>("yes");
        QTest::newRow("answered no") << false;
        QTest::newRow("answered yes") << true;
    }
    void resetButtonWritesTheResetCommand() {
        QFETCH(bool, yes);
        start();
        QTRY_VERIFY_WITH_TIMEOUT(infoPage(), kFound);
        QTRY_COMPARE_WITH_TIMEOUT(received().size(), kChain.size(), 10000);
        device->clearReceived();
        pressReset(yes);
        if (!yes) {
            QVERIFY(!QTest::qWaitFor([&] { return !received().isEmpty(); }, 300));
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(received(), kReset, 10000);
        QCOMPARE(Globals::currentOrder, 25);
        QVERIFY(infoPage());
        QTRY_COMPARE_WITH_TIMEOUT(labelText(infoPage(), "resultMsg"),
                                  QStringLiteral("The device restarted"), 10000);
    }

    // Unplugged: the hung-up port is closed at once (not read in a loop), the
    // no-device page shows and the device is identified again when it comes
    // back, also when it comes back under a new name before the next pass of
    // the monitor.
    void unplugAndReplug_data() {
        QTest::addColumn<int>("goneMs"); // -1: plugged in again after the no-device page
        QTest::newRow("unplugged, then plugged in") << -1;
        QTest::newRow("back under a new name within 0.3 s") << 300;
    }
    void unplugAndReplug() {
        QFETCH(int, goneMs);
        start();
        QTRY_VERIFY_WITH_TIMEOUT(infoPage(), kFound);
        QTRY_COMPARE_WITH_TIMEOUT(received().size(), kChain.size(), 10000);
        const QString firstPort = QString::fromStdString(device->portPath());
        LogCapture log;
        device->clearReceived();
        if (goneMs >= 0) {
            device->replug(goneMs);
        } else {
            const std::clock_t cpuBefore = std::clock();
            device->unplug();
            QTRY_VERIFY_WITH_TIMEOUT(!window->port()->isOpen(), 500);
            QTRY_VERIFY_WITH_TIMEOUT(qobject_cast<NoDevice*>(window->centralWidget()), 1500);
            auto* label = window->centralWidget()->findChild<QLabel*>("statusMsg");
            QCOMPARE(label->text(), QStringLiteral("Please plug in your device"));
            QCOMPARE(Globals::PortName.get(), QStringLiteral("NoDevice"));
            QVERIFY(Globals::ComPortThread && Globals::ComPortThread->isRunning());
            const auto cpuSeconds = [&] {
                return double(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
            };
            QVERIFY2(!QTest::qWaitFor([&] { return cpuSeconds() > 0.3; }, 1000),
                     qPrintable(QString::number(cpuSeconds())));
            QCOMPARE(log.count("串口已关闭"), 1);
            device->plug();
        }
        QTRY_COMPARE_WITH_TIMEOUT(received().toHex(), kChain.toHex(), kFound);
        QTRY_VERIFY_WITH_TIMEOUT(infoPage(), 10000);
        const QString secondPort = QString::fromStdString(device->portPath());
        QVERIFY(goneMs < 0 || secondPort != firstPort);
        QCOMPARE(Globals::PortName.get(), secondPort);
        QVERIFY(window->port()->isOpen());
    }

    // A device that keeps talking where nothing reads fills the receive
    // buffer only up to its bound, and the tool goes on working.
    void chatterKeepsTheBufferBounded() {
        start();
        QTRY_VERIFY_WITH_TIMEOUT(infoPage(), kFound);
        QTRY_COMPARE_WITH_TIMEOUT(received().size(), kChain.size(), 10000);
        LogCapture log;
        std::thread talker([this] {
            device->send(sim::Bytes(1 << 20, 'x'));
            device->send({'E', 'N', 'D'});
        });
        const bool ended =
            QTest::qWaitFor([] { return Globals::ReceivedData->endsWith("END"); }, 20000);
        talker.join();
        QVERIFY(ended);
        QCOMPARE(Globals::ReceivedData->size(), 64 * 1024);
        QCOMPARE(Globals::ReceivedData->count('x'), 64 * 1024 - 3);
        int overflowLines = 0;
        for (const QString& line : log.lines())
            overflowLines += line.contains("only the newest are kept") ? 1 : 0;
        QCOMPARE(overflowLines, 1);
        device->clearReceived();
        pressReset(true);
        QTRY_COMPARE_WITH_TIMEOUT(received(), kReset, 10000);
        QCOMPARE(Globals::ReceivedData->size(), 0);
    }

    // A port that is listed but held by another program: the page says so,
    // with the system's reason, and is not rebuilt while the search retries.
    void portHeldByAnotherProgram() {
        start(sim::DeviceConfig(), true);
        QTRY_VERIFY_WITH_TIMEOUT(infoPage(), kFound);
        window.reset();
        QVERIFY(device->holdPort());
        LogCapture log;
        window = std::make_unique<MainWindow>();
        const QString prefix =
            QStringLiteral("Cannot open %1: ").arg(QString::fromStdString(device->portPath()));
        const auto shownText = [&] { return labelText(window->centralWidget(), "statusMsg"); };
        QTRY_VERIFY_WITH_TIMEOUT(shownText().startsWith(prefix), kFound);
        QVERIFY2(shownText().startsWith(prefix + "Device or resource busy (in use by "),
                 qPrintable(shownText()));
        QPointer<QWidget> shown = window->centralWidget();
        const int widgets = QApplication::allWidgets().size();
        QTRY_VERIFY_WITH_TIMEOUT(log.count("打不开" + Globals::PortName.get()) >= 4, kFound);
        QCOMPARE(window->centralWidget(), shown.data());
        QCOMPARE(QApplication::allWidgets().size(), widgets);

        device->releasePort();
        QTRY_VERIFY_WITH_TIMEOUT(infoPage(), kFound);
        QCOMPARE(labelText(infoPage(), "LbVersion"), QStringLiteral("1.2.7"));
    }

    // During an update the device's going is not reported as gone: the page
    // says that the update goes on once the device is back.
    void unplugDuringUpdateIsSaid() {
        start();
        QTRY_VERIFY_WITH_TIMEOUT(infoPage(), kFound);
        const QString name = Globals::PortName;
        Globals::IsUpdateMode = true;
        QSignalSpy gone(window.get(), SIGNAL(ComPortDissappear()));
        device->unplug();
        QVERIFY(!gone.wait(1500));
        QCOMPARE(gone.count(), 0);
        QCOMPARE(Globals::PortName.get(), name);
        QVERIFY(labelText(window->centralWidget(), "statusMsg")
                    .startsWith("The device was disconnected"));
    }
};

QTEST_MAIN(TestIdentification)
#include "test_identification.moc"
