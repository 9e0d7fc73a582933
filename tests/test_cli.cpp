// The tool's command line, run as a service desk would: the real executable
// against the simulated device and update service, each in its own process.
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <memory>

namespace {
const int kRunMs = 60000;

struct Result {
    int code = -1;
    QList<QJsonObject> events;
    QByteArray out;
    QByteArray err;
};
} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT
private:
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
    // ignored and hangs it up, "close" pipes its output into "head -n 1".
    Result run(QStringList args, const QString& how = QString()) {
        for (QString& arg : args)
            arg.replace("LINK", link).replace("URL", serviceUrl).replace("DIR", dir.path());
        QProcess tool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(name); // no display at all
        env.insert("HOME", dir.path());
        // The tool's own bounds (a silent device, one that does not come
        // back) and its restart pauses, a fifth of their length.
        env.insert("TEMBRA_TEST_TIME_SCALE", "0.2");
        tool.setProcessEnvironment(env);
        tool.setWorkingDirectory(dir.path());
        if (how == "nohup")
            tool.start("nohup", QStringList{TEMBRA_TOOL} + args);
        else if (how == "close")
            tool.start("bash", QStringList{"-c", "\"$0\" \"$@\" | head -n 1; exit ${PIPESTATUS[0]}",
                                           TEMBRA_TOOL} +
                                   args);
        else
            tool.start(TEMBRA_TOOL, args);
        Result result;
        if (how == "nohup") {
            tool.waitForReadyRead(kRunMs);
            ::kill(pid_t(tool.processId()), SIGHUP);
        }
        if (!tool.waitForFinished(kRunMs))
            return result;
        result.code = tool.exitCode();
        result.err = tool.readAllStandardError();
        result.out += tool.readAllStandardOutput();
        for (const QByteArray& line : result.out.split('\n')) {
            if (!line.isEmpty())
                result.events.append(QJsonDocument::fromJson(line).object());
        }
        return result;
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
        Result check = run(QStringList{"--check"} + common);
        QCOMPARE(check.code, 10);
        Result update = run(QStringList{"--update"} + common);
        QCOMPARE(update.code, 0);
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
        QTest::addColumn<QStringList>("deviceArgs");
        QTest::addColumn<QStringList>("serviceArgs");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("how");
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
        QTest::newRow("another instance")
            << none << none << QStringList{"--check", "--port", "LINK"} << 8 << QString();
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
        QTest::newRow("an image other than the one expected")
            << none << none
            << QStringList{"--update", "--port", "LINK", "--expect-sha256", QString(64, 'a')} << 6
            << QString();
        QTest::newRow("a device that does not answer")
            << QStringList{"--silent"} << none << QStringList{"--check", "--port", "LINK"} << 7
            << QString();
        QTest::newRow("the boot loader does not answer \"v\"")
            << QStringList{"--mute-v"} << none << QStringList{"--update", "--port", "LINK"} << 7
            << QString();
    }
    void exitCodes() {
        QFETCH(QStringList, deviceArgs);
        QFETCH(QStringList, serviceArgs);
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, how);
        startSims(deviceArgs, serviceArgs);
        const QString data = dir.filePath(QTest::currentDataTag());
        QVERIFY(QDir().mkpath(data));
        QLockFile other(data + "/tembra-update-tool.lock");
        if (code == 8)
            QVERIFY(other.tryLock(0));
        if (!args.contains("--service-url"))
            args << "--service-url"
                 << "URL";
        if (args.removeAll("CFGFILE") > 0) { // a data folder whose "cfg" is a file
            QFile blocker(data + "/cfg");
            QVERIFY(blocker.open(QIODevice::WriteOnly));
            args.removeAll("--data-dir");
        }
        const bool help = args.contains("--help-all");
        if (!help)
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
        if (code == 2 || code == 8) {
            QVERIFY(result.out.isEmpty());
            // A refused run writes no log: it cannot push out the running run's.
            QVERIFY(QDir(data + "/logs").entryList(QDir::Files).isEmpty());
            return;
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
    }

    // Logs of whole runs replay on the simulated device, to the same end as
    // when they were made; a replay whose log was changed stops at the write
    // that differs, and the tool fails instead of waiting for good.
    void replays_data() {
        QTest::addColumn<QString>("log");
        QTest::addColumn<bool>("changed");
        QTest::newRow("a whole update") << "update.log" << false;
        QTest::newRow("a NAK and the transfer again") << "nak.log" << false;
        QTest::newRow("unplugged mid-transfer, back in the boot loader")
            << "unplugged.log" << false;
        QTest::newRow("a write changed") << "update.log" << true;
    }
    void replays() {
        QFETCH(QString, log);
        QFETCH(bool, changed);
        QFile recorded(QStringLiteral(TEMBRA_REPLAYS "/") + log);
        QVERIFY(recorded.open(QIODevice::ReadOnly));
        QByteArray text = recorded.readAll();
        const QRegularExpression ended(R"(run (?:ended|failed) with exit code (\d+))");
        const int code = ended.match(QString::fromUtf8(text)).captured(1).toInt();
        if (changed) // the tool's second write, the version query, as it never is
            text.replace("sent, id 4: 6e 01 03 03 8f 6e", "sent, id 4: 6e 01 03 03 8f 00");
        QFile replayed(dir.filePath(log));
        QVERIFY(replayed.open(QIODevice::WriteOnly) && replayed.write(text) == text.size());
        replayed.close();
        startSims({"--replay", replayed.fileName()}, {"--image-size", "4096"});
        QElapsedTimer clock;
        clock.start();
        const Result result = run({"--update", "--json", "--port", "LINK", "--service-url", "URL",
                                   "--data-dir", "DIR/data-" + log, "--timeout", "10"});
        device.waitForFinished(changed ? 10000 : 0);
        const QByteArray said = device.readAllStandardError();
        if (!changed) {
            QVERIFY2(result.code == code, result.out.constData());
            QVERIFY(clock.elapsed() < 20000);
            return;
        }
        QCOMPARE(device.exitCode(), 1);
        QVERIFY2(said.contains("write 2 of the tool differs") && said.contains("line 23"), said);
        QCOMPARE(result.code, 7);
    }

    // Three devices at once, one of which never confirms the checksum: two
    // are updated, one fails, and the retry names that one alone.
    void severalDevices() {
        startSims({}, {});
        QList<std::shared_ptr<QProcess>> more;
        QStringList args = {"--update",   "--json",   "--service-url", "URL",
                            "--data-dir", "DIR/desk", "--port",        "LINK"};
        for (const QString name : {"second", "failing"}) {
            auto device = std::make_shared<QProcess>();
            const QString path = dir.filePath(name);
            device->start(TEMBRA_SIM_DEVICE,
                          name == QLatin1String("failing")
                              ? QStringList{"--wrong-crc", "1000", "--link", path}
                              : QStringList{"--link", path});
            QVERIFY(device->waitForReadyRead(10000));
            more << device;
            args << "--port" << path;
        }
        const Result result = run(args);
        for (const auto& device : more)
            device->terminate(), device->waitForFinished(10000);
        QCOMPARE(result.code, 9);
        const QJsonObject summary = result.events.last();
        QCOMPARE(summary.value("event").toString(), QStringLiteral("summary"));
        QStringList results;
        for (const QJsonValue row : summary.value("devices").toArray())
            results << row.toObject().value("result").toString();
        QCOMPARE(results, (QStringList{"updated", "updated", "failed"}));
        QVERIFY(summary.value("retry").toString().endsWith("--port " + dir.filePath("failing")));
        QCOMPARE(summary.value("retry").toString().count("--port"), 1);
        for (const QJsonObject& event : result.events.mid(0, result.events.size() - 1))
            QVERIFY(event.contains("port"));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "test_cli.moc"
