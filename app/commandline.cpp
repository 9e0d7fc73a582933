#include "app/commandline.h"

#include "app/logfile.h"
#include "app/logging.h"
#include "app/mainwindow.h"
#include "app/state/bounds.h"
#include "app/state/history.h"
#include "app/state/state.h"
#include "app/translations.h"
#include "device/portlist.h"
#include "pages/xmodemupdate.h"
#include "util/utility.h"
#include "web/webdal.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QRegularExpression>
#include <QUrl>
#include <cstdio>

namespace CommandLine {
namespace {
// A port that stays unopenable this long ends the run (a port may be busy for
// a moment while the system probes it after it appears).
const qint64 kCannotOpenMs = 5000;
// A run ended by SIGINT, SIGTERM or SIGHUP, as shells report an interrupt.
const int kInterrupted = Interrupted;
// The length of a SHA-256 in hexadecimal digits.
const int kSha256Digits = 64;

// The longest run --timeout allows: a day.
const int kMaxTimeoutSeconds = 86400;

// The help's texts and the argument errors, in the translation context
// "CommandLine".
struct Text {
    Q_DECLARE_TR_FUNCTIONS(CommandLine)
};

const char* const kExitCodes = QT_TRANSLATE_NOOP(
    "CommandLine", "Exit codes:\n"
                   "  0   updated, or up to date (--check)\n"
                   "  10  an update is offered (--check)\n"
                   "  2   bad arguments\n"
                   "  3   no device found within the limit\n"
                   "  4   the port cannot be opened (busy, permission)\n"
                   "  5   update service failure\n"
                   "  6   download or checksum failure\n"
                   "  7   the device stopped answering, or the limit was reached later\n"
                   "  8   another instance holds the data folder, or another run the device\n"
                   "  9   several devices: at least one of them failed (see the summary)\n"
                   "  130 stopped by SIGINT, SIGTERM or SIGHUP before the end\n");

const char* const kToolkitOptions = QT_TRANSLATE_NOOP(
    "CommandLine", "Options of the toolkit, taken before the tool's own:\n"
                   "  -platform <name>           The platform plugin: xcb, wayland, offscreen.\n"
                   "  -platformtheme <name>      The platform theme.\n"
                   "  -platformpluginpath <path> Where platform plugins are looked for.\n"
                   "  -plugin <name>             An input plugin to load.\n"
                   "  -style <name>              The widget style, such as fusion.\n"
                   "  -stylesheet <file>         A style sheet for the window.\n"
                   "  -reverse                   Lays the window out right to left.\n"
                   "  -qwindowgeometry <geometry>, -qwindowtitle <title>, -qwindowicon <icon>\n"
                   "  -session <id>, -widgetcount, -display <display> (X11), -nograb, -dograb\n");

// The toolkit's own options (Qt's GUI options): taken by the application
// object when it is made, and accepted here so that they are not refused.
const char* const kToolkitValueOptions[] = {
    "platform",      "platformpluginpath", "platformtheme", "plugin",  "qwindowgeometry",
    "qwindowtitle",  "qwindowicon",        "geometry",      "title",   "icon",
    "style",         "stylesheet",         "session",       "display", "name",
    "qmljsdebugger",
};
const char* const kToolkitFlagOptions[] = {"reverse", "widgetcount", "nograb",
                                           "dograb",  "testability", "sync"};

bool print(FILE* stream, const QString& text) {
    return Print(stream, text);
}

// A temporary application object for the help and the translations of the
// texts that go with it; the tool's own application is made after parsing.
struct ParseTime {
    explicit ParseTime(const QStringList& arguments)
        : program(arguments.value(0, QStringLiteral("tembra-update-tool")).toLocal8Bit()),
          argv{program.data(), nullptr}, app(argc, argv) {
        Translations::Install(QLocale::system().uiLanguages());
    }
    ~ParseTime() { Translations::Remove(); }
    QByteArray program;
    int argc = 1;
    char* argv[2];
    QCoreApplication app;
};
} // namespace

bool Print(FILE* stream, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    // One write, so that lines of several writers never mix mid-line.
    const bool written =
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream) == size_t(bytes.size());
    return std::fflush(stream) == 0 && written;
}

