// The tool's command line, run as a service desk would: the real executable
// against the simulated device and update service, each in its own process.
#include "app/sleepinhibitor.h"
#include "app/state/history.h"
#include "app/state/updateevents.h"
#include "sim/firmwareimage.h"
#include "sim/replay.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLockFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <memory>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {
const int kRunMs = 60000;

struct Result {
    int code = -1;
    QList<QJsonObject> events;
    QByteArray out;
    QByteArray err;
    // What the stand-in logind said.
    QByteArray logind;
};
} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT
private:
    // The columns of every table that runRow() plays.
    static void addRowColumns() {
        QTest::addColumn<QStringList>("deviceArgs");
        QTest::addColumn<QStringList>("serviceArgs");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("how");
    }

    QTemporaryDir dir;
    QProcess device;
    QProcess service;
    QString link;
    QString serviceUrl;

    void startSims(const QStringList& deviceArgs, const QStringList& serviceArgs) {
        link = dir.filePath("by-id-tembra");
        device.start(TEMBRA_SIM_DEVICE, deviceArgs + QStringList{"--link", link});
        service.start(TEMBRA_UPDATE_SERVICE, serviceArgs);
        QVERIFY(device.waitForReadyRead(10000) && service.waitForReadyRead(10000));
        serviceUrl =
            QStringLiteral("http://127.0.0.1:%1/").arg(QString(service.readLine().trimmed()));
        QVERIFY(QFileInfo::exists(link));
    }
    // Runs the tool in the test's folder; how: "nohup" runs it with hang-ups
    // ignored and hangs it up, "close" pipes its output into "head -n 1",
    // "replayed" gives its bounds half their length, not a fifth: a replayed
    // device keeps the times recorded, which a busy machine stretches.
    Result run(QStringList args, const QString& how = QString()) {
        for (QString& arg : args)
            arg.replace("REALPORT", QFileInfo(link).symLinkTarget())
                .replace("LINK", link)
                .replace("URL", serviceUrl)
                .replace("DIR", dir.path());
        QProcess tool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(name); // no display at all
        env.insert("HOME", dir.path());
        // The update history of the tool's runs, in the test's folder.
        env.insert("XDG_STATE_HOME",
                   how == "history unwritable" ? dir.filePath("blocked") : dir.filePath("state"));
        // The tool's own bounds (a silent device, one that does not come
        // back) and its restart pauses, a fifth of their length.
        env.insert("TEMBRA_TEST_TIME_SCALE", how == "replayed" ? "0.5" : "0.2");
        tool.setWorkingDirectory(dir.path());
        if (how == "window") // the window, with a platform that needs no display
            env.insert("QT_QPA_PLATFORM", "offscreen");
        // A private bus with a stand-in logind, as the tool's system bus.
        QProcess bus;
        QProcess logind;
        if (how == "awake") {
            bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
            if (!bus.waitForReadyRead(10000))
                return Result();
            const QString address = QString::fromUtf8(bus.readLine().trimmed());
            QProcessEnvironment theirs = QProcessEnvironment::systemEnvironment();
            theirs.insert("DBUS_SESSION_BUS_ADDRESS", address);
            logind.setProcessEnvironment(theirs);
            logind.start(TEMBRA_TEST_LOGIND, QStringList());
            if (!logind.waitForReadyRead(10000) || !logind.readLine().startsWith("ready"))
                return Result();
            env.insert("DBUS_SYSTEM_BUS_ADDRESS", address);
        }
        // A system bus that accepts connections and never says a word.
        QLocalServer hungBus;
        if (how == "hung bus") {
            QLocalServer::removeServer(dir.filePath("hung-bus"));
            if (!hungBus.listen(dir.filePath("hung-bus")))
                return Result();
            env.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + dir.filePath("hung-bus"));
        }
        if (how == "usb" || how == "twins") // ports found in a made-up sysfs
            env.insert("TEMBRA_TEST_IDENTITY_ROOT", dir.filePath("usb"));
        if (how == "german") { // a user whose language is German
            env.remove("LC_ALL");
            env.insert("LANG", "de_DE.UTF-8");
            env.insert("LANGUAGE", "de");
        }
        tool.setProcessEnvironment(env);
        if (how == "nohup")
            tool.start("nohup", QStringList{TEMBRA_TOOL} + args);
        else if (how == "close")
            tool.start("bash", QStringList{"-c", "\"$0\" \"$@\" | head -n 1; exit ${PIPESTATUS[0]}",
                                           TEMBRA_TOOL} +
                                   args);
        else if (!how.startsWith("second run"))
            tool.start(TEMBRA_TOOL, args);
        Result result;
        // Another run on the same device, with its own data folder, is under
        // way when this one starts (and ends well): sending the firmware (at
        // line speed, for seconds), or switching the device.
        QProcess first;
        if (how.startsWith("second run")) {
            QStringList theirs = args;
            theirs.last() += "-first"; // the data folder, given last
            first.setProcessEnvironment(env);
            first.start(TEMBRA_TOOL, theirs);
            const QByteArray underWay = how == "second run"
                                            ? QByteArray("\"phase\":\"transfer\"")
                                            : QByteArray("wait for update firmware...\"");
            QByteArray said;
            while (!said.contains(underWay) && first.waitForReadyRead(kRunMs))
                said += first.readAllStandardOutput();
            tool.start(TEMBRA_TOOL, args);
        }
        if (how == "nohup") {
            tool.waitForReadyRead(kRunMs);
            ::kill(pid_t(tool.processId()), SIGHUP);
        }
        if (how == "interrupt") { // stopped while it sends the firmware
            while (!result.out.contains("\"phase\":\"transfer\"") && tool.waitForReadyRead(kRunMs))
                result.out += tool.readAllStandardOutput();
            ::kill(pid_t(tool.processId()), SIGTERM);
        }
        if (how == "history unwritable") { // where the history's folder should be, a file
            QDir().mkpath(dir.filePath("blocked"));
            QFile blocker(dir.filePath("blocked/tembra-update-tool"));
            if (!blocker.open(QIODevice::WriteOnly))
                return result;
        }
        if (how == "window") { // closed once it has said why it does nothing
            tool.setReadChannel(QProcess::StandardError);
            while (!result.err.contains("another instance holds") && tool.waitForReadyRead(kRunMs))
                result.err += tool.readAllStandardError();
            ::kill(pid_t(tool.processId()), SIGTERM);
        }
        if (!tool.waitForFinished(kRunMs))
            return result;
        if (how.startsWith("second run") &&
            (!first.waitForFinished(kRunMs) || first.exitCode() != 0))
            return result;
        result.code = tool.exitCode();
        result.err += tool.readAllStandardError();
        if (how == "awake") {
            // The lock's end is seen by the stand-in a moment after the tool's.
            const bool released = QTest::qWaitFor(
                [&] {
                    logind.waitForReadyRead(100);
                    result.logind += logind.readAllStandardOutput();
                    return result.logind.contains("released");
                },
                10000);
            Q_UNUSED(released); // the row compares what the stand-in said
            for (QProcess* process : {&logind, &bus}) {
                process->terminate();
                process->waitForFinished(10000);
            }
        }
        result.out += tool.readAllStandardOutput();
        for (const QByteArray& line : result.out.split('\n')) {
            if (!line.isEmpty())
                result.events.append(QJsonDocument::fromJson(line).object());
        }
        return result;
    }

    // The records of the update history the test's runs wrote.
    QList<QJsonObject> historyRecords() {
        QList<QJsonObject> records;
        QFile file(dir.filePath("state/tembra-update-tool/history.jsonl"));
        if (!file.open(QIODevice::ReadOnly))
            return records;
        for (const QByteArray& line : file.readAll().split('\n')) {
            if (!line.isEmpty())
                records << QJsonDocument::fromJson(line).object();
        }
        return records;
    }

