#include "app/deskrun.h"

#include "app/chosenfirmware.h"
#include "app/logging.h"
#include "app/mainwindow.h"
#include "app/state/history.h"
#include "device/deviceidentity.h"
#include "device/portlist.h"
#include "util/utility.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

using namespace CommandLine;

namespace {
// How long stopped children are given to say where they stood.
const int kStopWaitMs = 10000;
const QString kFailed = QStringLiteral("failed");
} // namespace

DeskRun::DeskRun(const Options& options, const QStringList& arguments)
    : options(options), arguments(arguments),
      lines([this](const QString& name, const QString& event, const QVariantMap& fields,
                   const QDateTime& time) {
          // Every line of it with the port's name (release notes have several).
          say(stdout, QStringLiteral("%1: %2 %3: %4")
                          .arg(name, time.toString(QStringLiteral("HH:mm:ss.zzz")), event,
                               Describe(event, fields)
                                   .replace(QLatin1Char('\n'),
                                            QLatin1Char('\n') + name + QStringLiteral(": "))));
      }) {}

DeskRun::~DeskRun() {
    for (const auto& child : children) {
        if (child->process && child->process->state() != QProcess::NotRunning) {
            child->process->kill();
            child->process->waitForFinished(kStopWaitMs);
        }
    }
}

QString DeskRun::ChildFolder(const QString& base, const QString& port) {
    return QDir(base).filePath(QFileInfo(port).fileName());
}

int DeskRun::Start() {
    began = QDateTime::currentDateTime();
    // The desk's data folder: --data-dir, or the tool's own.
    base = MainWindow::DataFolder();
    // A chosen file that cannot be firmware fails the desk before any device.
    if (!options.firmware.isEmpty()) {
        ChosenFirmware firmware;
        UserText why;
        if (!ChosenFirmware::Load(options.firmware, options.expectSha256, &firmware, &why))
            return FailBeforeStart(options, DownloadFailure, why.english);
    }
    QStringList ports = options.ports;
    if (options.all)
        ports = PortList::DevicePortPaths(PortList::Available());
    if (ports.isEmpty()) {
        qCWarning(lcApp).noquote() << "no device port was found for --all";
        // As a single run reports it: an error event.
        const QDateTime now = QDateTime::currentDateTime();
        const QString text = QStringLiteral("No device port was found.");
        const QVariantMap event = {{QStringLiteral("event"), QStringLiteral("error")},
                                   {QStringLiteral("time"), IsoTime(now)},
                                   {QStringLiteral("code"), int(NoDeviceFound)},
                                   {QStringLiteral("text"), text}};
        if (options.json)
            say(stdout, QString::fromUtf8(QJsonDocument(QJsonObject::fromVariantMap(event))
                                              .toJson(QJsonDocument::Compact)));
        else
            say(stdout, QStringLiteral("%1 error: %2")
                            .arg(now.toString(QStringLiteral("HH:mm:ss.zzz")),
                                 Describe(QStringLiteral("error"), event)));
        return NoDeviceFound;
    }
    QStringList names;
    QList<DeviceIdentity> devices;
    for (QString port : ports) {
        const DeviceIdentity device = Identity::Resolve(port);
        // The search's ports by their place on the bus, a name that stays
        // while the device renumbers.
        if (options.all && !device.byPath.isEmpty())
            port = device.byPath;
        // Two names of one port (a link and its node, by-id and by-path):
        // one run, by the name given first. Two units that share a serial
        // number, or have none, are two devices, each with its own run.
        bool named = false;
        for (int i = 0; i < devices.size() && !named; ++i) {
            if (!devices.at(i).samePort(device))
                continue;
            named = true;
            qCInfo(lcApp).noquote() << port << "names the same device as"
                                    << children.at(size_t(i))->port << ": one run for both";
        }
        if (named)
            continue;
        devices << device;
        auto child = std::make_unique<Child>();
        child->port = port;
        child->serial = device.serial;
        child->name = QFileInfo(port).fileName();
        // Two links of the same name in different folders get folders of their own.
        for (int n = 2; names.contains(child->name); ++n)
            child->name = QFileInfo(port).fileName() + QLatin1Char('-') + QString::number(n);
        names << child->name;
        children.push_back(std::move(child));
    }
    QStringList given;
    for (const auto& child : children)
        given << child->port;
    qCInfo(lcApp).noquote() << "updating" << given.size() << "devices at once:" << given.join(", ");
    for (const auto& child : children)
        startChild(*child);
    return -1;
}