int Parse(const QStringList& arguments, Options* options) {
    ParseTime parseTime(arguments);
    QCommandLineParser parser;
    // "-platform xcb" is one option, as the toolkit reads it.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        Text::tr("Updates the firmware of a Tembra wrist device plugged in by USB.\n"
                 "Without options it opens its window; --check and --update run "
                 "without one, and without a display."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption check(
        QStringLiteral("check"),
        Text::tr("Identify the device and ask the update service; download nothing."));
    const QCommandLineOption update(
        QStringLiteral("update"),
        Text::tr("Identify, check, download, transfer, confirm, restart, identify again."));
    const QCommandLineOption port(
        QStringLiteral("port"),
        Text::tr("The device's port as a path, such as a link under /dev/serial/by-id/, instead "
                 "of the search. Given several times, the devices are updated at once, each by a "
                 "run of its own, with a summary at the end."),
        QStringLiteral("PATH"));
    const QCommandLineOption all(
        QStringLiteral("all"),
        Text::tr("Every device port the search finds at the start, each by a run of its own."));
    const QCommandLineOption expectSha256(
        QStringLiteral("expect-sha256"),
        Text::tr("Refuse a firmware image whose SHA-256 differs (exit code 6), before anything "
                 "is sent to a device."),
        QStringLiteral("HEX"));
    const QCommandLineOption firmware(
        QStringLiteral("firmware"),
        Text::tr("With --update: install this firmware file instead of the update service's "
                 "(no version check, no download)."),
        QStringLiteral("FILE"));
    const QCommandLineOption serviceUrl(QStringLiteral("service-url"),
                                        Text::tr("The update service's base URL (http or https)."),
                                        QStringLiteral("URL"));
    const QCommandLineOption dataDir(QStringLiteral("data-dir"),
                                     Text::tr("The folder for settings, firmware and logs."),
                                     QStringLiteral("DIR"));
    const QCommandLineOption timeout(
        QStringLiteral("timeout"),
        Text::tr("The whole run's limit, 1 to 86400 seconds (default 600)."),
        QStringLiteral("SECONDS"), QStringLiteral("600"));
    const QCommandLineOption json(
        QStringLiteral("json"),
        Text::tr("Print one JSON object per line on standard output, nothing else."));
    const QCommandLineOption verbose(
        QStringLiteral("verbose"),
        Text::tr("Print every log line on standard error, not only warnings and errors."));
    const QCommandLineOption force(
        QStringLiteral("force"),
        Text::tr("Update a device that already has the offered version (without it, the run ends "
                 "as up to date and nothing is sent to the device)."));
    const QCommandLineOption history(
        QStringLiteral("history"),
        Text::tr("Print the update history: what was updated, when, to what, from which file "
                 "(newest last). No device and no network are needed."));
    const QCommandLineOption historyLimit(
        QStringLiteral("history-limit"),
        Text::tr("With --history: the newest N records (default 50)."), QStringLiteral("N"),
        QStringLiteral("50"));
    const QCommandLineOption csv(QStringLiteral("csv"),
                                 Text::tr("With --history: print CSV, for a spreadsheet."));
    const QCommandLineOption device(
        QStringLiteral("device"),
        Text::tr("With --history: only the records of this device (its USB serial number or "
                 "its device number)."),
        QStringLiteral("SERIAL-OR-D/N"));
    parser.addOptions({check, update, port, all, serviceUrl, dataDir, timeout, json, verbose, force,
                       expectSha256, firmware, history, historyLimit, csv, device});
    for (const char* name : kToolkitValueOptions) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : kToolkitFlagOptions) {
        QCommandLineOption option(QString::fromLatin1(name), QString());
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }

    QString error;
    if (!parser.parse(arguments))
        error = parser.errorText();
    const bool helpAll = parser.optionNames().contains(QStringLiteral("help-all"));
    if (error.isEmpty() && (parser.isSet(help) || helpAll)) {
        QString text = parser.helpText() + QLatin1Char('\n');
        if (helpAll)
            text += Text::tr(kToolkitOptions) + QLatin1Char('\n');
        print(stdout, text + Text::tr(kExitCodes));
        return Updated;
    }
    if (error.isEmpty() && parser.isSet(version)) {
        print(stdout, Globals::Version + QLatin1Char('\n'));
        return Updated;
    }
    options->check = parser.isSet(check);
    options->update = parser.isSet(update);
    options->json = parser.isSet(json);
    options->verbose = parser.isSet(verbose);
    options->force = parser.isSet(force);
    options->ports = parser.values(port);
    options->port = options->ports.value(0);
    options->all = parser.isSet(all);
    options->expectSha256 = parser.value(expectSha256).toLower();
    options->firmware = parser.isSet(firmware) ? parser.value(firmware) : QString();
    options->serviceUrl = parser.value(serviceUrl);
    options->dataDir = parser.value(dataDir);
    options->history = parser.isSet(history);
    options->csv = parser.isSet(csv);
    options->device = parser.value(device);
    bool limited = false;
    options->historyLimit = parser.value(historyLimit).toInt(&limited);
    bool number = false;
    options->timeoutSeconds = parser.value(timeout).toInt(&number);
    const QUrl url(options->serviceUrl, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!error.isEmpty()) {
        // reported below
    } else if (!parser.positionalArguments().isEmpty()) {
        error = Text::tr("Unexpected argument: %1").arg(parser.positionalArguments().first());
    } else if (options->check && options->update) {
        error = Text::tr("--check and --update exclude each other");
    } else if (!number || options->timeoutSeconds < 1 ||
               options->timeoutSeconds > kMaxTimeoutSeconds) {
        error = Text::tr("--timeout takes a whole number of seconds from 1 to %1")
                    .arg(kMaxTimeoutSeconds);
    } else if (options->history && options->headless()) {
        error = Text::tr("--history reads what was done: it goes without --check and --update");
    } else if ((options->csv || parser.isSet(device) || parser.isSet(historyLimit)) &&
               !options->history) {
        error = Text::tr("--csv, --device and --history-limit go with --history");
    } else if (options->csv && options->json) {
        error = Text::tr("--csv and --json exclude each other");
    } else if (!limited || options->historyLimit < 1 || options->historyLimit > 1000000) {
        error = Text::tr("--history-limit takes a whole number from 1 to 1000000");
    } else if (parser.isSet(device) && options->device.isEmpty()) {
        error = Text::tr("--device takes a serial number or a device number");
    } else if (options->json && !options->headless() && !options->history) {
        error = Text::tr("--json and --timeout go with --check or --update");
    } else if (parser.isSet(timeout) && !options->headless()) {
        error = Text::tr("--json and --timeout go with --check or --update");
    } else if (parser.isSet(port) && options->ports.contains(QString())) {
        error = Text::tr("--port takes a path");
    } else if (options->all && parser.isSet(port)) {
        error = Text::tr("--all and --port exclude each other");
    } else if ((options->desk() || parser.isSet(expectSha256)) && !options->headless()) {
        error =
            Text::tr("--all, a repeated --port and --expect-sha256 go with --check or --update");
    } else if (parser.isSet(firmware) && options->check) {
        error = Text::tr("--firmware installs a file: it goes with --update, not with --check");
    } else if (parser.isSet(firmware) && (!options->update || options->firmware.isEmpty())) {
        error = Text::tr("--firmware takes a file and goes with --update");
    } else if (parser.isSet(expectSha256) &&
               !QRegularExpression(QStringLiteral("^[0-9a-f]{%1}$").arg(kSha256Digits))
                    .match(options->expectSha256)
                    .hasMatch()) {
        error = Text::tr("--expect-sha256 takes %1 hexadecimal digits").arg(kSha256Digits);
    } else if (parser.isSet(serviceUrl) &&
               (!url.isValid() || url.host().isEmpty() ||
                (scheme != QLatin1String("http") && scheme != QLatin1String("https")))) {
        error = Text::tr("--service-url takes an http or https URL, not \"%1\"")
                    .arg(options->serviceUrl);
    }
    // A relative path names a file of the current folder, whatever folder
    // the port is opened from later.
    for (QString& path : options->ports)
        path = QFileInfo(path).absoluteFilePath();
    if (!options->firmware.isEmpty())
        options->firmware = QFileInfo(options->firmware).absoluteFilePath();
    options->ports.removeDuplicates();
    options->port = options->ports.value(0);
    if (error.isEmpty())
        return -1;
    print(stderr, error + QLatin1Char('\n') + Text::tr("See --help.") + QLatin1Char('\n'));
    return BadArguments;
}

