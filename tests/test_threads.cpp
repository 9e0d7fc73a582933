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
#include <csignal>
#include <memory>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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
        QVERIFY(!Identity::Resolve(dir.filePath("none"), roots).samePort(port));
    }

    // The one rule for a port found after the device was lost or restarted:
    // a candidate by its place or a serial number; proven by its serial in
    // the same mode and, in its firmware, by its device number.
    void judge_data() {
        QTest::addColumn<QString>("place");
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("bootSerial"); // "-": its boot loader not seen yet
        QTest::addColumn<bool>("device");
        const QString here = "/sys/devices/usb1/1-1";
        const QString there = "/sys/devices/usb2/2-1";
        const QString dn = "F1311520230010042357";
        const QString otherDn = "F1311520230010099999";
        QTest::newRow("back at its place, its serial and D/N") << here << "TMB00001"
                                                               << "firmware" << dn << "-" << true;
        QTest::newRow("its boot loader at its place, other strings, first seen")
            << here << "BOOT0001"
            << "boot"
            << ""
            << "-" << true;
        QTest::newRow("its boot loader at its place without a serial") << here << ""
                                                                       << "boot"
                                                                       << ""
                                                                       << "BOOT0001" << true;
        QTest::newRow("another unit at its place: another serial")
            << here << "TMB00002"
            << "firmware" << otherDn << "-" << false;
        QTest::newRow("another unit at its place: its serial, another D/N")
            << here << "TMB00001"
            << "firmware" << otherDn << "-" << false;
        QTest::newRow("a boot loader at its place with another boot loader's serial")
            << here << "BOOT0002"
            << "boot"
            << ""
            << "BOOT0001" << false;
        QTest::newRow("re-plugged elsewhere, in its firmware") << there << "TMB00001"
                                                               << "firmware" << dn << "-" << true;
        QTest::newRow("another unit elsewhere with its serial: another D/N")
            << there << "TMB00001"
            << "firmware" << otherDn << "-" << false;
        QTest::newRow("its boot loader elsewhere, with the serial it had") << there << "BOOT0001"
                                                                           << "boot"
                                                                           << ""
                                                                           << "BOOT0001" << true;
        QTest::newRow("a boot loader elsewhere, its boot loader not seen before")
            << there << "TMB00001"
            << "boot"
            << ""
            << "-" << false;
        QTest::newRow("not asked yet, at its place") << here << "TMB00009"
                                                     << "unknown"
                                                     << ""
                                                     << "-" << true;
        QTest::newRow("not asked yet, elsewhere with its serial") << there << "TMB00001"
                                                                  << "unknown"
                                                                  << ""
                                                                  << "-" << true;
        QTest::newRow("not asked yet, elsewhere without its serial") << there << "TMB00002"
                                                                     << "unknown"
                                                                     << ""
                                                                     << "-" << false;
        QTest::newRow("no USB device behind it") << ""
                                                 << ""
                                                 << "unknown"
                                                 << ""
                                                 << "-" << false;
    }
    void judge() {
        QFETCH(QString, place);
        QFETCH(QString, serial);
        QFETCH(QString, mode);
        QFETCH(QString, number);
        QFETCH(QString, bootSerial);
        QFETCH(bool, device);
        KnownDevice known;
        known.port.node = "/dev/ttyACM0";
        known.port.usbDevice = "/sys/devices/usb1/1-1";
        known.learn(known.port, DeviceMode::Unknown);
        known.firmwareSerial = "TMB00001";
        known.firmwareSerialKnown = true;
        known.deviceNumber = "F1311520230010042357";
        if (bootSerial != "-")
            known.learn(DeviceIdentity{known.port.path,
                                       known.port.node,
                                       known.port.usbDevice,
                                       {},
                                       bootSerial,
                                       {},
                                       {},
                                       {}},
                        DeviceMode::BootLoader);
        DeviceIdentity port;
        port.node = "/dev/ttyACM1";
        port.usbDevice = place;
        port.serial = serial;
        const DeviceMode asked = mode == "firmware" ? DeviceMode::Firmware
                                 : mode == "boot"   ? DeviceMode::BootLoader
                                                    : DeviceMode::Unknown;
        const Verdict verdict = Identity::Judge(known, port, asked, number);
        QVERIFY2(verdict.device == device, qPrintable(verdict.why));
        QCOMPARE(verdict.why.isEmpty(), device);
        // A port without USB behind it is proven by its device number alone.
        if (place.isEmpty()) {
            KnownDevice pty;
            pty.port.node = "/dev/pts/3";
            pty.deviceNumber = known.deviceNumber;
            port.node = "/dev/pts/4";
            QVERIFY(Identity::Judge(pty, port, DeviceMode::BootLoader).device);
            QVERIFY(Identity::Judge(pty, port, DeviceMode::Firmware, known.deviceNumber).device);
            QVERIFY(!Identity::Judge(pty, port, DeviceMode::Firmware, "F0").device);
        }
    }

    // A device's lock is the kernel's: it ends with its process however that
    // ends and another user's run takes it then; a live one refuses every
    // other run, root's and a user's alike, naming its process; a lock file
    // that cannot be opened refuses nothing.
    void deviceLocks_data() {
        QTest::addColumn<QString>("holder");
        QTest::addColumn<bool>("taken");
        QTest::newRow("a killed run's lock, taken by another user's run") << "killed" << true;
        QTest::newRow("root's live run refuses a user's run") << "alive" << false;
        QTest::newRow("a lock file that cannot be opened refuses nothing") << "unopenable" << true;
    }
    void deviceLocks() {
        QFETCH(QString, holder);
        QFETCH(bool, taken);
        const passwd* nobody = ::getpwnam("nobody");
        if (::geteuid() != 0 || !nobody)
            QSKIP("needs root and the user nobody, to run the second run as another user");
        // A folder as /run/lock is: every user's, sticky.
        QByteArray folder = QDir::tempPath().toUtf8() + "/tembra-locks-XXXXXX";
        QVERIFY(::mkdtemp(folder.data()) && ::chmod(folder.constData(), 01777) == 0);
        Identity::Lock::SetFolder(QString::fromUtf8(folder));
        DeviceIdentity device;
        device.node = "/dev/ttyACM0";
        device.usbDevice = "/sys/devices/usb1/1-1";
        int ready[2];
        QVERIFY(::pipe(ready) == 0);
        pid_t first = -1;
        if (holder == "unopenable") {
            Identity::Lock lock;
            QString who;
            QVERIFY(lock.take(device, &who));
            lock.release();
            for (const QString& name : QDir(QString::fromUtf8(folder)).entryList(QDir::Files))
                QVERIFY(::chmod(QFile::encodeName(folder + "/" + name).constData(), 0600) == 0);
        } else if ((first = ::fork()) == 0) {
            Identity::Lock lock;
            QString who;
            const char ok = lock.take(device, &who) ? 1 : 0;
            if (::write(ready[1], &ok, 1) != 1 || holder == "killed")
                ::raise(SIGKILL); // as a run ended by the out-of-memory killer
            ::pause();
            ::_exit(0);
        } else {
            char ok = 0;
            QCOMPARE(::read(ready[0], &ok, 1), ssize_t(1));
            QCOMPARE(ok, char(1));
            if (holder == "killed")
                ::waitpid(first, nullptr, 0);
        }
        int said[2];
        QVERIFY(::pipe(said) == 0);
        const pid_t second = ::fork();
        if (second == 0) {
            if (::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0)
                ::_exit(3);
            Identity::Lock lock;
            QString who;
            const bool got = lock.take(device, &who);
            const QByteArray text = who.toUtf8();
            const bool written = ::write(said[1], text.constData(), size_t(text.size())) >= 0;
            ::_exit(got && written ? 0 : 1);
        }
        ::close(said[1]);
        int status = 0;
        ::waitpid(second, &status, 0);
        char text[256] = {};
        const ssize_t n = ::read(said[0], text, sizeof(text) - 1);
        if (first > 0 && holder == "alive") {
            ::kill(first, SIGKILL);
            ::waitpid(first, nullptr, 0);
        }
        for (int fd : {ready[0], ready[1], said[0]})
            ::close(fd);
        QDir(QString::fromUtf8(folder)).removeRecursively();
        Identity::Lock::SetFolder(QString());
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status) == 0, taken);
        if (!taken)
            QVERIFY2(QByteArray(text, int(qMax<ssize_t>(n, 0)))
                         .startsWith("process " + QByteArray::number(first)),
                     text);
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
