#include "app/chosenfirmware.h"
#include "app/commandline.h"
#include "app/deskrun.h"
#include "app/logfile.h"
#include "app/logging.h"
#include "app/mainwindow.h"
#include "app/quitonsignal.h"
#include "app/sleepinhibitor.h"
#include "app/state/updateevents.h"
#include "app/toolkit.h"
#include "app/translations.h"
#include "device/deviceidentity.h"
#include "device/portlist.h"
#include "pages/xmodemupdate.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QLockFile>
#include <QStandardPaths>
#include <clocale>
#include <cstdio>

namespace {
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
// The system bus where none is named, how long it is given to answer, and
// the address that stands for none.
const char kSystemBus[] = "unix:path=/run/dbus/system_bus_socket";
const int kBusProbeMs = 3000;
const char kNoBus[] = "unix:path=/nonexistent/tembra-update-tool/no-bus";
#endif
// Held while the tool runs: a second instance on the same data folder would
// fight over the port and over the settings and firmware files.
const char kLockName[] = "tembra-update-tool.lock";

// Holds the data folder's lock, unless another live instance holds it. The
// lock is held for the whole run: only one whose process has ended is stale.
bool lockDataFolder(QLockFile* lock) {
    lock->setStaleLockTime(0);
    // A folder this user cannot write holds no lock, and no files of the tool
    // either: only a lock held by another live instance stops this one.
    return lock->tryLock(0) || lock->error() != QLockFile::LockFailedError;
}

void sayAlreadyRunning(const QString& dataFolder) {
    std::fprintf(
        stderr, "%s\n",
        qPrintable(QCoreApplication::translate(
                       "CommandLine", "Another instance of the tool is using %1; nothing was done.")
                       .arg(dataFolder)));
}

// Several devices at once: no window, one child run of this program each.
int runDesk(int argc, char* argv[], const CommandLine::Options& options,
            const QStringList& arguments) {
    QCoreApplication app(argc, argv);
    QuitOnTerminationSignals();
    ::setlocale(LC_MESSAGES, "C");
    if (!options.dataDir.isEmpty())
        MainWindow::SetDataFolder(QFileInfo(options.dataDir).absoluteFilePath());
    const QString dataFolder = MainWindow::DataFolder();
    QDir().mkpath(dataFolder);
    QLockFile lock(QDir(dataFolder).filePath(QLatin1String(kLockName)));
    if (!lockDataFolder(&lock)) {
        sayAlreadyRunning(dataFolder);
        return CommandLine::AlreadyRunning;
    }
    LogFile::Start(QDir(dataFolder).filePath(QStringLiteral("logs")),
                   LogFile::Header(dataFolder, arguments));
    if (!options.verbose)
        LogFile::SetStandardErrorLevel(QtWarningMsg);
    DeskRun desk(options, arguments);
    int result = desk.Start();
    if (result < 0) {
        result = QCoreApplication::exec();
        if (!desk.ended())
            result = desk.Interrupted();
    }
    LogFile::Stop(result != CommandLine::Updated);
    return result;
}
} // namespace

