// The port-search and port-monitor threads and the connection control of the
// window, with port lists installed by the test.
#include "app/mainwindow.h"
#include "device/deviceidentity.h"
#include "device/portlist.h"
#include "device/portscan.h"
#include "device/threadcomport.h"
#include "device/threadmonitordevice.h"
#include "pages/nodevice.h"
#include "support/logcapture.h"
#include "support/ptyfixture.h"
#include "support/simports.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <mutex>
#include <sys/stat.h>

Q_DECLARE_METATYPE(QList<PortEntry>)

namespace {
// A port list the test changes while the threads read it.
class FakePorts {
public:
    FakePorts() {
        PortList::SetProvider([this] {
            std::lock_guard<std::mutex> lock(mutex);
            ++reads;
            return ports;
        });
    }
    ~FakePorts() { PortList::ResetProvider(); }
    void set(const QList<PortEntry>& list) {
        std::lock_guard<std::mutex> lock(mutex);
        ports = list;
    }
    int readCount() {
        std::lock_guard<std::mutex> lock(mutex);
        return reads;
    }

private:
    std::mutex mutex;
    QList<PortEntry> ports;
    int reads = 0;
};

const PortEntry kOther{"ttyS0", "16550A serial port"};

QString statusTextOf(QWidget* page) {
    auto* label = page ? page->findChild<QLabel*>("statusMsg") : nullptr;
    return label ? label->text() : QString();
}
const PortEntry kFirst{"ttyACM0", "USB CDC Serial (velmorix)"};
const PortEntry kSecond{"ttyACM1", "Velmorix Watch"};
} // namespace

class TestThreads : public QObject {
    Q_OBJECT
private slots:
    void init() { resetToolState(); }
    void cleanup() { ThreadMonitorDevice::SetPollMs(ThreadMonitorDevice::DefaultPollMs); }

    void matchingRule_data() {
        QTest::addColumn<QList<PortEntry>>("ports");
        QTest::addColumn<QString>("found");
        QTest::newRow("none") << QList<PortEntry>{kOther} << "";
        QTest::newRow("empty list") << QList<PortEntry>{} << "";
        QTest::newRow("usb cdc in lower case")
            << QList<PortEntry>{kOther, {"ttyACM3", "generic usb cdc adapter"}} << "ttyACM3";
        QTest::newRow("maker name in capitals anywhere")
            << QList<PortEntry>{{"COM7", "THE VELMORIX PORT"}} << "COM7";
        QTest::newRow("two matches, first listed wins")
            << QList<PortEntry>{kOther, kSecond, kFirst} << "ttyACM1";
        QTest::newRow("manufacturer text alone does not count")
            << QList<PortEntry>{{"ttyUSB0", "USB Serial"}} << "";
    }
    void matchingRule() {
        QFETCH(QList<PortEntry>, ports);
        QFETCH(QString, found);
        QString name;
        QCOMPARE(PortList::FindDevicePort(ports, &name), !found.isEmpty());
        QCOMPARE(name, found);
    }

    void searchFindsFirstMatchAfterOnePause() {
        FakePorts fake;
        fake.set({kOther, kFirst, kSecond});
        Globals::PortName = QStringLiteral("NoDevice");
        ThreadComPort thread;
        QSignalSpy finished(&thread, &QThread::finished);
        QElapsedTimer timer;
        timer.start();
        thread.start();
        QVERIFY(finished.wait(3000));
        QVERIFY(timer.elapsed() >= 295);
        QCOMPARE(Globals::PortName.get(), QStringLiteral("ttyACM0"));
    }

    void searchKeepsPollingUntilThePortAppears() {
        FakePorts fake;
        ThreadComPort thread;
        QSignalSpy finished(&thread, &QThread::finished);
        thread.start();
        QTRY_VERIFY_WITH_TIMEOUT(fake.readCount() >= 3, 10000);
        QVERIFY(thread.isRunning());
        fake.set({kSecond});
        QVERIFY(finished.wait(3000));
        QCOMPARE(Globals::PortName.get(), QStringLiteral("ttyACM1"));
    }