void DeskRun::startChild(Child& child) {
    QStringList args = {options.check ? QStringLiteral("--check") : QStringLiteral("--update"),
                        QStringLiteral("--json"),
                        QStringLiteral("--port"),
                        child.port,
                        QStringLiteral("--data-dir"),
                        QDir(base).filePath(child.name),
                        QStringLiteral("--timeout"),
                        QString::number(options.timeoutSeconds)};
    if (!options.serviceUrl.isEmpty())
        args << QStringLiteral("--service-url") << options.serviceUrl;
    if (options.force)
        args << QStringLiteral("--force");
    if (options.verbose)
        args << QStringLiteral("--verbose");
    if (!options.expectSha256.isEmpty())
        args << QStringLiteral("--expect-sha256") << options.expectSha256;
    // The same file on every device.
    if (!options.firmware.isEmpty())
        args << QStringLiteral("--firmware") << options.firmware;
    child.process = std::make_unique<QProcess>();
    Child* c = &child;
    connect(child.process.get(), &QProcess::readyReadStandardOutput, this,
            [this, c] { onOutput(*c); });
    connect(child.process.get(), &QProcess::readyReadStandardError, this,
            [this, c] { onErrorOutput(*c); });
    connect(child.process.get(), qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
            [this, c](int code, QProcess::ExitStatus status) {
                onFinished(*c, status == QProcess::NormalExit ? code : CommandLine::Interrupted);
            });
    connect(child.process.get(), &QProcess::errorOccurred, this,
            [this, c](QProcess::ProcessError e) {
                if (e == QProcess::FailedToStart)
                    onFinished(*c, CommandLine::Interrupted);
            });
    child.clock.start();
    qCDebug(lcApp).noquote() << "starting" << QCoreApplication::applicationFilePath()
                             << args.join(QLatin1Char(' '));
    child.process->start(QCoreApplication::applicationFilePath(), args);
}

void DeskRun::say(FILE* stream, const QString& line) {
    Print(stream, line + QLatin1Char('\n'));
}

// A child's standard output: one JSON event per whole line.
void DeskRun::onOutput(Child& child) {
    child.out += child.process->readAllStandardOutput();
    for (int end = child.out.indexOf('\n'); end >= 0; end = child.out.indexOf('\n')) {
        const QByteArray line = child.out.left(end);
        child.out.remove(0, end + 1);
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        if (doc.isObject())
            onEvent(child, doc.object().toVariantMap());
    }
}

// A child's warnings, a whole line at a time, with its port's name.
void DeskRun::onErrorOutput(Child& child) {
    child.err += child.process->readAllStandardError();
    for (int end = child.err.indexOf('\n'); end >= 0; end = child.err.indexOf('\n')) {
        const QString line = QString::fromLocal8Bit(child.err.left(end));
        child.err.remove(0, end + 1);
        say(stderr, child.name + QStringLiteral(": ") + line);
    }
}

