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
#include <QPushButton>
#include <QtTest>
#include <memory>

namespace {
const QByteArray kInitStatus = QByteArray::fromHex("6E0102018F6E");
const QByteArray kVersion = QByteArray::fromHex("6E0103038F6E");
const QByteArray kDeviceInfo = QByteArray::fromHex("6E0103028F6E");
const QByteArray kWatchId = QByteArray::fromHex("6E0104018F6E");
const QByteArray kEndQuery = QByteArray::fromHex("6E010F018F6E");
const QByteArray kReset = QByteArray::fromHex("6E0111018F6E");
const QByteArray kChain = kInitStatus + kVersion + kDeviceInfo + kWatchId + kEndQuery;
const int kFound = 5000;

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
        QCOMPARE(infoPage()->findChild<QPushButton*>("BtnUpdate")->text(),
                 QStringLiteral("1.Update Firmware"));
        QCOMPARE(infoPage()->findChild<QPushButton*>("BtnReset")->text(),
                 QStringLiteral("2.Reset"));
        QTRY_COMPARE_WITH_TIMEOUT(received().toHex(), kChain.toHex(), 2000);
        QCOMPARE(Globals::ProductType, QStringLiteral("R52M"));
        QCOMPARE(Globals::DeviceModel, QStringLiteral("131152M2300101"));
        QCOMPARE(Device::InitStatus, QStringLiteral("1"));
        QCOMPARE(Globals::currentOrder, 1);
        // The status label of the information page is the device number.
        QCOMPARE(Globals::StatusLabel.data(), infoPage()->findChild<QLabel*>("LbDN"));
    }

    void versionForms_data() {
        QTest::addColumn<int>("form");
        QTest::addColumn<QString>("version");
        QTest::newRow("6 bytes") << int(sim::VersionForm::Six) << "2.03";
        QTest::newRow("7 bytes") << int(sim::VersionForm::Seven) << "2.3.4";
        QTest::newRow("8 bytes") << int(sim::VersionForm::Eight) << "2.3";
    }
    void versionForms() {
        QFETCH(int, form);
        QFETCH(QString, version);
        sim::DeviceConfig config;
        config.versionForm = static_cast<sim::VersionForm>(form);
        config.version[0] = 2;
        config.version[1] = 3;
        config.version[2] = 4;
        config.version[3] = 5;
        start(config);
        QTRY_VERIFY_WITH_TIMEOUT(infoPage(), kFound);
        QCOMPARE(labelText(infoPage(), "LbVersion"), version);
    }

    void sixByteVersionWithTwoDigitMinor() {
        sim::DeviceConfig config;
        config.versionForm = sim::VersionForm::Six;
        config.version[0] = 1;
        config.version[1] = 12;
        start(config);
        QTRY_VERIFY_WITH_TIMEOUT(infoPage(), kFound);
        QCOMPARE(labelText(infoPage(), "LbVersion"), QStringLiteral("1.12"));
    }

    void versionOfAnotherLengthKeepsTheOldValue() {
        Device::VersionInfo = QStringLiteral("9.9.9");
        sim::DeviceConfig config;
        config.versionOverride = {0x6E, 0x01, 0x03, 0x07, 0x8F};
        start(config);
        QTRY_VERIFY_WITH_TIMEOUT(infoPage(), kFound);
        QCOMPARE(labelText(infoPage(), "LbVersion"), QStringLiteral("9.9.9"));
        QCOMPARE(received().toHex(), kChain.toHex());
    }

    void chunkedRepliesReadTheSame_data() {
        QTest::addColumn<int>("chunk");
        QTest::newRow("1-byte chunks") << 1;
        QTest::newRow("10-byte chunks") << 10;
    }
    void chunkedRepliesReadTheSame() {
        QFETCH(int, chunk);
        sim::DeviceConfig config;
        config.chunkSize = static_cast<size_t>(chunk);
        config.chunkDelayMs = 4;
        start(config);
        QTRY_VERIFY_WITH_TIMEOUT(infoPage(), kFound);
        QCOMPARE(labelText(infoPage(), "LbVersion"), QStringLiteral("1.2.7"));
        QCOMPARE(labelText(infoPage(), "LbDN"), QStringLiteral("F1311520230010042357"));
        QCOMPARE(labelText(infoPage(), "LbFirmware"), QStringLiteral("131152M2300101"));
        QTRY_COMPARE_WITH_TIMEOUT(received().toHex(), kChain.toHex(), 2000);
    }

    void deviceNumberWithoutFIsNeverAccepted() {
        sim::DeviceConfig config;
        config.watchId = std::string(30, '7');
        start(config);
        QTRY_COMPARE_WITH_TIMEOUT(Globals::ReceivedData->size(), 34, kFound);
        QCOMPARE(Globals::currentOrder, 5);
        device->send(sim::Bytes(40, '8'));
        QTRY_COMPARE_WITH_TIMEOUT(Globals::ReceivedData->size(), 74, 2000);
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
        QCOMPARE(received().toHex(), kChain.toHex());
    }

    void pendingResetIsWrittenOnce() {
        Globals::IsNeedResetDevice = true;
        start();
        QTRY_VERIFY_WITH_TIMEOUT(infoPage(), kFound);
        QVERIFY(!Globals::IsNeedResetDevice);
        const QByteArray expected =
            kInitStatus + kReset + kVersion + kDeviceInfo + kWatchId + kEndQuery;
        QTRY_COMPARE_WITH_TIMEOUT(received().toHex(), expected.toHex(), 2000);
    }

    void bootLoaderWithoutDeviceInformationAsksForTheModel() {
        sim::DeviceConfig config;
        config.startMode = sim::Mode::BootLoader;
        config.model = "OTHER-MODEL-7"; // not a model the tool updates: the flow stops here
        start(config);
        QTRY_VERIFY_WITH_TIMEOUT(Globals::IsUpdateMode, kFound);
        QTRY_COMPARE_WITH_TIMEOUT(received(), kInitStatus + "c", 2000);
        QTRY_COMPARE_WITH_TIMEOUT(Device::DeviceInfo, QStringLiteral("OTHER-MODEL-7"), 2000);
        QVERIFY(qobject_cast<NoDevice*>(window->centralWidget()));
    }

    void resetButtonWritesTheResetCommand() {
        start();
        QTRY_VERIFY_WITH_TIMEOUT(infoPage(), kFound);
        QTRY_COMPARE_WITH_TIMEOUT(received().size(), kChain.size(), 2000);
        device->clearReceived();
        QTest::mouseClick(infoPage()->findChild<QPushButton*>("BtnReset"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(received(), kReset, 2000);
        QCOMPARE(Globals::currentOrder, 25);
        QVERIFY(infoPage());
    }

    void unplugAndReplug() {
        start();
        QTRY_VERIFY_WITH_TIMEOUT(infoPage(), kFound);
        const std::string firstPort = device->portPath();
        device->unplug();
        QElapsedTimer timer;
        timer.start();
        QTRY_VERIFY_WITH_TIMEOUT(qobject_cast<NoDevice*>(window->centralWidget()), 1500);
        QVERIFY(timer.elapsed() <= 1500);
        auto* label = window->centralWidget()->findChild<QLabel*>("statusMsg");
        QCOMPARE(label->text(), QStringLiteral("Please plug in your device"));
        QCOMPARE(Globals::PortName.get(), QStringLiteral("NoDevice"));
        QVERIFY(Globals::ComPortThread && Globals::ComPortThread->isRunning());

        device->clearReceived();
        device->plug();
        QVERIFY(device->portPath() != firstPort || device->appearances() == 2);
        QTRY_VERIFY_WITH_TIMEOUT(infoPage(), kFound);
        QTRY_COMPARE_WITH_TIMEOUT(received().toHex(), kChain.toHex(), 2000);
    }

    void unplugDuringUpdateChangesNothing() {
        start();
        QTRY_VERIFY_WITH_TIMEOUT(infoPage(), kFound);
        const QString name = Globals::PortName;
        Globals::IsUpdateMode = true;
        QSignalSpy gone(window.get(), SIGNAL(ComPortDissappear()));
        device->unplug();
        QVERIFY(!gone.wait(1500));
        QCOMPARE(gone.count(), 0);
        QCOMPARE(Globals::PortName.get(), name);
        QVERIFY(infoPage());
    }
};

QTEST_MAIN(TestIdentification)
#include "test_identification.moc"
