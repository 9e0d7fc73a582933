#include "app/commandline.h"

#include "app/logging.h"
#include "app/mainwindow.h"
#include "app/state/state.h"
#include "config/configdal.h"
#include "device/portlist.h"
#include "device/xmodemdal.h"
#include "pages/initpage.h"
#include "pages/nodevice.h"
#include "pages/xmodemupdate.h"
#include "web/webdal.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <cstdio>

namespace CommandLine {
namespace {
const QString kCannotOpenPrefix = QStringLiteral("Cannot open ");
// A port that stays unopenable this long ends the run (a port may be busy for
// a moment while the system probes it after it appears).
const qint64 kCannotOpenMs = 5000;
const int kPollMs = 50;
// A run ended by SIGINT, SIGTERM or SIGHUP, as shells report an interrupt.
const int kInterrupted = 130;
// The description a port given with --port is listed with: it matches the
// device rule, so the usual search takes it.
const QString kGivenPortDescription = QStringLiteral("USB CDC (given with --port)");

const char kExitCodes[] = "Exit codes:\n"
                          "  0   updated, or up to date (--check)\n"
                          "  10  an update is offered (--check)\n"
                          "  2   bad arguments\n"
                          "  3   no device found within the limit\n"
                          "  4   the port cannot be opened (busy, permission)\n"
                          "  5   update service failure\n"
                          "  6   download or checksum failure\n"
                          "  7   the device stopped answering, or the limit was reached later\n"
                          "  8   another instance holds the data folder\n"
                          "  130 stopped by SIGINT, SIGTERM or SIGHUP before the end\n";

void print(FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

// "1.3.0", "V1.3.0" and " v1.3.0 " name the same version.
QString plainVersion(QString version) {
    version = version.trimmed();
    if (version.startsWith(QLatin1Char('v'), Qt::CaseInsensitive))
        version.remove(0, 1);
    return version;
}
} // namespace

int Parse(const QStringList& arguments, Options* options) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Updates the firmware of a Tembra wrist device plugged in by USB.\n"
                       "Without options it opens its window; --check and --update run "
                       "without one, and without a display."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption check(
        QStringLiteral("check"),
        QStringLiteral("Identify the device and ask the update service; download nothing."));
    const QCommandLineOption update(
        QStringLiteral("update"),
        QStringLiteral("Identify, check, download, transfer, confirm, restart, identify again."));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("The device's port as a path, such as a link "
                                                 "under /dev/serial/by-id/, instead of the search."),
                                  QStringLiteral("PATH"));
    const QCommandLineOption serviceUrl(QStringLiteral("service-url"),
                                        QStringLiteral("The update service's base URL."),
                                        QStringLiteral("URL"));
    const QCommandLineOption dataDir(QStringLiteral("data-dir"),
                                     QStringLiteral("The folder for settings and firmware."),
                                     QStringLiteral("DIR"));
    const QCommandLineOption timeout(QStringLiteral("timeout"),
                                     QStringLiteral("The whole run's limit (default 600)."),
                                     QStringLiteral("SECONDS"), QStringLiteral("600"));
    const QCommandLineOption json(
        QStringLiteral("json"),
        QStringLiteral("Print one JSON object per line on standard output, nothing else."));
    parser.addOptions({check, update, port, serviceUrl, dataDir, timeout, json});

    QString error;
    if (!parser.parse(arguments))
        error = parser.errorText();
    const auto helpText = [&] {
        int argc = 1;
        QByteArray program = arguments.value(0, QStringLiteral("tembra-update-tool")).toLocal8Bit();
        char* argv[] = {program.data(), nullptr};
        QCoreApplication app(argc, argv);
        return parser.helpText() + QLatin1Char('\n') + QLatin1String(kExitCodes);
    };
    if (error.isEmpty() && parser.isSet(help)) {
        print(stdout, helpText());
        return Updated;
    }
    if (error.isEmpty() && parser.isSet(version)) {
        print(stdout, Globals::Version + QLatin1Char('\n'));
        return Updated;
    }
    options->check = parser.isSet(check);
    options->update = parser.isSet(update);
    options->json = parser.isSet(json);
    options->port = parser.value(port);
    options->serviceUrl = parser.value(serviceUrl);
    options->dataDir = parser.value(dataDir);
    bool number = false;
    options->timeoutSeconds = parser.value(timeout).toInt(&number);
    if (!error.isEmpty()) {
        // reported below
    } else if (!parser.positionalArguments().isEmpty()) {
        error = QStringLiteral("Unexpected argument: %1").arg(parser.positionalArguments().first());
    } else if (options->check && options->update) {
        error = QStringLiteral("--check and --update exclude each other");
    } else if (!number || options->timeoutSeconds <= 0) {
        error = QStringLiteral("--timeout takes a whole number of seconds above 0");
    } else if ((options->json || parser.isSet(timeout)) && !options->headless()) {
        error = QStringLiteral("--json and --timeout go with --check or --update");
    } else if (parser.isSet(port) && options->port.isEmpty()) {
        error = QStringLiteral("--port takes a path");
    } else if (parser.isSet(serviceUrl) && !QUrl(options->serviceUrl).isValid()) {
        error = QStringLiteral("--service-url takes a URL");
    }
    if (error.isEmpty())
        return -1;
    print(stderr, error + QStringLiteral("\nSee --help.\n"));
    return BadArguments;
}