private slots:
    void cleanup() {
        for (QProcess* sim : {&device, &service}) {
            sim->terminate();
            sim->waitForFinished(10000);
        }
    }

    // A check offers the update, and the update brings the device to the
    // offered version on a link that follows it across its restart; standard
    // output carries nothing but JSON lines.
    void checkThenUpdate() {
        startSims({}, {});
        const QStringList common = {"--json", "--port",     "LINK",    "--service-url",
                                    "URL",    "--data-dir", "DIR/data"};
        const int recorded = int(historyRecords().size());
        Result check = run(QStringList{"--check"} + common);
        QCOMPARE(check.code, 10);
        Result update = run(QStringList{"--update"} + common);
        QCOMPARE(update.code, 0);
        // One record of the update (a check is none), with every field.
        const QList<QJsonObject> records = historyRecords();
        QCOMPARE(int(records.size()), recorded + 1);
        const QJsonObject record = records.last();
        QCOMPARE(record.value("result").toString(), QStringLiteral("updated"));
        QCOMPARE(record.value("exitCode").toInt(), 0);
        QCOMPARE(record.value("versionBefore").toString(), QStringLiteral("1.2.7"));
        QCOMPARE(record.value("versionAfter").toString(), QStringLiteral("1.3.0"));
        QCOMPARE(record.value("toolVersion").toString(), QStringLiteral("1.3.0"));
        QCOMPARE(record.value("device").toObject().value("deviceNumber").toString(),
                 QStringLiteral("F1311520230010042357"));
        const QJsonObject firmware = record.value("firmware").toObject();
        QVERIFY(firmware.value("source").toString().endsWith("/Latest.bin"));
        QCOMPARE(firmware.value("bytes").toInt(), 64 * 1024);
        QCOMPARE(firmware.value("sha256").toString().size(), 64);
        QCOMPARE(record.value("log").toString(), update.events.first().value("log").toString());
        QVERIFY(QDateTime::fromString(record.value("started").toString(), Qt::ISODateWithMs) <
                QDateTime::fromString(record.value("ended").toString(), Qt::ISODateWithMs));
        QVERIFY(record.value("ended").toString().endsWith("+00:00"));
        for (const Result& r : {check, update}) {
            QCOMPARE(r.events.size(), r.out.count('\n'));
            for (const QJsonObject& event : r.events)
                QVERIFY2(event.contains("event") && event.contains("time"), r.out.constData());
        }
        QCOMPARE(check.events.last().value("updateNeeded").toBool(), true);
        QCOMPARE(update.events.last().value("event").toString(), QStringLiteral("done"));
        QCOMPARE(update.events.last().value("version").toString(), QStringLiteral("1.3.0"));
        QVERIFY2(!update.err.contains("串口已打开"), update.err.constData()); // no debug lines
        // Times carry their offset from UTC; the transfer's progress rises to
        // its total, in steps of at least 1 % of it; the image is named.
        const QRegularExpression iso(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d$)");
        QVERIFY(iso.match(update.events.first().value("time").toString()).hasMatch());
        QList<qint64> transfer;
        QString sha256;
        for (const QJsonObject& event : update.events) {
            if (event.value("phase") == "transfer")
                transfer << qint64(event.value("bytes").toDouble());
            if (event.value("event") == "downloaded")
                sha256 = event.value("sha256").toString();
        }
        QVERIFY2(transfer.size() >= 10 && transfer.size() <= 101, update.out.constData());
        QCOMPARE(transfer.last(), qint64(64 * 1024));
        for (int i = 1; i < transfer.size(); ++i)
            QVERIFY(transfer.at(i) - transfer.at(i - 1) >= 64 * 1024 / 100);
        QCOMPARE(sha256.size(), 64);
    }

    // Each way a run can fail ends with its own exit code and an error event.
    void exitCodes_data() {
        addRowColumns();
        const QStringList none;
        QTest::newRow("bad arguments")
            << none << none << QStringList{"--check", "--update"} << 2 << QString();
        QTest::newRow("no device")
            << none << none << QStringList{"--check", "--port", "DIR/none", "--timeout", "2"} << 3
            << QString();
        QTest::newRow("port cannot be opened")
            << none << none << QStringList{"--check", "--port", TEMBRA_TOOL} << 4 << QString();
        QTest::newRow("service failure")
            << none << none
            << QStringList{"--check", "--port", "LINK", "--service-url", "http://127.0.0.1:1/"} << 5
            << QString();
        QTest::newRow("checksum failure")
            << none << QStringList{"--fault", "wrong-crc"}
            << QStringList{"--update", "--port", "LINK"} << 6 << QString();
        QTest::newRow("limit reached during the transfer")
            << QStringList{"--line-timing"} << none
            << QStringList{"--update", "--port", "LINK", "--timeout", "6"} << 7 << QString();
        QTest::newRow("an update in text")
            << none << none << QStringList{"--update", "--port", "LINK"} << 0 << "text";
        // Only the window speaks the user's language: JSON and the log are English.
        QTest::newRow("a German user's failing service")
            << none << QStringList{"--fault", "unavailable"}
            << QStringList{"--check", "--port", "LINK"} << 5 << "german";
        QTest::newRow("another instance")
            << none << none << QStringList{"--check", "--port", "LINK"} << 8 << QString();
        QTest::newRow("a window while another instance runs")
            << none << none << QStringList{"--port", "LINK"} << 0 << "window";
        // A check that failed is never "up to date".
        QTest::newRow("the service refuses the check")
            << none << QStringList{"--fault", "refused"}
            << QStringList{"--update", "--port", "LINK"} << 5 << QString();
        QTest::newRow("the settings folder cannot be written")
            << none << none << QStringList{"--check", "--port", "LINK", "--data-dir", "CFGFILE"}
            << 5 << QString();
        QTest::newRow("a timeout beyond a day")
            << none << none << QStringList{"--check", "--timeout", "4294968"} << 2 << QString();
        QTest::newRow("an ftp service")
            << none << none << QStringList{"--check", "--service-url", "ftp://127.0.0.1/"} << 2
            << QString();
        QTest::newRow("a service that is no URL")
            << none << none << QStringList{"--check", "--service-url", "not a url"} << 2
            << QString();
        QTest::newRow("the toolkit's options first")
            << none << none
            << QStringList{"-platform", "offscreen", "-style",    "fusion", "--check",
                           "--port",    "DIR/none",  "--timeout", "1"}
            << 3 << QString();
        QTest::newRow("help with the toolkit's options")
            << none << none << QStringList{"--help-all"} << 0 << QString();
        QTest::newRow("a relative port")
            << none << none << QStringList{"--check", "--port", "by-id-tembra"} << 10 << QString();
        QTest::newRow("a hang-up under nohup")
            << none << none << QStringList{"--check", "--port", "LINK"} << 10 << "nohup";
        QTest::newRow("output closed")
            << none << none << QStringList{"--check", "--port", "LINK"} << 130 << "close";
        // A device lost mid-update: back in its boot loader, it is updated
        // from the first packet; not back, or silent, the run ends.
        const QString packet = QString::number(QRandomGenerator::global()->bounded(2, 500));
        QTest::newRow(qPrintable("unplugged at packet " + packet + ", back 2 s later"))
            << QStringList{"--unplug-at", packet, "--return-after", "2000"} << none
            << QStringList{"--update", "--port", "LINK"} << 0 << QString();
        QTest::newRow("unplugged, never back")
            << QStringList{"--unplug-at", packet} << none
            << QStringList{"--update", "--port", "LINK"} << 7 << QString();
        QTest::newRow("the device already has the offered version")
            << QStringList{"--version", "1.3.0"} << none
            << QStringList{"--update", "--port", "LINK"} << 0 << QString();
        QTest::newRow("every device, and none is there")
            << none << none << QStringList{"--check", "--all"} << 3 << QString();
        QTest::newRow("an image other than the one expected")
            << none << none
            << QStringList{"--update", "--port", "LINK", "--expect-sha256", QString(64, 'a')} << 6
            << QString();
        QTest::newRow("a device that does not answer")
            << QStringList{"--silent"} << none << QStringList{"--check", "--port", "LINK"} << 7
            << QString();
        QTest::newRow("interrupted mid-update, and recorded")
            << QStringList{"--line-timing"} << none << QStringList{"--update", "--port", "LINK"}
            << 130 << "interrupt";
        QTest::newRow("an update history that cannot be written")
            << none << none << QStringList{"--update", "--port", "LINK"} << 0
            << "history unwritable";
        QTest::newRow("the boot loader does not answer \"v\"")
            << QStringList{"--mute-v"} << none << QStringList{"--update", "--port", "LINK"} << 7
            << QString();
    }
    void exitCodes() { runRow(); }

    // A device is followed by its identity, and one rule holds for losing it
    // in every phase; nothing that was done is called a failure, nor the
    // reverse.
    void followsTheDevice_data() {
        addRowColumns();
        const QStringList none;
        QTest::newRow("the same device given twice")
            << none << none << QStringList{"--update", "--port", "LINK", "--port", "REALPORT"} << 0
            << QString();
        QTest::newRow("a second run on the same device with another data folder")
            << QStringList{"--line-timing"} << none << QStringList{"--update", "--port", "LINK"}
            << 8 << "second run";
        QTest::newRow("unplugged during the download, and back")
            << QStringList{"--unplug-when-idle", "300", "--return-after", "1000"}
            << QStringList{"--fault", "slow"} << QStringList{"--update", "--port", "LINK"} << 0
            << QString();
        QTest::newRow("gone after the switch to the boot loader")
            << QStringList{"--gone-after-update-start"} << none
            << QStringList{"--update", "--port", "LINK"} << 7 << QString();
        QTest::newRow("switched at the update start without an answer")
            << QStringList{"--switch-without-answer"} << none
            << QStringList{"--update", "--port", "LINK"} << 0 << "switch";
        QTest::newRow("busy for a while after the checksum")
            << QStringList{"--busy-after-restart", "6500"} << none
            << QStringList{"--update", "--port", "LINK"} << 0 << QString();
        QTest::newRow("a check of a device that is up to date")
            << QStringList{"--version", "1.3.0"} << none << QStringList{"--check", "--port", "LINK"}
            << 0 << QString();
        QTest::newRow("a boot loader offered nothing")
            << QStringList{"--boot"} << QStringList{"--fault", "no-update"}
            << QStringList{"--update", "--port", "LINK"} << 5 << QString();
        QTest::newRow("a boot loader that ignores the update start")
            << QStringList{"--boot", "--boot-ignores-update-start"} << none
            << QStringList{"--update", "--port", "LINK"} << 0 << QString();
        QTest::newRow("re-plugged mid-transfer, into a boot loader that ignores the update start")
            << QStringList{"--unplug-at", "40", "--return-after", "1500",
                           "--boot-ignores-update-start"}
            << none << QStringList{"--update", "--port", "LINK"} << 0 << QString();
    }
    void followsTheDevice() { runRow(); }

    // A device is proven by what it says of itself, not presumed by its
    // port: another unit in its place is never updated for it, two units of
    // one serial number are two devices, and a second run is refused before
    // it touches the device.
    void provesTheDevice_data() {
        addRowColumns();
        const QStringList none;
        QTest::newRow("a second run while the first switches the device")
            << QStringList{"--line-timing"} << none << QStringList{"--update", "--port", "LINK"}
            << 8 << "second run at switch";
        // Ports that are USB devices' ttys in a made-up sysfs: another unit
        // where the device was is never updated in its place.
        const QStringList usb = {"--usb-root", "DIR/usb"};
        const QStringList back = {"--unplug-at", "40", "--return-after", "1500"};
        const QString otherNumber = "F1311520230010099999";
        QTest::newRow("another unit in its USB port mid-transfer")
            << usb + back +
                   QStringList{"--return-serial", "TMB00002", "--return-watch-id", otherNumber,
                               "--return-firmware"}
            << none << QStringList{"--update", "--port", "LINK"} << 7 << "usb";
        QTest::newRow("a unit with its serial number and another D/N in its USB port")
            << usb + back + QStringList{"--return-watch-id", otherNumber, "--return-firmware"}
            << none << QStringList{"--update", "--port", "LINK"} << 7 << "usb";
        QTest::newRow("no USB serial number, re-plugged mid-transfer into its port")
            << usb + back + QStringList{"--usb-serial", "-"} << none
            << QStringList{"--update", "--port", "LINK"} << 0 << "usb";
        QTest::newRow("two units with one serial number, at once")
            << usb << none << QStringList{"--update", "--port", "LINK", "--port", "DIR/twin"} << 0
            << "twins";
    }
    void provesTheDevice() { runRow(); }

    // The firmware the user chooses, what a release brings, and the computer
    // kept awake while a device is mid-update.
    void choices_data() {
        addRowColumns();
        const QStringList none;
        // Kept awake from the switch to the boot loader until the end,
        // however it ends.
        QTest::newRow("kept awake while it is updated")
            << none << none << QStringList{"--update", "--port", "LINK"} << 0 << "awake";
        QTest::newRow("kept awake, let go when the device fails")
            << QStringList{"--wrong-crc", "1000"} << none
            << QStringList{"--update", "--port", "LINK"} << 7 << "awake";
        // A file of the user's, installed without asking the service (there
        // is none); one that cannot be firmware fails with nothing sent.
        QTest::newRow("a chosen file") << QStringList{"--save-image", "DIR/received.bin"} << none
                                       << QStringList{"--update",
                                                      "--port",
                                                      "LINK",
                                                      "--firmware",
                                                      "DIR/tembra-1.3.1.bin",
                                                      "--service-url",
                                                      "http://127.0.0.1:1/"}
                                       << 0 << "firmware";
        // Each said for what it is; none can hold the run up before its limit.
        for (const char* bad :
             {"DIR/empty.bin", "DIR", "DIR/large.bin", "DIR/fifo", "/dev/zero", "DIR/loop.bin"})
            QTest::newRow(qPrintable(QStringLiteral("a chosen file that is no firmware: ") + bad))
                << none << none << QStringList{"--update", "--port", "LINK", "--firmware", bad} << 6
                << "firmware";
        QTest::newRow("a chosen file that cannot be kept (a full disk)")
            << none << none
            << QStringList{"--update", "--port", "LINK", "--firmware", "DIR/tembra-1.3.1.bin"} << 6
            << "full disk";
        // A system bus that takes the connection and never answers: the
        // update goes on without keeping the computer awake.
        QTest::newRow("a system bus that never answers")
            << none << none << QStringList{"--update", "--port", "LINK", "--timeout", "40"} << 0
            << "hung bus";
        QTest::newRow("a chosen file other than the one expected")
            << none << none << QStringList{"--update",
                                           "--port",
                                           "LINK",
                                           "--firmware",
                                           "DIR/tembra-1.3.1.bin",
                                           "--expect-sha256",
                                           QString(64, 'a')}
            << 6 << "firmware";
        QTest::newRow("a chosen file with --check")
            << none << none
            << QStringList{"--check", "--port", "LINK", "--firmware", "DIR/tembra-1.3.1.bin"} << 2
            << QString();
        // What the release brings, in plain text; a hostile megabyte of it too.
        QTest::newRow("release notes")
            << none << QStringList{"--notes", "Fixes the <b>clock</b>.\nFaster &amp; smaller."}
            << QStringList{"--check", "--port", "LINK"} << 10 << "notes";
        QTest::newRow("a megabyte of hostile release notes")
            << none << QStringList{"--hostile-notes", "1000000"}
            << QStringList{"--check", "--port", "LINK"} << 10 << "notes";
    }
    void choices() { runRow(); }