    void monitorFollowsThePortAndReportsItsLoss() {
        FakePorts fake;
        fake.set({kSecond, kFirst});
        MainWindow window;
        QTRY_COMPARE_WITH_TIMEOUT(Globals::PortName.get(), QStringLiteral("ttyACM1"), 2500);
        // Outside an update the loss is reported once a second.
        QSignalSpy gone(&window, SIGNAL(ComPortDissappear()));
        Globals::NoDeviceMessage = Globals::ProcessingMessage;
        fake.set({kOther});
        QVERIFY(gone.wait(2500));
        QCOMPARE(Globals::PortName.get(), QStringLiteral("NoDevice"));
        QCOMPARE(Globals::NoDeviceMessage.get(), Globals::PlugInMessage);
        QTRY_VERIFY_WITH_TIMEOUT(qobject_cast<NoDevice*>(window.centralWidget()), 10000);
        QVERIFY(gone.wait(2500));
    }

    void monitorIgnoresLossDuringAnUpdate() {
        FakePorts fake;
        fake.set({kFirst});
        MainWindow window;
        QTRY_COMPARE_WITH_TIMEOUT(Globals::PortName.get(), QStringLiteral("ttyACM0"), 2500);
        Globals::IsUpdateMode = true;
        QSignalSpy gone(&window, SIGNAL(ComPortDissappear()));
        LogCapture log;
        fake.set({});
        QTRY_VERIFY_WITH_TIMEOUT(log.contains("端口已退出"), 2500);
        QVERIFY(!gone.wait(1200));
        QCOMPARE(Globals::PortName.get(), QStringLiteral("ttyACM0"));
        Globals::IsUpdateMode = false;
    }

    void initPcWithoutPortOnlyLogs() {
        FakePorts fake;
        MainWindow window;
        window.StopPortThreads();
        QVERIFY(!window.monitor());
        LogCapture log;
        Globals::PortName = QStringLiteral("NoDevice");
        window.InitPC();
        QCOMPARE(log.count("端口不正确"), 1);
        QVERIFY(!window.port());
        QVERIFY(window.monitor() && window.monitor()->isRunning());
    }

    void monitorRestartsAfterAPendingStop() {
        FakePorts fake; // no device: nothing but the test calls InitPC
        MainWindow window;
        ThreadMonitorDevice* monitor = window.monitor();
        QTRY_VERIFY_WITH_TIMEOUT(monitor->isRunning(), 10000);
        QSignalSpy finished(monitor, &QThread::finished);
        window.StopMonitor();
        window.InitPC(); // asks for the monitor again before the stop took effect
        QVERIFY(finished.count() > 0 || finished.wait(3000));
        QTRY_VERIFY_WITH_TIMEOUT(monitor->isRunning(), 10000);
        QCOMPARE(window.monitor(), monitor);
        // A plain stop, with nothing asking again, ends it for good.
        window.StopMonitor();
        QTRY_VERIFY_WITH_TIMEOUT(!monitor->isRunning(), 10000);
        QVERIFY(!QTest::qWaitFor([&] { return monitor->isRunning(); }, 300));
    }

    void searchIsStartedOnceAndRestartedLater() {
        PtyFixture pty;
        const PortEntry device{pty.slavePath(), "USB CDC Serial"};
        FakePorts fake;
        MainWindow window;
        ThreadComPort* search = Globals::ComPortThread;
        QVERIFY(search && search->isRunning());
        LogCapture log;
        window.SearchComPort(); // already running: nothing
        QCOMPARE(Globals::ComPortThread, search);
        QCOMPARE(log.count("过来重新搜索了"), 0);

        QSignalSpy finished(search, &QThread::finished);
        fake.set({device});
        QVERIFY(finished.wait(3000));
        QTRY_VERIFY_WITH_TIMEOUT(log.contains("getInitStatus"), 10000);

        // Restarted, the same thread reports to the slot chosen when it was
        // created, even though an update has begun since.
        Globals::IsUpdateMode = true;
        fake.set({});
        log.clear();
        window.SearchComPort();
        QCOMPARE(Globals::ComPortThread, search);
        QCOMPARE(log.count("过来重新搜索了"), 1);
        fake.set({device});
        QVERIFY(finished.wait(3000));
        QTRY_VERIFY_WITH_TIMEOUT(log.contains("怎么还在升级状态"), 10000);
        QVERIFY(!log.contains("OpenComPortForUpdate"));
        QCOMPARE(pty.read(7).right(1), QByteArray("c"));
        Globals::IsUpdateMode = false;
    }