void Apply(const Options& options) {
    if (!options.dataDir.isEmpty())
        MainWindow::SetDataFolder(QFileInfo(options.dataDir).absoluteFilePath());
    if (!options.serviceUrl.isEmpty())
        WebDAL::SetBaseUrl(options.serviceUrl);
    if (!options.port.isEmpty()) {
        // The given path is the device's port while it exists; it may be a
        // link that follows the device across its restart.
        const QString path = options.port;
        PortList::SetProvider([path] {
            QList<PortEntry> ports;
            if (QFileInfo::exists(path))
                ports.append({path, kGivenPortDescription});
            return ports;
        });
    }
    XModemUpdate::SetCheckOnly(options.check);
}

} // namespace CommandLine

using namespace CommandLine;

CommandLineRun::CommandLineRun(MainWindow* window, const Options& options)
    : window(window), options(options) {
    connect(window, &MainWindow::PageShown, this, &CommandLineRun::onPage);
    connect(&pollTimer, &QTimer::timeout, this, &CommandLineRun::poll);
    pollTimer.start(kPollMs);
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, this, &CommandLineRun::onTimeout);
    limit.start(options.timeoutSeconds * 1000);
    emitEvent(QStringLiteral("start"),
              {{QStringLiteral("mode"), options.check ? "check" : "update"}},
              options.check ? QStringLiteral("checking") : QStringLiteral("updating"));
}

void CommandLineRun::emitEvent(const QString& event, const QVariantMap& fields,
                               const QString& text) {
    if (finished)
        return;
    const QDateTime now = QDateTime::currentDateTime();
    if (options.json) {
        QVariantMap map = fields;
        map.insert(QStringLiteral("time"), now.toString(Qt::ISODateWithMs));
        map.insert(QStringLiteral("event"), event);
        CommandLine::print(stdout,
                           QString::fromUtf8(QJsonDocument(QJsonObject::fromVariantMap(map))
                                                 .toJson(QJsonDocument::Compact)) +
                               QLatin1Char('\n'));
        return;
    }
    CommandLine::print(stdout, QStringLiteral("%1 %2: %3\n")
                                   .arg(now.toString(QStringLiteral("HH:mm:ss.zzz")), event, text));
}

void CommandLineRun::onPage(QWidget* page) {
    if (auto* updatePage = qobject_cast<XModemUpdate*>(page)) {
        // A device in its boot loader is taken to this page directly.
        if (!identified)
            emitEvent(QStringLiteral("device"),
                      {{QStringLiteral("firmware"), Device::DeviceInfo},
                       {QStringLiteral("port"), Globals::PortName.get()}},
                      QStringLiteral("in its boot loader, firmware %1 on %2")
                          .arg(Device::DeviceInfo, Globals::PortName.get()));
        identified = true;
        download = updatePage;
        connect(updatePage, &XModemUpdate::ServiceAnswered, this, &CommandLineRun::onAnswer);
        connect(updatePage, &XModemUpdate::ServiceFailed, this,
                [this](const QString& text) { fail(ServiceFailure, text); });
        connect(updatePage, &XModemUpdate::DownloadFailed, this, [this] {
            fail(DownloadFailure, QStringLiteral("update file error: the firmware download failed "
                                                 "or did not match its checksum"));
        });
        return;
    }
    auto* info = qobject_cast<InitPage*>(page);
    if (!info)
        return;
    const QVariantMap device = {{QStringLiteral("version"), Device::VersionInfo},
                                {QStringLiteral("firmware"), Device::DeviceInfo},
                                {QStringLiteral("deviceNumber"), Device::WatchId},
                                {QStringLiteral("port"), Globals::PortName.get()}};
    const QString described = QStringLiteral("version %1, firmware %2, device number %3 on %4")
                                  .arg(Device::VersionInfo, Device::DeviceInfo, Device::WatchId,
                                       Globals::PortName.get());
    if (updating) {
        emitEvent(QStringLiteral("device"), device, described);
        if (plainVersion(Device::VersionInfo) == plainVersion(offered)) {
            emitEvent(QStringLiteral("done"), {{QStringLiteral("version"), Device::VersionInfo}},
                      QStringLiteral("the device reports firmware %1: update complete")
                          .arg(Device::VersionInfo));
            finish(Updated);
        } else {
            fail(DeviceSilent, QStringLiteral("after the update the device reports %1, not %2")
                                   .arg(Device::VersionInfo, offered));
        }
        return;
    }
    if (identified)
        return;
    identified = true;
    emitEvent(QStringLiteral("device"), device, described);
    // Pressed as a user would, once the page is in place.
    QPointer<InitPage> target(info);
    QTimer::singleShot(0, this, [target] {
        if (auto* button = target ? target->findChild<QPushButton*>("BtnUpdate") : nullptr)
            button->click();
    });
}