private:
    void runRow() {
        QFETCH(QStringList, deviceArgs);
        QFETCH(QStringList, serviceArgs);
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, how);
        if (how == "awake" && QStandardPaths::findExecutable("dbus-daemon").isEmpty())
            QSKIP("no dbus-daemon here: no private bus for a stand-in logind");
        if (how == "firmware" ||
            how == "full disk") { // a firmware image of 1.3.1, and files that are none
            QFile image(dir.filePath("tembra-1.3.1.bin"));
            const std::vector<uint8_t> bytes = sim::makeFirmwareImage(20000, 1, 3, 1);
            QVERIFY(image.open(QIODevice::WriteOnly) &&
                    image.write(reinterpret_cast<const char*>(bytes.data()),
                                qint64(bytes.size())) == qint64(bytes.size()));
            QFile empty(dir.filePath("empty.bin"));
            QVERIFY(empty.open(QIODevice::WriteOnly));
            QFile large(dir.filePath("large.bin"));
            QVERIFY(large.open(QIODevice::WriteOnly) && large.resize(17 * 1024 * 1024));
            QFile::link(dir.filePath("loop.bin"), dir.filePath("loop.bin"));
            if (!QFileInfo::exists(dir.filePath("fifo")))
                QVERIFY(::mkfifo(QFile::encodeName(dir.filePath("fifo")).constData(), 0600) == 0);
        }
        for (QString& arg : deviceArgs)
            arg.replace("DIR", dir.path());
        startSims(deviceArgs, serviceArgs);
        // Its twin: another unit, at the next place, with the same serial number.
        QProcess twin;
        if (how == "twins") {
            twin.start(TEMBRA_SIM_DEVICE, deviceArgs + QStringList{"--usb-place", "1-2", "--link",
                                                                   dir.filePath("twin")});
            QVERIFY(twin.waitForReadyRead(10000));
        }
        const QString data = dir.filePath(QTest::currentDataTag());
        QVERIFY(QDir().mkpath(data));
        QLockFile other(data + "/tembra-update-tool.lock");
        const bool window = how == "window";
        if ((code == 8 && !how.startsWith("second run")) || window)
            QVERIFY(other.tryLock(0));
        if (!args.contains("--service-url"))
            args << "--service-url"
                 << "URL";
        if (args.removeAll("CFGFILE") > 0) { // a data folder whose "cfg" is a file
            QFile blocker(data + "/cfg");
            QVERIFY(blocker.open(QIODevice::WriteOnly));
            args.removeAll("--data-dir");
        }
        // The data folder on a small file system that is full.
        struct Unmount {
            QString at;
            ~Unmount() {
                if (!at.isEmpty())
                    QProcess::execute("umount", {at});
            }
        } full;
        if (how == "full disk") {
            if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=16k", "tmpfs", data}) != 0)
                QSKIP("no small file system can be mounted here (needs root)");
            full.at = data;
            QFile filler(data + "/filler");
            QVERIFY(filler.open(QIODevice::WriteOnly));
            while (filler.write(QByteArray(1024, 'x')) == 1024 && filler.flush()) {
            }
        }
        const bool help = args.contains("--help-all");
        if (!help && !window && how != "text")
            args << "--json";
        QElapsedTimer clock;
        clock.start();
        const Result result = run(args + QStringList{"--data-dir", data}, how);
        QCOMPARE(result.code, code);
        // Within the bounds at full length: 60 s for a device to come back,
        // 40 s of silence after the last byte.
        QVERIFY(clock.elapsed() < 70000);
        if (help) { // printed without a display
            QVERIFY2(result.out.contains("-platform <name>"), result.out.constData());
            return;
        }
        if (how == "firmware") {
            QFile log(result.events.first().value("log").toString());
            QVERIFY(log.open(QIODevice::ReadOnly));
            const QByteArray lines = log.readAll();
            if (code == 6) { // said, and nothing sent to the device
                QCOMPARE(result.events.last().value("event").toString(), QStringLiteral("error"));
                QVERIFY(!lines.contains("tembra.wire debug: sent"));
                const QString text = result.events.last().value("text").toString();
                const QHash<QString, QString> said = {
                    {"DIR/fifo", "is not a regular file (a FIFO)"},
                    {"/dev/zero", "is not a regular file (a character device)"},
                    {"DIR/loop.bin", "its symbolic links form a loop"},
                    {"DIR/empty.bin", "is empty"}};
                const QString expected = said.value(args.value(args.indexOf("--firmware") + 1));
                QVERIFY2(text.contains(expected), qPrintable(text));
                return;
            }
            QFile chosen(dir.filePath("tembra-1.3.1.bin"));
            QFile received(dir.filePath("received.bin"));
            QVERIFY(chosen.open(QIODevice::ReadOnly) && received.open(QIODevice::ReadOnly));
            const QByteArray image = chosen.readAll();
            QCOMPARE(received.readAll().left(image.size()), image);
            QCOMPARE(result.events.last().value("version").toString(), QStringLiteral("1.3.1"));
            QVERIFY(!lines.contains("check_version"));
            QVERIFY(QFile::exists(data + "/Chosen.bin") && !QFile::exists(data + "/Latest.bin"));
            for (const QJsonObject& event : result.events) {
                if (event.value("event") != "chosen")
                    continue;
                QCOMPARE(event.value("bytes").toInt(), int(image.size()));
                return;
            }
            QFAIL("no chosen event");
        }
        if (how == "interrupt") { // recorded as interrupted
            const QJsonObject record = historyRecords().value(historyRecords().size() - 1);
            QCOMPARE(record.value("result").toString(), QStringLiteral("interrupted"));
            QCOMPARE(record.value("exitCode").toInt(), 130);
            // Left in its boot loader: what it runs now is not known.
            QVERIFY(record.value("versionAfter").isNull());
            return;
        }
        if (how == "history unwritable") { // said in the log, and the run ended well
            QFile log(result.events.first().value("log").toString());
            QVERIFY(log.open(QIODevice::ReadOnly));
            QVERIFY(log.readAll().contains("the update history in"));
            return;
        }
        if (how == "full disk") { // said, and the device got nothing
            QVERIFY2(result.events.last().value("text").toString().contains("Chosen.bin"),
                     result.out.constData());
            device.waitForReadyRead(200);
            QVERIFY(!device.readAllStandardOutput().contains("boot loader running"));
            return;
        }
        if (how == "switch") { // the switch it was told: no loss said, one download
            int downloads = 0;
            for (const QJsonObject& event : result.events) {
                downloads += event.value("event") == "downloaded";
                QVERIFY2(!event.value("text").toString().contains("disconnected"),
                         qPrintable(event.value("text").toString()));
            }
            QCOMPARE(downloads, 1);
            return;
        }
        if (how == "hung bus") { // said once, and the update went on
            QFile log(result.events.first().value("log").toString());
            QVERIFY(log.open(QIODevice::ReadOnly));
            QCOMPARE(log.readAll().count("cannot be kept awake during the update"), 1);
            return;
        }
        if (how == "notes") { // plain text, of a bounded length
            QString notes;
            for (const QJsonObject& event : result.events) {
                if (event.value("event") == "service")
                    notes = event.value("notes").toString();
            }
            if (serviceArgs.contains("--notes")) {
                QCOMPARE(notes, QStringLiteral("Fixes the clock.\nFaster & smaller."));
                return;
            }
            QVERIFY(notes.size() > 1000 && notes.size() <= 4096);
            QVERIFY(!notes.contains("<b>") && !notes.contains("<script>") &&
                    !notes.contains(QChar(0x1b)) && !notes.contains('\r') &&
                    !notes.contains(QChar(0x202e)));
            return;
        }
        if (how == "awake") { // asked once, for sleep and idle, and let go
            QCOMPARE(result.logind, QByteArray("inhibit sleep:idle block\nreleased\n"));
            QFile log(result.events.first().value("log").toString());
            QVERIFY(log.open(QIODevice::ReadOnly));
            const QByteArray lines = log.readAll();
            // From the update start on.
            QVERIFY(lines.indexOf("sent, id 32: ") < lines.indexOf("sleep and idle are inhibited"));
            return;
        }
        if (how == "text") { // a count that runs on: at most a line a second, and its end
            const QString out = QString::fromUtf8(result.out);
            const int counted = out.count("status:  firmware processing");
            QVERIFY2(counted >= 1 && counted <= clock.elapsed() / 1000 + 2, qPrintable(out));
            QVERIFY2(out.contains("status:  firmware processing   64/64 KB\n"), qPrintable(out));
            QVERIFY2(out.count("progress: transfer") <= clock.elapsed() / 1000 + 2,
                     qPrintable(out));
            QVERIFY(out.contains("progress: transfer 65536 of 65536 bytes"));
            // The log's path first; every line in the order of its time.
            QVERIFY2(QRegularExpression(R"(^\S+ start: updating \(log: /)").match(out).hasMatch(),
                     qPrintable(out.left(200)));
            QString before;
            for (const QString& line : out.split('\n', Qt::SkipEmptyParts)) {
                const QString time = line.section(' ', 0, 0);
                if (time.size() != 12 || time.at(2) != ':')
                    continue; // the notes under a service line
                QVERIFY2(time >= before, qPrintable(before + " then " + line));
                before = time;
            }
            return;
        }
        if (how == "german") {
            QCOMPARE(result.events.last().value("text").toString(),
                     QStringLiteral("The update service answered HTTP 503, Service Unavailable"));
            QFile log(result.events.first().value("log").toString());
            QVERIFY(log.open(QIODevice::ReadOnly));
            QVERIFY(log.readAll().contains(
                "version check failed: The update service answered HTTP 503, Service Unavailable"));
            return;
        }
        if (how.startsWith("second run")) { // refused by the device's lock, saying who holds it
            QCOMPARE(result.events.last().value("code").toInt(), 8);
            QVERIFY2(result.events.last().value("text").toString().contains("process"),
                     result.out.constData());
            // Before anything was opened: the device was switched once, by the first.
            QFile log(result.events.first().value("log").toString());
            QVERIFY(log.open(QIODevice::ReadOnly));
            QVERIFY(!log.readAll().contains("port opened"));
            device.waitForReadyRead(200);
            QCOMPARE(device.readAllStandardOutput().count("device: boot loader running"), 1);
            return;
        }
        if (how == "usb" && code == 7) { // waited for its own device; the other one untouched
            const QString text = result.events.last().value("text").toString();
            QVERIFY2(text.contains("another device (D/N F1311520230010099999)") &&
                         text.contains("(D/N F1311520230010042357)") &&
                         text.contains("left in its boot loader"),
                     qPrintable(text));
            device.waitForReadyRead(200);
            const QByteArray said = device.readAllStandardOutput();
            const QByteArray afterReturn = said.mid(said.indexOf("device: another unit"));
            QVERIFY2(said.contains("device: another unit") &&
                         !afterReturn.contains("boot loader running") &&
                         !afterReturn.contains("image received"),
                     said.constData());
            return;
        }
        if (how == "twins") { // two devices, two runs, both updated
            twin.terminate();
            twin.waitForFinished(10000);
            const QJsonArray rows = result.events.last().value("devices").toArray();
            QCOMPARE(rows.size(), 2);
            for (const QJsonValue row : rows)
                QCOMPARE(row.toObject().value("result").toString(), QStringLiteral("updated"));
            return;
        }
        if (code == 2 || code == 8 || window) {
            QVERIFY(result.out.isEmpty());
            // A refused run writes no log: it cannot push out the running run's.
            QVERIFY(QDir(data + "/logs").entryList(QDir::Files).isEmpty());
            return;
        }
        if (args.count("--port") == 2 && code == 0) { // one device: one run, one row
            QCOMPARE(result.events.last().value("event").toString(), QStringLiteral("summary"));
            QCOMPARE(result.events.last().value("devices").toArray().size(), 1);
        }
        if (code == 0 && deviceArgs.contains("--version")) { // up to date: nothing fetched or sent
            QCOMPARE(result.events.last().value("result").toString(), QStringLiteral("up to date"));
            for (const QJsonObject& event : result.events)
                QVERIFY(event.value("event") != "downloaded");
        }
        if (!how.isEmpty() || code == 0 || code == 10)
            return;
        QCOMPARE(result.events.last().value("event").toString(), QStringLiteral("error"));
        QCOMPARE(result.events.last().value("code").toInt(), code);
        if (code == 6) { // nothing reached the device: no update start in the log
            QFile log(result.events.first().value("log").toString());
            QVERIFY(log.open(QIODevice::ReadOnly));
            const QByteArray lines = log.readAll();
            QVERIFY(lines.contains("sent, id 2: ") && !lines.contains("sent, id 32: "));
        }
        QStringList statuses;
        for (const QJsonObject& event : result.events) {
            if (event.value("event") == "status")
                statuses << event.value("text").toString();
        }
        const QString error = result.events.last().value("text").toString();
        if (args.contains("DIR/none")) { // said at once, and what was waited for
            QVERIFY2(QRegularExpression("none does not exist; waiting for it up to \\d+ s$")
                         .match(statuses.value(0))
                         .hasMatch(),
                     qPrintable(statuses.join(" | ")));
            QVERIFY2(error.contains("which never appeared"), qPrintable(error));
        }
        if (deviceArgs.contains("--silent")) // plugged in and silent: never asked to plug it in
            QVERIFY2(!statuses.join(" | ").contains("plug in your device"),
                     qPrintable(statuses.join(" | ")));
    }