    // Without a device the monitor reports the absence on every pass; the
    // window keeps one no-device page, no page or thread piles up, and the
    // log says it once.
    void noDeviceBuildsNothingNewOnEveryPass() {
        FakePorts fake;
        ThreadMonitorDevice::SetPollMs(10);
        LogCapture log;
        MainWindow window;
        QSignalSpy gone(&window, SIGNAL(ComPortDissappear()));
        QTRY_VERIFY_WITH_TIMEOUT(gone.count() >= 5, 10000);
        QPointer<QWidget> shown = window.centralWidget();
        const int widgets = QApplication::allWidgets().size();
        const int threads = ThreadComPort::Instances();
        QTRY_VERIFY_WITH_TIMEOUT(gone.count() >= 100, 10000);
        QCOMPARE(window.centralWidget(), shown.data());
        QCOMPARE(QApplication::allWidgets().size(), widgets);
        QCOMPARE(ThreadComPort::Instances(), threads);
        QCOMPARE(statusTextOf(window.centralWidget()), Globals::PlugInMessage);
        QCOMPARE(log.count("端口已退出"), 1);
    }

    // While the port cannot be reopened for an update, one search thread
    // object is reused for every retry.
    void updateRetriesReuseOneSearchThread() {
        FakePorts fake;
        fake.set({{"/nonexistent/ttyGhost", "USB CDC ghost"}});
        MainWindow window;
        window.StopMonitor();
        LogCapture log;
        window.OpenComPortForUpdate();
        QTRY_VERIFY_WITH_TIMEOUT(log.count("OpenComPortForUpdate") >= 6, 10000);
        QVERIFY(ThreadComPort::Instances() <= 2);
        QCOMPARE(Globals::currentOrder, 3);
    }

    // A device whose port changes name between two passes of the monitor (it
    // came back while the old port was still held) is identified again on
    // the new port.
    void renamedPortIsIdentifiedAgain() {
        PtyFixture first;
        PtyFixture second;
        FakePorts fake;
        fake.set({{first.slavePath(), "USB CDC Serial"}});
        ThreadMonitorDevice::SetPollMs(20);
        MainWindow window;
        const QByteArray initStatus = QByteArray::fromHex("6E0102018F6E");
        QCOMPARE(first.read(6, 10000), initStatus);
        LogCapture log;
        // Another device's port listed first, with the old one still there:
        // not a replug.
        fake.set({{second.slavePath(), "USB CDC Serial"}, {first.slavePath(), "USB CDC Serial"}});
        const int reads = fake.readCount();
        QTRY_VERIFY_WITH_TIMEOUT(fake.readCount() >= reads + 10, 10000);
        QVERIFY(!log.contains("the device's port changed"));
        QVERIFY(window.port()->isOpen());
        fake.set({{second.slavePath(), "USB CDC Serial"}});
        QCOMPARE(second.read(6, 10000), initStatus);
        QVERIFY(log.contains("the device's port changed from " + first.slavePath()));
        QCOMPARE(Globals::PortName.get(), second.slavePath());
        QVERIFY(window.port()->isOpen());
    }