void CommandLineRun::onAnswer(bool updateNeeded) {
    offered = ConfigDAL::GetUpdateBrand(QStringLiteral("version"));
    emitEvent(QStringLiteral("service"),
              {{QStringLiteral("offeredVersion"), offered},
               {QStringLiteral("updateNeeded"), updateNeeded}},
              updateNeeded ? QStringLiteral("version %1 is offered").arg(offered)
                           : QStringLiteral("no update is offered (latest: %1)").arg(offered));
    if (options.check) {
        emitEvent(QStringLiteral("done"), {{QStringLiteral("updateNeeded"), updateNeeded}},
                  updateNeeded ? QStringLiteral("an update is offered")
                               : QStringLiteral("up to date"));
        finish(updateNeeded ? Offered : Updated);
        return;
    }
    if (!updateNeeded) {
        emitEvent(QStringLiteral("done"), {{QStringLiteral("version"), Device::VersionInfo}},
                  QStringLiteral("up to date: nothing to do"));
        finish(Updated);
        return;
    }
    updating = true;
}

void CommandLineRun::poll() {
    const QString status = Globals::StatusLabel ? Globals::StatusLabel->text() : QString();
    if (status != lastStatus) {
        lastStatus = status;
        emitEvent(QStringLiteral("status"), {{QStringLiteral("text"), status}}, status);
    }
    qint64 bytes = -1;
    qint64 total = -1;
    QString phase;
    if (Globals::IsUpdateMode && Globals::currentOrder == XModemDAL::IdSendPacket) {
        phase = QStringLiteral("transfer");
        total = XModemDAL::FileSize;
        bytes = qMin<qint64>(qint64(XModemDAL::PacketIndex - 1) * XModemDAL::PacketSize, total);
    } else if (download && download->expectedBytes() > 0) {
        phase = QStringLiteral("download");
        bytes = download->receivedBytes();
        total = download->expectedBytes();
    }
    const QString progress = QStringLiteral("%1 %2/%3").arg(phase).arg(bytes).arg(total);
    if (!phase.isEmpty() && progress != lastProgress) {
        lastProgress = progress;
        emitEvent(QStringLiteral("progress"),
                  {{QStringLiteral("phase"), phase},
                   {QStringLiteral("bytes"), bytes},
                   {QStringLiteral("total"), total}},
                  QStringLiteral("%1 %2 of %3 bytes").arg(phase).arg(bytes).arg(total));
    }
    const bool cannotOpen = qobject_cast<NoDevice*>(window->centralWidget()) &&
                            status.startsWith(kCannotOpenPrefix);
    if (!cannotOpen) {
        cannotOpenSince.invalidate();
    } else if (!cannotOpenSince.isValid()) {
        cannotOpenSince.start();
    } else if (cannotOpenSince.elapsed() >= kCannotOpenMs) {
        fail(PortUnavailable, status);
    }
}

QString CommandLineRun::where() const {
    const QString stage = !identified ? QStringLiteral("searching for the device")
                          : updating  ? QStringLiteral("updating the device")
                                      : QStringLiteral("asking the update service");
    return QStringLiteral("%1; last status: \"%2\"").arg(stage, lastStatus);
}

void CommandLineRun::onTimeout() {
    const QString text =
        QStringLiteral("no end within %1 s: %2").arg(options.timeoutSeconds).arg(where());
    fail(identified ? DeviceSilent : NoDeviceFound, text);
}

void CommandLineRun::fail(int code, const QString& text) {
    qCWarning(lcApp).noquote() << "command line run ends with" << code << ":" << text;
    emitEvent(QStringLiteral("error"), {{QStringLiteral("code"), code}, {QStringLiteral("text"), text}},
              QStringLiteral("%1 (exit code %2)").arg(text).arg(code));
    finish(code);
}

int CommandLineRun::Interrupted() {
    if (!finished)
        fail(kInterrupted, QStringLiteral("interrupted: %1").arg(where()));
    return kInterrupted;
}

void CommandLineRun::finish(int code) {
    if (finished)
        return;
    finished = true;
    pollTimer.stop();
    limit.stop();
    QCoreApplication::exit(code);
}