int FailBeforeStart(const Options& options, int code, const QString& text) {
    qCWarning(lcApp).noquote() << "run failed with exit code" << code << ":" << text;
    const QDateTime now = QDateTime::currentDateTime();
    // As a run that started says it: its start (with its log), then the error.
    const QList<QVariantMap> events = {
        {{QStringLiteral("event"), QStringLiteral("start")},
         {QStringLiteral("time"), IsoTime(now)},
         {QStringLiteral("mode"), options.check ? "check" : "update"},
         {QStringLiteral("log"), LogFile::Path()}},
        {{QStringLiteral("event"), QStringLiteral("error")},
         {QStringLiteral("time"), IsoTime(now)},
         {QStringLiteral("code"), code},
         {QStringLiteral("text"), text}}};
    for (const QVariantMap& event : events) {
        const QString name = event.value(QStringLiteral("event")).toString();
        if (options.json)
            Print(stdout, QString::fromUtf8(QJsonDocument(QJsonObject::fromVariantMap(event))
                                                .toJson(QJsonDocument::Compact)) +
                              QLatin1Char('\n'));
        else
            Print(stdout, QStringLiteral("%1 %2: %3\n")
                              .arg(now.toString(QStringLiteral("HH:mm:ss.zzz")), name,
                                   Describe(name, event)));
    }
    return code;
}