    void closingTheWindowStopsEveryThread() {
        FakePorts fake;
        auto window = std::make_unique<MainWindow>();
        QPointer<ThreadMonitorDevice> monitor = window->monitor();
        QTRY_VERIFY_WITH_TIMEOUT(Globals::ComPortThread && Globals::ComPortThread->isRunning(),
                                 10000);
        QElapsedTimer timer;
        timer.start();
        window.reset();
        QVERIFY2(timer.elapsed() < 500, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(!Globals::ComPortThread);
        QVERIFY(!Globals::MainWin);
        const int reads = fake.readCount();
        QVERIFY(!QTest::qWaitFor([&] { return fake.readCount() != reads; }, 400));
    }
    // When a port pass lists the system's ports in full: only after the tty
    // devices changed, and now and then; tried on a made-up tty tree.
    void portScanDecisions_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("lists");
        QTest::newRow("nothing") << "" << false;
        QTest::newRow("port appears") << "appear" << true;
        QTest::newRow("port goes") << "go" << true;
        QTest::newRow("replaced under the same name") << "replace" << true;
        QTest::newRow("permissions change") << "chmod" << true;
        QTest::newRow("description arrives late") << "udev" << true;
        QTest::newRow("virtual terminal touched") << "virtual" << false;
        QTest::newRow("refresh interval passed") << "refresh" << true;
    }
    void portScanDecisions() {
        QFETCH(QString, change);
        QFETCH(bool, lists);
        QTemporaryDir dir;
        const PortScan::Roots roots{dir.filePath("tty"), dir.filePath("dev"), dir.filePath("udev")};
        for (const char* sub : {"tty", "dev", "udev"})
            QVERIFY(QDir(dir.path()).mkdir(sub));
        const auto addPort = [&](const QString& name, const QString& device) {
            QFile::link("../devices/" + device + "/tty/" + name, roots.ttyClass + "/" + name);
            QFile node(roots.dev + "/" + name);
            return node.open(QIODevice::WriteOnly);
        };
        QVERIFY(addPort("ttyACM0", "usb1/1-1/1-1:1.0"));
        QVERIFY(addPort("tty5", "virtual"));
        PortScan scan(roots, 5000);
        QVERIFY(scan.NeedsListing(0));
        const QString acm0 = roots.dev + "/ttyACM0";
        if (change == "appear") {
            QVERIFY(addPort("ttyACM1", "usb1/1-2/1-2:1.0"));
        } else if (change == "go") {
            QVERIFY(QFile::remove(roots.ttyClass + "/ttyACM0") && QFile::remove(acm0));
        } else if (change == "replace") {
            QFile fresh(acm0 + ".new"); // a new node, made while the old one exists
            QVERIFY(fresh.open(QIODevice::WriteOnly));
            QVERIFY(::rename(QFile::encodeName(fresh.fileName()), QFile::encodeName(acm0)) == 0);
        } else if (change == "chmod") {
            QVERIFY(::chmod(QFile::encodeName(acm0), 0666) == 0);
        } else if (change == "udev") {
            QFile record(roots.udevData + "/c166:0");
            QVERIFY(record.open(QIODevice::WriteOnly));
            // As udev finishing later: its folder's time moves on.
            const timespec later[2] = {{2000000000, 0}, {2000000000, 0}};
            QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(roots.udevData), later, 0) == 0);
        } else if (change == "virtual") {
            QVERIFY(::chmod(QFile::encodeName(roots.dev + "/tty5"), 0600) == 0);
        }
        QCOMPARE(scan.NeedsListing(change == "refresh" ? 5000 : 100), lists);
        QVERIFY(!scan.NeedsListing(change == "refresh" ? 5100 : 200)); // and once only
    }

    // A port is resolved to the USB device behind it, through any link, on a
    // made-up sysfs tree (for /dev/null's device number); a pseudo-terminal
    // has no USB device behind it.
    void identityOfAPort() {
        QTemporaryDir dir;
        const QString usb = dir.filePath("sys/devices/platform/dummy_hcd.0/usb1/1-1");
        const QString tty = usb + "/1-1:1.0/tty/ttyACM0";
        QVERIFY(QDir().mkpath(tty) && QDir().mkpath(dir.filePath("sys/dev/char")) &&
                QDir().mkpath(dir.filePath("by-path")));
        for (const auto& [name, value] : {std::pair<const char*, const char*>{"idVendor", "1209"},
                                          {"idProduct", "0001"},
                                          {"busnum", "1"},
                                          {"serial", "TMB00001\n"}}) {
            QFile file(usb + "/" + name);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(value) > 0);
        }
        // The interface has ids of its own kind, never a bus number: not the device.
        QFile(usb + "/1-1:1.0/bInterfaceNumber").open(QIODevice::WriteOnly);
        QVERIFY(QFile::link(tty, dir.filePath("sys/dev/char/1:3")));
        const QString byPath = dir.filePath("by-path/platform-dummy_hcd.0-usb-0:1:1.0");
        QVERIFY(QFile::link("/dev/null", byPath));
        QVERIFY(QFile::link("/dev/null", dir.filePath("by-id-link")));
        const IdentityRoots roots{dir.filePath("sys/dev/char"), dir.filePath("by-path")};

        const DeviceIdentity port = Identity::Resolve(dir.filePath("by-id-link"), roots);
        QCOMPARE(port.node, QStringLiteral("/dev/null"));
        QCOMPARE(port.usbDevice, QFileInfo(usb).canonicalFilePath());
        QCOMPARE(port.serial, QStringLiteral("TMB00001"));
        QCOMPARE(port.vendorId + ":" + port.productId, QStringLiteral("1209:0001"));
        QCOMPARE(port.byPath, byPath);
        QVERIFY(port.describe().contains("serial TMB00001"));

        sim::SimDevice device;
        device.plug();
        const DeviceIdentity pty = Identity::Resolve(QString::fromStdString(device.portPath()));
        QVERIFY(!pty.isUsb() && !pty.node.isEmpty());
        QVERIFY(!Identity::Resolve(dir.filePath("none"), roots).sameDevice(port));
    }

    // The same device: at the same place on the bus, or failing that with the
    // same serial number; a port without USB behind it by its node.
    void sameDevice_data() {
        QTest::addColumn<QString>("place");
        QTest::addColumn<QString>("serial");
        QTest::addColumn<bool>("same");
        QTest::newRow("the same place, as a boot loader without a serial")
            << "/sys/devices/usb1/1-1"
            << "" << true;
        QTest::newRow("another place, the same serial (re-plugged elsewhere)")
            << "/sys/devices/usb2/2-1"
            << "TMB00001" << true;
        QTest::newRow("another place and serial") << "/sys/devices/usb2/2-1"
                                                  << "TMB00002" << false;
        QTest::newRow("another place, no serial") << "/sys/devices/usb2/2-1"
                                                  << "" << false;
        QTest::newRow("no USB device behind it") << ""
                                                 << "" << false;
    }
    void sameDevice() {
        QFETCH(QString, place);
        QFETCH(QString, serial);
        QFETCH(bool, same);
        DeviceIdentity first;
        first.node = "/dev/ttyACM0";
        first.usbDevice = "/sys/devices/usb1/1-1";
        first.serial = "TMB00001";
        DeviceIdentity second = first;
        second.node = "/dev/ttyACM1";
        second.usbDevice = place;
        second.serial = serial;
        QCOMPARE(first.sameDevice(second), same);
        QCOMPARE(second.sameDevice(first), same);
    }

    // The cached listing names the same ports as the system's own.
    void listingMatchesTheSystem() {
        QList<QPair<QString, QString>> system;
        for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
            system.append({info.portName(), info.description()});
        for (int pass = 0; pass < 2; ++pass) {
            QList<QPair<QString, QString>> listed;
            for (const PortEntry& port : PortList::Available())
                listed.append({port.name, port.description});
            QCOMPARE(listed, system);
        }
    }
};

QTEST_MAIN(TestThreads)
#include "test_threads.moc"