private slots:
    // Logs of whole runs replay on the simulated device, to the same end as
    // when they were made; a replay whose log was changed stops at the write
    // that differs, and the tool fails instead of waiting for good. A log the
    // replay cannot trust is refused before anything is played.
    void replays_data() {
        QTest::addColumn<QString>("log");
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("refusal"); // what the replay says when it refuses the log
        QTest::newRow("a whole update") << "update.log" << QString() << QString();
        QTest::newRow("a NAK and the transfer again") << "nak.log" << QString() << QString();
        QTest::newRow("unplugged mid-transfer, back in the boot loader")
            << "unplugged.log" << QString() << QString();
        QTest::newRow("a write changed") << "update.log"
                                         << "changed" << QString();
        QTest::newRow("mailed, with CR LF line ends") << "update.log"
                                                      << "crlf" << QString();
        QTest::newRow("a command id beyond int")
            << "update.log"
            << "huge id"
            << "line 18: a command id out of range (99999999999)";
        QTest::newRow("cut in the middle of a byte") << "update.log"
                                                     << "cut"
                                                     << "is truncated at line ";
        QTest::newRow("a form not known") << "update.log"
                                          << "form 3"
                                          << "unsupported log form 3";
        QTest::newRow("a wire line without the header") << "update.log"
                                                        << "no header"
                                                        << "has no \"log form:\" line";
    }
    void replays() {
        QFETCH(QString, log);
        QFETCH(QString, edit);
        QFETCH(QString, refusal);
        QFile recorded(QStringLiteral(TEMBRA_REPLAYS "/") + log);
        QVERIFY(recorded.open(QIODevice::ReadOnly));
        QByteArray text = recorded.readAll();
        const QRegularExpression ended(R"(run (?:ended|failed) with exit code (\d+))");
        const int code = ended.match(QString::fromUtf8(text)).captured(1).toInt();
        const bool changed = edit == "changed";
        if (changed) // the tool's second write, the version query, as it never is
            text.replace("sent, id 4: 6e 01 03 03 8f 6e", "sent, id 4: 6e 01 03 03 8f 00");
        if (edit == "crlf")
            text.replace("\n", "\r\n");
        if (edit == "huge id")
            text.replace("sent, id 2: ", "sent, id 99999999999: ");
        if (edit == "cut") // the last wire line stops after the first digit of a byte
            text = text.left(text.indexOf("received, id 4: ") + 20);
        if (edit == "form 3")
            text.replace("log form: 1", "log form: 3");
        if (edit == "no header")
            text = text.mid(text.indexOf("\n2026-") + 1);
        QFile replayed(dir.filePath(log));
        QVERIFY(replayed.open(QIODevice::WriteOnly) && replayed.write(text) == text.size());
        replayed.close();
        if (!refusal.isEmpty()) {
            QProcess refused;
            refused.start(TEMBRA_SIM_DEVICE, {"--replay", replayed.fileName()});
            QVERIFY(refused.waitForFinished(10000));
            const QByteArray said = refused.readAllStandardError();
            QCOMPARE(refused.exitCode(), 2);
            QVERIFY2(said.contains(refusal.toUtf8()), said.constData());
            return;
        }
        startSims({"--replay", replayed.fileName()}, {"--image-size", "4096"});
        QElapsedTimer clock;
        clock.start();
        // A replay that stops is waited for as a lost device is, by the short bounds.
        const Result result = run({"--update", "--json", "--port", "LINK", "--service-url", "URL",
                                   "--data-dir", "DIR/data-" + log + edit, "--timeout", "40"},
                                  changed ? QString() : QStringLiteral("replayed"));
        device.waitForFinished(changed ? 10000 : 0);
        const QByteArray said = device.readAllStandardError();
        if (!changed) {
            QVERIFY2(result.code == code, result.out.right(800).constData());
            QVERIFY(clock.elapsed() < 40000);
            return;
        }
        QCOMPARE(device.exitCode(), 1);
        QVERIFY2(said.contains("write 2 of the tool differs") && said.contains("line 23"), said);
        QCOMPARE(result.code, 7);
    }

    // A log may hold lines of any length the tool writes (a read of a
    // megabyte); one that ends at the log's size limit is read up to there,
    // and says so.
    void readsLogsOfAnyLength() {
        QFile recorded(QStringLiteral(TEMBRA_REPLAYS "/update.log"));
        QVERIFY(recorded.open(QIODevice::ReadOnly));
        const QByteArray text = recorded.readAll();
        const int wire = text.indexOf(" tembra.wire debug: ");
        const QByteArray stamp =
            text.mid(text.lastIndexOf('\n', wire) + 1, wire - text.lastIndexOf('\n', wire) - 1);
        const QByteArray huge =
            stamp + " tembra.wire debug: received, id 1: " + QByteArray("00 ").repeated(349999) +
            "00\n";
        const QByteArray limit = stamp + " tembra.log warning: the log file reached its limit "
                                         "of 10000000 bytes; nothing more is written to it\n";
        const int middle = text.indexOf('\n', text.indexOf("sent, id 36: ")) + 1;
        for (const QByteArray& log : {text + huge, text.left(middle) + limit}) {
            QFile file(dir.filePath("any-length.log"));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(log) == log.size());
            file.close();
            std::vector<sim::WireEvent> events;
            std::string why;
            std::string note;
            QVERIFY2(sim::ReadWireLog(file.fileName().toStdString(), &events, &why, &note),
                     why.c_str());
            if (log.endsWith(huge)) {
                QCOMPARE(events.back().bytes.size(), size_t(350000));
                QVERIFY(note.empty());
            } else {
                QVERIFY2(QByteArray::fromStdString(note).contains("ends at its size limit"),
                         note.c_str());
                QCOMPARE(events.back().line, int(text.left(middle).count('\n')));
            }
        }
    }

    // The computer is kept awake no longer than the run: however it fails,
    // and when it is let go while logind is still answering, the lock goes.
    void awakeEndsWithTheRun() {
        if (QStandardPaths::findExecutable("dbus-daemon").isEmpty())
            QSKIP("no dbus-daemon here: no private bus for a stand-in logind");
        QProcess bus;
        bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        QVERIFY(bus.waitForReadyRead(10000));
        const QString address = QString::fromUtf8(bus.readLine().trimmed());
        QProcess logind;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", address);
        logind.setProcessEnvironment(env);
        logind.start(TEMBRA_TEST_LOGIND, QStringList());
        QVERIFY(logind.waitForReadyRead(10000));
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toUtf8());
        UpdateEvents* events = UpdateEvents::instance();
        events->reset();
        QByteArray said;
        const auto saw = [&](const QByteArray& what, int times) {
            return QTest::qWaitFor(
                [&] {
                    logind.waitForReadyRead(20);
                    said += logind.readAllStandardOutput();
                    return said.count(what) >= times;
                },
                10000);
        };
        {
            SleepInhibitor awake(true);
            int round = 0;
            for (const UpdateEvents::Phase failedIn :
                 {UpdateEvents::Phase::Restarting, UpdateEvents::Phase::Recovering,
                  UpdateEvents::Phase::Verifying}) {
                ++round;
                events->setPhase(UpdateEvents::Phase::Switching);
                QVERIFY2(saw("inhibit sleep:idle block", round), said.constData());
                QTRY_VERIFY_WITH_TIMEOUT(awake.held(), 10000);
                events->setPhase(failedIn);
                events->runFailed(UpdateEvents::Failure::Device, UserText("it failed"));
                QVERIFY2(saw("released", round), said.constData());
                QVERIFY(!awake.held());
                events->setPhase(UpdateEvents::Phase::Idle);
            }
            // Let go and asked again before logind answered: one lock, and it goes.
            events->setPhase(UpdateEvents::Phase::Switching);
            events->setPhase(UpdateEvents::Phase::Idle);
            events->setPhase(UpdateEvents::Phase::Switching);
            QVERIFY(saw("inhibit sleep:idle block", round + 2));
            QTRY_VERIFY_WITH_TIMEOUT(awake.held(), 10000);
            QVERIFY(saw("released", round + 1)); // the first one's, given up at once
            events->setPhase(UpdateEvents::Phase::Idle);
            QVERIFY(saw("released", round + 2));
        }
        events->reset();
        qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        for (QProcess* process : {&logind, &bus}) {
            process->terminate();
            process->waitForFinished(10000);
        }
    }

    // A log records a packet by its number, sequence and CRC, so that a
    // large image's update stays far below the log's limit; it replays to
    // its end, and with the image handed its packets are checked against it.
    void replaysALargeImage() {
        const int size = 512 * 1024;
        startSims({}, {"--image-size", QString::number(size)});
        const Result made = run({"--update", "--json", "--port", "LINK", "--service-url", "URL",
                                 "--data-dir", "DIR/large"});
        QCOMPARE(made.code, 0);
        const QString logPath = made.events.first().value("log").toString();
        // About 12 bytes a packet: a 16 MiB image would log some 1.6 MB.
        QVERIFY2(QFileInfo(logPath).size() < size / 128 * 16, qPrintable(logPath));
        QFile image(dir.filePath("large.bin"));
        QVERIFY(image.open(QIODevice::WriteOnly));
        QFile kept(dir.filePath("large/Latest.bin"));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        const QByteArray firmware = kept.readAll();
        image.write(firmware);
        image.close();
        QFile other(dir.filePath("other.bin"));
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.write(QByteArray(firmware).replace(5000, 1, "\x55"));
        other.close();
        for (const QString& handed : {image.fileName(), other.fileName()}) {
            cleanup();
            startSims({"--replay", logPath, "--image", handed},
                      {"--image-size", QString::number(size)});
            const bool same = handed == image.fileName();
            const Result replayed =
                run({"--update", "--json", "--port", "LINK", "--service-url", "URL", "--data-dir",
                     "DIR/large-again" + handed.right(9), "--timeout", "90"},
                    "replayed");
            device.waitForFinished(same ? 0 : 10000);
            const QByteArray said = device.readAllStandardError();
            if (same) {
                QCOMPARE(replayed.code, 0);
                QVERIFY2(said.isEmpty(), said.constData());
                continue;
            }
            QCOMPARE(device.exitCode(), 1);
            QVERIFY2(said.contains("packet 40 whose data is not that of the image handed"), said);
        }
    }

    // Three devices at once, one found in its boot loader and one that never
    // confirms the checksum: two are updated, one fails, and the retry names
    // that one alone, with its own data folder, whatever spelling gave its port.
    void severalDevices() {
        startSims({}, {});
        QList<std::shared_ptr<QProcess>> more;
        QStringList args = {"--update",   "--json",   "--service-url", "URL",
                            "--data-dir", "DIR/desk", "--port",        "LINK"};
        for (const QString name : {"second", "failing"}) {
            auto device = std::make_shared<QProcess>();
            const QString path = dir.filePath(name);
            device->start(
                TEMBRA_SIM_DEVICE,
                name == QLatin1String("failing")
                    ? QStringList{"--wrong-crc", "1000", "--link", path}
                    : QStringList{"--boot", "--watch-id", "F1311520230010000002", "--link", path});
            QVERIFY(device->waitForReadyRead(10000));
            more << device;
            args << "-port=" + path;
        }
        const int recorded = int(historyRecords().size());
        const Result result = run(args);
        for (const auto& device : more)
            device->terminate(), device->waitForFinished(10000);
        QCOMPARE(result.code, 9);
        // A record of each device's run, the failed one's too.
        QStringList recordedResults;
        for (const QJsonObject& record : historyRecords().mid(recorded))
            recordedResults << record.value("result").toString();
        recordedResults.sort();
        QCOMPARE(recordedResults, (QStringList{"failed", "updated", "updated"}));
        const QJsonObject summary = result.events.last();
        QCOMPARE(summary.value("event").toString(), QStringLiteral("summary"));
        QStringList results;
        const QJsonArray rows = summary.value("devices").toArray();
        for (const QJsonValue row : rows)
            results << row.toObject().value("result").toString();
        QCOMPARE(results, (QStringList{"updated", "updated", "failed"}));
        // The device found in its boot loader had no version before.
        QVERIFY(rows.at(1).toObject().value("versionBefore").isNull());
        QCOMPARE(rows.at(1).toObject().value("firstUpdate").toBool(), true);
        QVERIFY(rows.at(2).toObject().value("firstUpdate").isNull()); // it failed
        QCOMPARE(rows.at(1).toObject().value("versionAfter").toString(), QStringLiteral("1.3.0"));
        QCOMPARE(rows.at(0).toObject().value("versionBefore").toString(), QStringLiteral("1.2.7"));
        const QString retry = summary.value("retry").toString();
        QVERIFY2(retry.endsWith("--port " + dir.filePath("failing") + " --data-dir " +
                                dir.filePath("desk/failing")),
                 qPrintable(retry));
        QCOMPARE(retry.count("port"), 1);
        QCOMPARE(retry.count("--data-dir"), 1);
        for (const QJsonObject& event : result.events.mid(0, result.events.size() - 1))
            QVERIFY(event.contains("port"));
    }

    // The update history read back: newest last, a line that cannot be read
    // skipped with a warning, one device's records, JSON events, and CSV in
    // which a value a spreadsheet would take for a formula is text.
    void historyIsReadBack() {
        const QString state = dir.filePath("history-state");
        qputenv("XDG_STATE_HOME", state.toUtf8());
        History::Record record;
        record.started = QDateTime::currentDateTime().addSecs(-60);
        record.ended = QDateTime::currentDateTime().addSecs(-50);
        record.toolVersion = "1.3.0";
        record.serial = "TMB00001";
        record.deviceNumber = "F1311520230010042357";
        record.versionBefore = "1.2.7";
        record.versionAfter = "1.3.0";
        record.source = "/home/desk/tembra-1.3.0.bin";
        record.bytes = 65536;
        record.result = "updated";
        record.exitCode = 0;
        QVERIFY(History::Append(record));
        QFile file(History::Path());
        QVERIFY(file.open(QIODevice::Append) &&
                file.write("{\"not\": \"a record\"}\nnonsense\n") > 0);
        file.close();
        record.serial = "-1";
        record.deviceNumber = "F1311520230010099999";
        record.result = "failed";
        record.exitCode = 7;
        record.reason = "=HYPERLINK(\"http://x\",\"y\")";
        record.ended = QDateTime::currentDateTime();
        QVERIFY(History::Append(record));
        qunsetenv("XDG_STATE_HOME");
        QCOMPARE(QFileInfo(History::Path()).permissions() & 0x0077, QFileDevice::Permissions());
        const auto history = [&](const QStringList& args, QByteArray* err = nullptr) {
            QProcess tool;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("XDG_STATE_HOME", state);
            tool.setProcessEnvironment(env);
            tool.start(TEMBRA_TOOL, QStringList{"--history"} + args);
            tool.waitForFinished(kRunMs);
            if (err)
                *err = tool.readAllStandardError();
            return tool.exitCode() == 0 ? tool.readAllStandardOutput() : QByteArray();
        };
        QByteArray warned;
        const QString table = QString::fromUtf8(history({}, &warned));
        QCOMPARE(table.count('\n'), 3); // the heading and two records, newest last
        QVERIFY(table.section('\n', 2, 2).contains("failed"));
        QVERIFY2(warned.count("is not a record of the update history") == 2, warned.constData());
        QCOMPARE(QString::fromUtf8(history({"--history-limit", "1"})).count('\n'), 2);
        const QByteArray one = history({"--json", "--device", "TMB00001"});
        QCOMPARE(one.count('\n'), 1);
        const QJsonObject event = QJsonDocument::fromJson(one).object();
        QCOMPARE(event.value("event").toString(), QStringLiteral("history"));
        QCOMPARE(event.value("versionAfter").toString(), QStringLiteral("1.3.0"));
        // Read back as a spreadsheet's import reads it.
        QFile csv(dir.filePath("history.csv"));
        QVERIFY(csv.open(QIODevice::WriteOnly) && csv.write(history({"--csv"})) > 0);
        csv.close();
        QProcess python;
        python.start("python3", {"-c",
                                 "import csv, json, sys; "
                                 "print(json.dumps(list(csv.DictReader(open(sys.argv[1], "
                                 "newline='')))))",
                                 csv.fileName()});
        QVERIFY(python.waitForFinished(kRunMs) && python.exitCode() == 0);
        const QJsonArray rows = QJsonDocument::fromJson(python.readAllStandardOutput()).array();
        QCOMPARE(rows.size(), 2);
        const QJsonObject failed = rows.at(1).toObject();
        QCOMPARE(failed.value("reason").toString(),
                 QStringLiteral("'=HYPERLINK(\"http://x\",\"y\")"));
        QCOMPARE(failed.value("serial").toString(), QStringLiteral("'-1"));
        QCOMPARE(failed.value("firmwareBytes").toString(), QStringLiteral("65536"));
    }

    // The runs of a desk of sixteen append at once: sixteen whole lines.
    void historyTakesSixteenAtOnce() {
        const QString state = dir.filePath("sixteen-state");
        qputenv("XDG_STATE_HOME", state.toUtf8());
        QList<pid_t> children;
        for (int k = 0; k < 16; ++k) {
            const pid_t child = ::fork();
            if (child == 0) {
                History::Record record;
                record.ended = QDateTime::currentDateTime();
                record.result = "updated";
                record.deviceNumber = QString::number(k);
                record.reason =
                    QString(200 * 1024, QLatin1Char('a' + k)); // far beyond a pipe's buffer
                ::_exit(History::Append(record) ? 0 : 1);
            }
            children << child;
        }
        for (const pid_t child : children) {
            int status = 0;
            ::waitpid(child, &status, 0);
            QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
        int skipped = 0;
        const QList<History::Record> records = History::Read(&skipped);
        qunsetenv("XDG_STATE_HOME");
        QCOMPARE(skipped, 0);
        QCOMPARE(int(records.size()), 16);
        for (const History::Record& record : records)
            QCOMPARE(record.reason.size(), 200 * 1024);
    }

    // A desk's summary in text: each row with its own time, a failed one with
    // its reason, what a device says of itself as text; a count at most once
    // a second; the desk's own log says it has no window.
    void deskSummaryInText() {
        startSims({"--usb-root", dir.filePath("usb"), "--usb-serial", "TMB\x1b[2J01"}, {});
        QElapsedTimer clock;
        clock.start();
        const Result result = run({"--update", "--service-url", "URL", "--data-dir", "DIR/text",
                                   "--timeout", "10", "--port", "LINK", "--port", "DIR/none"},
                                  "usb");
        QCOMPARE(result.code, 9);
        const QString out = QString::fromUtf8(result.out);
        QVERIFY2(!out.contains(QChar(0x1b)) && out.contains("TMB\\x1b[2J01"), qPrintable(out));
        const int counted =
            int(out.count(QRegularExpression("by-id-tembra: \\S+ status:  firmware processing")));
        QVERIFY2(counted >= 1 && counted <= clock.elapsed() / 1000 + 2, qPrintable(out));
        const QRegularExpression row(R"(^  (\S+)\s.*\s(\d+\.\d) s\s.*$)",
                                     QRegularExpression::MultilineOption);
        QHash<QString, double> seconds;
        for (auto m = row.globalMatch(out); m.hasNext();) {
            const QRegularExpressionMatch match = m.next();
            seconds.insert(match.captured(1), match.captured(2).toDouble());
        }
        QVERIFY2(seconds.size() == 2, qPrintable(out));
        QVERIFY2(seconds.value("by-id-tembra") + 1.0 < seconds.value("none"), qPrintable(out));
        QVERIFY2(out.contains(QRegularExpression(R"(  none .* failed .*no end within 10 s)")),
                 qPrintable(out));
        const QStringList logs = QDir(dir.filePath("text/logs")).entryList(QDir::Files);
        QCOMPARE(logs.size(), 1);
        QFile log(dir.filePath("text/logs/") + logs.first());
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains("\nplatform: none"));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "test_cli.moc"