int PrintHistory(const Options& options) {
    QList<History::Record> records;
    for (const History::Record& record : History::Read()) {
        if (options.device.isEmpty() || record.isOf(options.device))
            records << record;
    }
    records = records.mid(qMax(0, int(records.size()) - options.historyLimit));
    if (options.csv) {
        Print(stdout, History::Csv(records));
        return Updated;
    }
    if (options.json) {
        QString out;
        for (const History::Record& record : records) {
            QJsonObject event = record.toJson();
            event.insert(QStringLiteral("event"), QStringLiteral("history"));
            event.insert(QStringLiteral("time"), IsoTime(record.ended.toLocalTime()));
            out += QString::fromUtf8(QJsonDocument(event).toJson(QJsonDocument::Compact)) +
                   QLatin1Char('\n');
        }
        Print(stdout, out);
        return Updated;
    }
    if (records.isEmpty()) {
        Print(stdout, QStringLiteral("The update history (%1) holds no record%2.\n")
                          .arg(History::Path(), options.device.isEmpty()
                                                    ? QString()
                                                    : QStringLiteral(" of ") +
                                                          Utility::Displayable(options.device)));
        return Updated;
    }
    Print(stdout, History::Table(records));
    return Updated;
}

void Apply(const Options& options) {
    if (!options.dataDir.isEmpty())
        MainWindow::SetDataFolder(QFileInfo(options.dataDir).absoluteFilePath());
    if (!options.serviceUrl.isEmpty())
        WebDAL::SetBaseUrl(options.serviceUrl);
    // The given path is the device's port while it exists (it may be a link
    // that follows the device across its restart); once the device behind
    // it is known, the device is followed under any name.
    if (!options.port.isEmpty())
        PortList::SetGivenPort(options.port);
    // A run is about the one device it chose: followed to the end.
    MainWindow::SetOneDevice(options.headless());
    XModemUpdate::SetCheckOnly(options.check);
    XModemUpdate::SetExpectedSha256(options.expectSha256);
    if (options.headless())
        XModemUpdate::SetSameVersionPolicy(options.force ? XModemUpdate::SameVersion::Force
                                                         : XModemUpdate::SameVersion::Skip);
}

} // namespace CommandLine

using namespace CommandLine;

namespace {
// The smallest step between two progress events: 1 % of the total, and no
// less than this many bytes.
const qint64 kProgressStep = 4096;
// In text, a count that runs on is printed at most this often.
const qint64 kCountedLineMs = 1000;
} // namespace