int main(int argc, char* argv[]) {
    // A reader that went away (a pipe into "head") fails the write instead
    // of ending the tool in the middle of an update.
    IgnoreBrokenPipes();
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    CommandLine::Options options;
    const int early = CommandLine::Parse(arguments, &options);
    if (early >= 0)
        return early;
    // What was done, read back: no device, no network, no window.
    if (options.history)
        return CommandLine::PrintHistory(options);
    // Chosen before the application exists: no X11 or Wayland is needed.
    if (options.headless())
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (options.desk())
        return runDesk(argc, argv, options, arguments);
    Toolkit::PrepareApplication();

    QApplication app(argc, argv);
    QuitOnTerminationSignals();
    // Only the window speaks the user's language: a run of the command line
    // says everything in English, for the scripts that read it and for
    // support, as the log does (the system's messages too).
    if (options.headless())
        ::setlocale(LC_MESSAGES, "C");
    else
        Translations::Install(QLocale::system().uiLanguages());
    CommandLine::Apply(options);
    const QString dataFolder = MainWindow::DataFolder();

    // The lock comes first: a run refused here writes no log of its own, and
    // so can never push the log of the run that holds the folder out.
    QDir().mkpath(dataFolder);
    QLockFile lock(QDir(dataFolder).filePath(QLatin1String(kLockName)));
    const bool locked = lockDataFolder(&lock);
    if (!locked) {
        if (options.headless()) {
            sayAlreadyRunning(dataFolder);
            return CommandLine::AlreadyRunning;
        }
        MainWindow::SetAlreadyRunning(true);
    }
    const QString logFolder =
        options.dataDir.isEmpty()
            ? QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)
            : dataFolder;
    // A window refused by the lock writes no log either, and removes none.
    if (locked)
        LogFile::Start(QDir(logFolder).filePath(QStringLiteral("logs")),
                       LogFile::Header(dataFolder, arguments));
    // On the command line standard error carries what needs attention; the
    // log file keeps everything.
    if (options.headless() && !options.verbose)
        LogFile::SetStandardErrorLevel(QtWarningMsg);

    int result = 0;
    bool failed = false;
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Qt 5's network access asks NetworkManager on the system bus, and waits
    // for it, the first time a request is made: a bus that takes connections
    // and never answers would hold the tool up for minutes. It is looked at
    // first, for a few seconds at most, and set aside when it does not answer.
    {
        QString bus = qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS");
        if (bus.isEmpty())
            bus = QString::fromLatin1(kSystemBus);
        QString why;
        if (!SleepInhibitor::Answers(bus, kBusProbeMs, &why)) {
            qCInfo(lcApp).noquote()
                << "the system bus" << bus << "does not answer (" + why + "): it is not asked";
            qputenv("DBUS_SYSTEM_BUS_ADDRESS", kNoBus);
        }
    }
#endif
    // A chosen firmware file is read and checked before anything is sent.
    if (!options.firmware.isEmpty()) {
        ChosenFirmware firmware;
        UserText why;
        if (!ChosenFirmware::Load(options.firmware, options.expectSha256, &firmware, &why)) {
            result =
                CommandLine::FailBeforeStart(options, CommandLine::DownloadFailure, why.english);
            LogFile::Stop(true);
            return result;
        }
        XModemUpdate::SetChosenFirmware(firmware);
    }
    // Without --port or --all a run is about the one device plugged in:
    // with several, which one is not guessed.
    if (options.headless() && options.port.isEmpty()) {
        const QStringList ports = PortList::DescribedDevicePorts(PortList::Available());
        if (ports.size() > 1) {
            result = CommandLine::FailBeforeStart(
                options, CommandLine::BadArguments,
                QStringLiteral("%1 device ports were found (%2): name one with --port, or update "
                               "them all with --all")
                    .arg(ports.size())
                    .arg(ports.join(QStringLiteral(", "))));
            LogFile::Stop(true);
            return result;
        }
    }
    // The device's lock comes before anything is opened: a run given a port
    // (a link that follows the device through its restart) holds that name
    // for the whole run, and a second run given it is refused having touched
    // nothing, even while the device re-enumerates under it.
    Identity::Lock nameLock;
    QString holder;
    if (options.headless() && !nameLock.takeName(options.port, &holder)) {
        result = CommandLine::FailBeforeStart(
            options, CommandLine::AlreadyRunning,
            QStringLiteral(
                "Another run of the tool, %1, is using the device on %2; nothing was done")
                .arg(holder, options.port));
        LogFile::Stop(true);
        return result;
    }
    {
        MainWindow window(nullptr);
        if (options.headless()) {
            CommandLineRun run(&window, options);
            result = QApplication::exec();
            if (!run.ended())
                result = run.Interrupted();
            failed = result != CommandLine::Updated && result != CommandLine::Offered;
        } else {
            window.show();
            result = QApplication::exec();
            failed = UpdateEvents::instance()->anyFailure();
        }
    }
    LogFile::Stop(failed);
    return result;
}