void DeskRun::onEvent(Child& child, QVariantMap event) {
    const QString name = event.value(QStringLiteral("event")).toString();
    if (name == QLatin1String("start"))
        child.log = event.value(QStringLiteral("log")).toString();
    if (name == QLatin1String("device")) {
        const QString version = event.value(QStringLiteral("version")).toString();
        if (child.deviceNumber.isEmpty())
            child.deviceNumber = event.value(QStringLiteral("deviceNumber")).toString();
        if (!child.identified) {
            child.identified = true;
            child.bootLoaderBefore = event.value(QStringLiteral("bootLoader")).toBool();
            child.before = version;
        }
        child.after = version;
    }
    if (name == QLatin1String("done"))
        child.result = event.value(QStringLiteral("result")).toString();
    if (name == QLatin1String("error"))
        child.error = event.value(QStringLiteral("text")).toString();
    event.insert(QStringLiteral("port"), child.port);
    if (options.json) {
        say(stdout,
            QString::fromUtf8(
                QJsonDocument(QJsonObject::fromVariantMap(event)).toJson(QJsonDocument::Compact)));
        return;
    }
    lines.add(
        child.name, name, event,
        QDateTime::fromString(event.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs));
}

void DeskRun::onFinished(Child& child, int code) {
    if (child.done)
        return;
    child.done = true;
    child.elapsedMs = child.clock.elapsed();
    onOutput(child);
    onErrorOutput(child);
    child.code = code;
    if (code != Updated && code != Offered)
        child.result = kFailed;
    qCInfo(lcApp).noquote() << child.port << "ended with exit code" << code;
    for (const auto& other : children) {
        if (!other->done)
            return;
    }
    summarise();
    QCoreApplication::exit(exitCode);
}

int DeskRun::Interrupted() {
    if (finished)
        return exitCode;
    qCWarning(lcApp).noquote() << "asked to stop: stopping every device's run";
    for (const auto& child : children) {
        if (child->process && child->process->state() != QProcess::NotRunning)
            child->process->terminate();
    }
    for (const auto& child : children) {
        if (child->process && !child->done) {
            child->process->waitForFinished(kStopWaitMs);
            onFinished(*child, child->process->state() == QProcess::NotRunning &&
                                       child->process->exitStatus() == QProcess::NormalExit
                                   ? child->process->exitCode()
                                   : CommandLine::Interrupted);
        }
    }
    if (!finished)
        summarise();
    exitCode = CommandLine::Interrupted;
    return exitCode;
}

namespace {
// Whether argument is the option name in any spelling the parser takes
// ("--name", "-name", with "=value" or without); value tells which.
bool isOption(const QString& argument, const QString& name, bool* inlineValue) {
    QString text = argument;
    if (text.startsWith(QLatin1String("--")))
        text.remove(0, 2);
    else if (text.startsWith(QLatin1Char('-')))
        text.remove(0, 1);
    else
        return false;
    *inlineValue = text.startsWith(name + QLatin1Char('='));
    return *inlineValue || text == name;
}
} // namespace

QString DeskRun::retryCommand() const {
    QStringList failed;
    for (const auto& child : children) {
        if (child->result == kFailed)
            failed << child->port;
    }
    // One device is retried by a single run, which keeps that device's data
    // folder (its log and firmware) only when it is given as such.
    const bool single = failed.size() == 1;
    QStringList command = {
        Utility::ShellQuoted(arguments.value(0, QStringLiteral("tembra-update-tool")))};
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        bool inlineValue = false;
        if (isOption(argument, QStringLiteral("port"), &inlineValue) ||
            (single && isOption(argument, QStringLiteral("data-dir"), &inlineValue))) {
            if (!inlineValue)
                ++i; // and its value
            continue;
        }
        if (isOption(argument, QStringLiteral("all"), &inlineValue) && !inlineValue)
            continue;
        command << Utility::ShellQuoted(argument);
    }
    for (const auto& child : children) {
        if (child->result != kFailed)
            continue;
        command << QStringLiteral("--port") << Utility::ShellQuoted(child->port);
        if (single)
            command << QStringLiteral("--data-dir")
                    << Utility::ShellQuoted(QDir(base).filePath(child->name));
    }
    return command.join(QLatin1Char(' '));
}