QString CommandLine::IsoTime(const QDateTime& time) {
    const int offset = time.offsetFromUtc();
    const int minutes = qAbs(offset) / 60;
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) +
           QStringLiteral("%1%2:%3")
               .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString CommandLine::Describe(const QString& event, const QVariantMap& f) {
    // What came from outside reaches the terminal as text, never as its
    // control sequences.
    const auto text = [&f](const char* key) {
        return Utility::Displayable(f.value(QLatin1String(key)).toString());
    };
    if (event == QLatin1String("start"))
        return QStringLiteral("%1 (log: %2)")
            .arg(text("mode") == QLatin1String("check") ? QStringLiteral("checking")
                                                        : QStringLiteral("updating"),
                 f.value(QStringLiteral("log")).toString().isEmpty()
                     ? QStringLiteral("none, it cannot be written")
                     : text("log"));
    if (event == QLatin1String("device")) {
        if (f.value(QStringLiteral("bootLoader")).toBool())
            return QStringLiteral("in its boot loader, firmware %1 on %2")
                .arg(text("firmware"), text("port"));
        return QStringLiteral("version %1, firmware %2, device number %3 on %4")
            .arg(text("version"), text("firmware"), text("deviceNumber"), text("port"));
    }
    if (event == QLatin1String("service")) {
        QString said =
            f.value(QStringLiteral("updateNeeded")).toBool()
                ? QStringLiteral("version %1 is offered").arg(text("offeredVersion"))
                : QStringLiteral("no update is offered (latest: %1)").arg(text("offeredVersion"));
        // What the release brings, under it, as plain text.
        for (const QString& line : f.value(QStringLiteral("notes"))
                                       .toString()
                                       .split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            said += QStringLiteral("\n    ") + Utility::Displayable(line);
        return said;
    }
    if (event == QLatin1String("chosen"))
        return QStringLiteral("installing the file %1: %2 bytes, SHA-256 %3, checksum %4")
            .arg(text("path"), text("bytes"), text("sha256"), text("checksum"));
    if (event == QLatin1String("status"))
        return text("text");
    if (event == QLatin1String("progress"))
        return QStringLiteral("%1 %2 of %3 bytes").arg(text("phase"), text("bytes"), text("total"));
    if (event == QLatin1String("downloaded"))
        return QStringLiteral("firmware image of %1 bytes kept, SHA-256 %2")
            .arg(text("bytes"), text("sha256"));
    if (event == QLatin1String("done")) {
        const QString result = text("result");
        if (result == QLatin1String("updated"))
            return QStringLiteral("the device reports firmware %1: update complete")
                .arg(text("version"));
        if (result == QLatin1String("offered"))
            return QStringLiteral("an update is offered");
        return QStringLiteral("up to date: nothing to do");
    }
    if (event == QLatin1String("error"))
        return QStringLiteral("%1 (exit code %2)").arg(text("text"), text("code"));
    return QString();
}

CommandLineRun::CommandLineRun(MainWindow* window, const Options& options)
    : window(window), options(options),
      lines([this](const QString&, const QString& event, const QVariantMap& fields,
                   const QDateTime& time) { writeEvent(event, fields, time); }) {
    UpdateEvents* events = UpdateEvents::instance();
    connect(events, &UpdateEvents::DeviceIdentified, this, &CommandLineRun::onIdentified);
    connect(events, &UpdateEvents::BootLoaderFound, this, &CommandLineRun::onBootLoader);
    connect(events, &UpdateEvents::ServiceAnswered, this, &CommandLineRun::onAnswer);
    connect(events, &UpdateEvents::DownloadProgress, this, [this](qint64 bytes, qint64 total) {
        onProgress(QStringLiteral("download"), bytes, total);
    });
    connect(events, &UpdateEvents::TransferProgress, this, [this](qint64 bytes, qint64 total) {
        onProgress(QStringLiteral("transfer"), bytes, total);
    });
    connect(events, &UpdateEvents::DownloadKept, this, [this](qint64 bytes, const QString& sha) {
        emitEvent(QStringLiteral("downloaded"),
                  {{QStringLiteral("bytes"), bytes}, {QStringLiteral("sha256"), sha}});
    });
    connect(events, &UpdateEvents::FirmwareChosen, this,
            [this](const QString& path, qint64 bytes, const QString& sha, int checksum) {
                emitEvent(QStringLiteral("chosen"), {{QStringLiteral("path"), path},
                                                     {QStringLiteral("bytes"), bytes},
                                                     {QStringLiteral("sha256"), sha},
                                                     {QStringLiteral("checksum"), checksum}});
            });
    connect(events, &UpdateEvents::StatusText, this, [this](const QString& text) {
        lastStatus = text;
        emitEvent(QStringLiteral("status"), {{QStringLiteral("text"), text}});
    });
    connect(events, &UpdateEvents::RunFailed, this, &CommandLineRun::onFailed);
    // Another run updates this device: nothing is done to it.
    connect(events, &UpdateEvents::DeviceInUse, this,
            [this](const QString& port, const QString& holder) {
                fail(AlreadyRunning, QStringLiteral("Another run of the tool, %1, is using the "
                                                    "device on %2; nothing was done")
                                         .arg(holder, port));
            });
    connect(events, &UpdateEvents::PortUnavailable, this, &CommandLineRun::onPortUnavailable);
    connect(events, &UpdateEvents::PortOpened, this, [this] {
        portOpened = true;
        cannotOpen.stop();
        notBack.stop();
    });
    // A lost device is waited for, within the run's limit, from when it went.
    connect(events, &UpdateEvents::DeviceLost, this,
            [this](const QString&, const QString&, UpdateEvents::Loss loss) {
                lostAt = loss;
                if (finished || notBack.isActive())
                    return;
                lostFor.start();
                waitForTheDevice();
            });
    // Another unit where the device was: the device is still waited for, for
    // what is left of the wait.
    connect(events, &UpdateEvents::AnotherDevice, this,
            [this](const QString&, const QString& other, const QString& own) {
                otherUnit = other;
                ownUnit = own;
                if (!lostFor.isValid())
                    lostFor.start();
                waitForTheDevice();
            });
    connect(events, &UpdateEvents::DeviceNotAnswering, this, [this] {
        notAnswering.start(qMax(0, Bounds::NotAnsweringExitMs() - Bounds::NotAnsweringMs()));
    });
    connect(events, &UpdateEvents::BootLoaderFound, &notAnswering, &QTimer::stop);
    connect(events, &UpdateEvents::DeviceIdentified, &notAnswering, &QTimer::stop);
    notBack.setSingleShot(true);
    connect(&notBack, &QTimer::timeout, this, [this] {
        const double seconds = Bounds::LostReturnMs() / 1000.0;
        QString text;
        switch (lostAt) {
        case UpdateEvents::Loss::Identification:
            text = QStringLiteral("the device went away while it was identified and did not "
                                  "come back within %1 s");
            break;
        case UpdateEvents::Loss::BeforeSwitch:
            text = this->options.check
                       ? QStringLiteral("the device was disconnected during the check and did "
                                        "not come back within %1 s")
                       : QStringLiteral("the device was disconnected before its update began and "
                                        "did not come back within %1 s; nothing was sent to it");
            break;
        case UpdateEvents::Loss::DuringUpdate:
            text = QStringLiteral("the device was lost during the update and did not come back "
                                  "within %1 s");
            break;
        }
        text = text.arg(seconds);
        if (!otherUnit.isEmpty())
            text = text.replace(0, 10, QStringLiteral("the device (%1)").arg(ownUnit)) +
                   QStringLiteral("; another device (%1) is on its port").arg(otherUnit);
        fail(DeviceSilent, text);
    });
    notAnswering.setSingleShot(true);
    connect(&notAnswering, &QTimer::timeout, this, [this] {
        fail(DeviceSilent,
             QStringLiteral("the device on %1 does not answer").arg(Globals::PortName.get()));
    });

    cannotOpen.setSingleShot(true);
    connect(&cannotOpen, &QTimer::timeout, this, [this] { fail(PortUnavailable, cannotOpenText); });
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, this, &CommandLineRun::onTimeout);
    limit.start(options.timeoutSeconds * 1000);
    // An update run is a run of the update history, however it ends.
    if (options.update)
        window->history()->begin();
    emitEvent(QStringLiteral("start"),
              {{QStringLiteral("mode"), options.check ? "check" : "update"},
               {QStringLiteral("log"), LogFile::Path()}});
    // A port that is not there is said at once, not only at the end.
    if (!options.port.isEmpty() && !QFileInfo::exists(options.port)) {
        const QString text = QStringLiteral("%1 does not exist; waiting for it up to %2 s")
                                 .arg(options.port)
                                 .arg(options.timeoutSeconds);
        qCWarning(lcApp).noquote() << text;
        emitEvent(QStringLiteral("status"), {{QStringLiteral("text"), text}});
    }
}

CountedLines::CountedLines(Writer writer, QObject* parent)
    : QObject(parent), writer(std::move(writer)) {
    timer.setInterval(int(kCountedLineMs / 4));
    connect(&timer, &QTimer::timeout, this, &CountedLines::printDue);
}

QString CountedLines::Shape(const QString& event, const QVariantMap& fields) {
    if (event == QLatin1String("progress"))
        return event + QLatin1Char(' ') + fields.value(QStringLiteral("phase")).toString();
    static const QRegularExpression digits(QStringLiteral("[0-9]+"));
    QString text = fields.value(QStringLiteral("text")).toString();
    if (event != QLatin1String("status") || !text.contains(digits))
        return QString();
    return event + QLatin1Char(' ') + text.replace(digits, QStringLiteral("#"));
}

void CountedLines::add(const QString& source, const QString& event, const QVariantMap& fields,
                       const QDateTime& time) {
    const QString shape = Shape(event, fields);
    if (!shape.isEmpty()) {
        const QString key = source + QLatin1Char('\n') + shape;
        const QElapsedTimer at = printedAt.value(key);
        if (at.isValid() && at.elapsed() < kCountedLineMs) {
            held.insert(key, {source, event, fields, time});
            if (!timer.isActive())
                timer.start();
            return;
        }
        held.remove(key);
        printedAt[key].start();
    }
    // What was held back is older: it goes first.
    flush();
    writer(source, event, fields, time);
}

void CountedLines::flush() {
    print(held.keys());
}

void CountedLines::drop() {
    held.clear();
    timer.stop();
}

void CountedLines::printDue() {
    QDateTime newest;
    for (auto it = held.constBegin(); it != held.constEnd(); ++it) {
        if (printedAt.value(it.key()).elapsed() >= kCountedLineMs &&
            (!newest.isValid() || it->time > newest))
            newest = it->time;
    }
    if (!newest.isValid())
        return;
    QList<QString> due;
    for (auto it = held.constBegin(); it != held.constEnd(); ++it) {
        if (it->time <= newest)
            due << it.key();
    }
    print(due);
}

void CountedLines::print(const QList<QString>& keys) {
    QList<QString> due = keys;
    std::sort(due.begin(), due.end(), [this](const QString& a, const QString& b) {
        return held.value(a).time < held.value(b).time;
    });
    for (const QString& key : due) {
        const Held line = held.take(key);
        printedAt[key].start();
        writer(line.source, line.event, line.fields, line.time);
    }
    if (held.isEmpty())
        timer.stop();
}

void CommandLineRun::emitEvent(const QString& event, const QVariantMap& fields) {
    if (finished || outputClosed)
        return;
    const QDateTime now = QDateTime::currentDateTime();
    if (options.json)
        writeEvent(event, fields, now);
    else
        lines.add(QString(), event, fields, now);
}

void CommandLineRun::writeEvent(const QString& event, const QVariantMap& fields,
                                const QDateTime& now) {
    if (outputClosed)
        return;
    QString line;
    if (options.json) {
        QVariantMap map = fields;
        map.insert(QStringLiteral("time"), IsoTime(now));
        map.insert(QStringLiteral("event"), event);
        line = QString::fromUtf8(
            QJsonDocument(QJsonObject::fromVariantMap(map)).toJson(QJsonDocument::Compact));
    } else {
        line =
            QStringLiteral("%1 %2: %3")
                .arg(now.toString(QStringLiteral("HH:mm:ss.zzz")), event, Describe(event, fields));
    }
    if (CommandLine::print(stdout, line + QLatin1Char('\n')))
        return;
    // Nobody reads any more (a pipe into "head" ended). A device in its boot
    // loader is updated all the same, in silence; otherwise the run ends as
    // if it had been interrupted.
    outputClosed = true;
    const bool midUpdate = UpdateEvents::instance()->deviceMidUpdate();
    lines.drop();
    qCWarning(lcApp).noquote() << "standard output cannot be written:"
                               << (midUpdate ? "the update goes on without it" : "ending the run");
    if (!midUpdate)
        QTimer::singleShot(0, this, [this] {
            if (!finished)
                finish(kInterrupted, QStringLiteral("standard output was closed"));
        });
}