void DeskRun::summarise() {
    finished = true;
    lines.flush();
    // Whether each device updated now had been updated here before.
    const QList<History::Record> past = History::Read();
    for (const auto& child : children) {
        if (child->result != QLatin1String("updated"))
            continue;
        bool before = false;
        for (const History::Record& record : past) {
            before = before ||
                     (record.result == QLatin1String("updated") && record.ended < began &&
                      (child->deviceNumber.isEmpty() ? record.isOf(child->serial)
                                                     : record.deviceNumber == child->deviceNumber));
        }
        child->firstUpdate = !before;
    }
    int failed = 0;
    QVariantList rows;
    for (const auto& child : children) {
        failed += child->result == kFailed ? 1 : 0;
        QVariantMap row = {
            {QStringLiteral("port"), child->port},
            {QStringLiteral("serial"), child->serial},
            {QStringLiteral("deviceNumber"), child->deviceNumber},
            {QStringLiteral("versionBefore"),
             child->bootLoaderBefore ? QVariant::fromValue(nullptr) : QVariant(child->before)},
            {QStringLiteral("versionAfter"), child->after},
            {QStringLiteral("result"), child->result},
            {QStringLiteral("code"), child->code},
            {QStringLiteral("seconds"), child->seconds()},
            {QStringLiteral("log"), child->log},
            {QStringLiteral("firstUpdate"),
             child->firstUpdate.isValid() ? child->firstUpdate : QVariant::fromValue(nullptr)}};
        if (!child->error.isEmpty())
            row.insert(QStringLiteral("error"), child->error);
        rows << row;
    }
    exitCode = failed > 0 ? SomeDevicesFailed : Updated;
    const QString retry = failed > 0 ? retryCommand() : QString();
    qCInfo(lcApp).noquote() << children.size() - size_t(failed) << "of" << children.size()
                            << "devices ended well"
                            << (retry.isEmpty() ? QString() : "; retry: " + retry);
    if (options.json) {
        QVariantMap summary = {{QStringLiteral("event"), QStringLiteral("summary")},
                               {QStringLiteral("time"), IsoTime(QDateTime::currentDateTime())},
                               {QStringLiteral("devices"), rows},
                               {QStringLiteral("failed"), failed}};
        if (!retry.isEmpty())
            summary.insert(QStringLiteral("retry"), retry);
        say(stdout, QString::fromUtf8(QJsonDocument(QJsonObject::fromVariantMap(summary))
                                          .toJson(QJsonDocument::Compact)));
        return;
    }
    // A table: one row per device, columns as wide as their longest text.
    const QStringList headings = {QStringLiteral("port"),          QStringLiteral("serial"),
                                  QStringLiteral("device number"), QStringLiteral("version"),
                                  QStringLiteral("result"),        QStringLiteral("first update"),
                                  QStringLiteral("exit"),          QStringLiteral("time"),
                                  QStringLiteral("log"),           QStringLiteral("reason")};
    QList<QStringList> table = {headings};
    for (const auto& child : children) {
        const QString before =
            child->bootLoaderBefore ? QStringLiteral("boot loader") : child->before;
        const QString version = before == child->after || child->after.isEmpty()
                                    ? before
                                    : before + QStringLiteral(" -> ") + child->after;
        // What the devices and children said reaches the terminal as text.
        table << QStringList{
            child->name,
            child->serial.isEmpty() ? QStringLiteral("-") : Utility::Displayable(child->serial),
            Utility::Displayable(child->deviceNumber),
            Utility::Displayable(version),
            child->result,
            !child->firstUpdate.isValid() ? QStringLiteral("-")
            : child->firstUpdate.toBool() ? QStringLiteral("yes")
                                          : QStringLiteral("no"),
            QString::number(child->code),
            QString::number(child->seconds(), 'f', 1) + QStringLiteral(" s"),
            Utility::Displayable(child->log),
            child->result == kFailed ? Utility::Displayable(child->error) : QString()};
    }
    say(stdout, QStringLiteral("summary: %1 of %2 devices ended well")
                    .arg(children.size() - size_t(failed))
                    .arg(children.size()));
    for (const QString& line : Utility::Columns(table))
        say(stdout, QStringLiteral("  ") + line);
    if (!retry.isEmpty())
        say(stdout, QStringLiteral("retry the failed devices: ") + retry);
}