// The device answered its identification: reported, then the update (or the
// check) is started as the button starts it, once its page is in place.
void CommandLineRun::onIdentified(const QString& version, const QString& firmware,
                                  const QString& deviceNumber, const QString& port,
                                  bool afterUpdate) {
    emitEvent(QStringLiteral("device"), {{QStringLiteral("version"), version},
                                         {QStringLiteral("firmware"), firmware},
                                         {QStringLiteral("deviceNumber"), deviceNumber},
                                         {QStringLiteral("port"), port}});
    if (afterUpdate) {
        // A chosen file's version is what the device reports.
        if (UpdateEvents::instance()->firmwareWasChosen() ||
            UpdateEvents::SameVersion(version, offered)) {
            emitEvent(QStringLiteral("done"), {{QStringLiteral("result"), "updated"},
                                               {QStringLiteral("version"), version}});
            finish(Updated, QStringLiteral("update complete: %1 -> %2")
                                .arg(versionBefore.isEmpty() ? QStringLiteral("?") : versionBefore,
                                     version));
        } else {
            fail(DeviceSilent, QStringLiteral("after the update the device reports %1, not %2")
                                   .arg(version, offered));
        }
        return;
    }
    if (started)
        return;
    versionBefore = version;
    start();
}

void CommandLineRun::onBootLoader(const QString& model, const QString& port) {
    emitEvent(QStringLiteral("device"), {{QStringLiteral("firmware"), model},
                                         {QStringLiteral("port"), port},
                                         {QStringLiteral("bootLoader"), true}});
    // A device in its boot loader is taken to its update by the flow itself.
    bootLoader = true;
    started = true;
}

void CommandLineRun::start() {
    started = true;
    QTimer::singleShot(0, window, &MainWindow::StartUpdate);
}

void CommandLineRun::onAnswer(const QString& offeredVersion, bool updateNeeded,
                              const QString& notes) {
    offered = offeredVersion;
    emitEvent(QStringLiteral("service"), {{QStringLiteral("offeredVersion"), offeredVersion},
                                          {QStringLiteral("updateNeeded"), updateNeeded},
                                          {QStringLiteral("notes"), notes}});
    // A device in its boot loader is never up to date: offered nothing, its
    // run fails (the page says so).
    if (bootLoader && !updateNeeded)
        return;
    // The offered version again counts as up to date, for a check as for an update.
    const bool same =
        !options.force && !bootLoader && UpdateEvents::SameVersion(versionBefore, offeredVersion);
    if (options.check && updateNeeded && same) {
        emitEvent(QStringLiteral("done"), {{QStringLiteral("result"), "up to date"},
                                           {QStringLiteral("version"), versionBefore},
                                           {QStringLiteral("updateNeeded"), false}});
        finish(Updated, QStringLiteral("up to date: the device already has %1").arg(versionBefore));
        return;
    }
    if (options.check) {
        emitEvent(QStringLiteral("done"),
                  {{QStringLiteral("result"), updateNeeded ? "offered" : "up to date"},
                   {QStringLiteral("updateNeeded"), updateNeeded}});
        finish(updateNeeded ? Offered : Updated,
               updateNeeded ? QStringLiteral("version %1 is offered").arg(offeredVersion)
                            : QStringLiteral("up to date"));
        return;
    }
    if (!updateNeeded) {
        emitEvent(QStringLiteral("done"), {{QStringLiteral("result"), "up to date"},
                                           {QStringLiteral("version"), versionBefore}});
        upToDate = true;
        finish(Updated, QStringLiteral("up to date: no update is offered"));
        return;
    }
    // The offered version again: up to date, nothing written, unless forced.
    if (same) {
        emitEvent(QStringLiteral("done"), {{QStringLiteral("result"), "up to date"},
                                           {QStringLiteral("version"), versionBefore}});
        upToDate = true;
        finish(Updated, QStringLiteral("up to date: the device already has %1").arg(versionBefore));
    }
}

// Progress as it rises, at most one event per 1 % (and per 4 KiB) of the
// total; the last one, with bytes equal to the total, always. A transfer
// that starts again from its first packet says nothing until it passes the
// point reported last.
void CommandLineRun::onProgress(const QString& phase, qint64 bytes, qint64 total) {
    QPair<qint64, qint64>& last = lastProgress[phase];
    if (last.second != total)
        last = qMakePair(qint64(0), total);
    const qint64 step = qMax(total / 100, kProgressStep);
    const bool whole = total > 0 && bytes >= total;
    if (bytes <= last.first || (!whole && bytes - last.first < step))
        return;
    last.first = bytes;
    emitEvent(QStringLiteral("progress"), {{QStringLiteral("phase"), phase},
                                           {QStringLiteral("bytes"), bytes},
                                           {QStringLiteral("total"), total}});
}

void CommandLineRun::onFailed(UpdateEvents::Failure kind, const QString& text) {
    switch (kind) {
    case UpdateEvents::Failure::Port:
        fail(PortUnavailable, text);
        return;
    case UpdateEvents::Failure::Service:
        fail(ServiceFailure, text);
        return;
    case UpdateEvents::Failure::Download:
        fail(DownloadFailure, text);
        return;
    case UpdateEvents::Failure::Device:
        fail(DeviceSilent, text);
        return;
    }
}

// A port that stays unopenable for a while ends the run; the search tries it
// again meanwhile.
void CommandLineRun::onPortUnavailable(const QString& port, const QString& reason) {
    // A device restarting into its new firmware may be busy for a moment (a
    // program probing it): it is waited for as a restarted device is.
    if (UpdateEvents::instance()->phase() == UpdateEvents::Phase::Restarting)
        return;
    cannotOpenText = QStringLiteral("Cannot open %1: %2").arg(port, reason);
    if (!cannotOpen.isActive())
        cannotOpen.start(int(kCannotOpenMs));
}

QString CommandLineRun::where() const {
    QString stage;
    switch (UpdateEvents::instance()->phase()) {
    case UpdateEvents::Phase::Idle:
        if (!started && !portOpened && !options.port.isEmpty() && !QFileInfo::exists(options.port))
            stage = QStringLiteral("waiting for %1, which never appeared").arg(options.port);
        else if (!started)
            stage = portOpened ? QStringLiteral("identifying the device")
                               : QStringLiteral("searching for the device");
        else
            stage = QStringLiteral("asking the update service");
        break;
    case UpdateEvents::Phase::Checking:
        stage = QStringLiteral("asking the update service");
        break;
    case UpdateEvents::Phase::Downloading:
        stage = QStringLiteral("downloading the firmware");
        break;
    default:
        stage = QStringLiteral("updating the device");
        break;
    }
    if (lastStatus.isEmpty())
        return stage;
    return QStringLiteral("%1; last status: \"%2\"").arg(stage, lastStatus);
}

void CommandLineRun::onTimeout() {
    const QString text =
        QStringLiteral("no end within %1 s: %2").arg(options.timeoutSeconds).arg(where());
    fail(started || portOpened ? DeviceSilent : NoDeviceFound, text);
}

void CommandLineRun::waitForTheDevice() {
    if (finished)
        return;
    const qint64 left = qint64(Bounds::LostReturnMs()) - lostFor.elapsed();
    notBack.start(int(qBound(qint64(0), qMin(left, qint64(limit.remainingTime())),
                             qint64(Bounds::LostReturnMs()))));
}

void CommandLineRun::fail(int code, const QString& text) {
    lines.flush();
    QString said = text;
    // A device left in its boot loader waits there for its firmware: the
    // same command, run again, finds it there and finishes its update.
    if (UpdateEvents::instance()->deviceSwitched() && code != Updated && code != Offered) {
        QStringList command;
        for (const QString& argument : QCoreApplication::arguments())
            command << Utility::ShellQuoted(argument);
        said += QStringLiteral("; the device is left in its boot loader: run the same command "
                               "again to finish its update: ") +
                command.join(QLatin1Char(' '));
    }
    emitEvent(QStringLiteral("error"),
              {{QStringLiteral("code"), code}, {QStringLiteral("text"), said}});
    finish(code, said);
}

int CommandLineRun::Interrupted() {
    if (!finished)
        fail(kInterrupted, QStringLiteral("interrupted: %1").arg(where()));
    return kInterrupted;
}

void CommandLineRun::finish(int code, const QString& outcome) {
    if (finished)
        return;
    lines.flush();
    finished = true;
    if (options.update)
        window->RecordRun(
            code == Updated ? (upToDate ? QStringLiteral("up to date") : QStringLiteral("updated"))
            : code == kInterrupted ? QStringLiteral("interrupted")
                                   : QStringLiteral("failed"),
            code, outcome);
    limit.stop();
    cannotOpen.stop();
    notBack.stop();
    notAnswering.stop();
    if (code == Updated || code == Offered)
        qCInfo(lcApp).noquote() << "run ended with exit code" << code << ":" << outcome;
    else
        qCWarning(lcApp).noquote() << "run failed with exit code" << code << ":" << outcome;
    QCoreApplication::exit(code);
}
