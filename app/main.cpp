#include "app/commandline.h"
#include "app/logfile.h"
#include "app/mainwindow.h"
#include "app/quitonsignal.h"

#include <QApplication>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>
#include <cstdio>

namespace {
// Held while the tool runs: a second instance on the same data folder would
// fight over the port and over the settings and firmware files.
const char kLockName[] = "tembra-update-tool.lock";
} // namespace

int main(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    CommandLine::Options options;
    const int early = CommandLine::Parse(arguments, &options);
    if (early >= 0)
        return early;
    // Chosen before the application exists: no X11 or Wayland is needed.
    if (options.headless())
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    QuitOnTerminationSignals();
    CommandLine::Apply(options);
    const QString dataFolder = MainWindow::DataFolder();
    const QString logFolder =
        options.dataDir.isEmpty()
            ? QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)
            : dataFolder;
    LogFile::Start(QDir(logFolder).filePath(QStringLiteral("logs")),
                   LogFile::Header(dataFolder));

    QLockFile lock(QDir(dataFolder).filePath(QLatin1String(kLockName)));
    QDir().mkpath(dataFolder);
    // A folder this user cannot write holds no lock, and no files of the tool
    // either: only a lock held by another live instance stops this one.
    if (!lock.tryLock(0) && lock.error() == QLockFile::LockFailedError) {
        if (options.headless()) {
            std::fprintf(stderr, "Another instance of the tool is using %s; nothing was done.\n",
                         qPrintable(dataFolder));
            LogFile::Stop();
            return CommandLine::AlreadyRunning;
        }
        MainWindow::SetAlreadyRunning(true);
    }
    int result = 0;
    {
        MainWindow window(nullptr);
        if (options.headless()) {
            CommandLineRun run(&window, options);
            result = QApplication::exec();
            if (!run.ended())
                result = run.Interrupted();
        } else {
            window.show();
            result = QApplication::exec();
        }
    }
    LogFile::Stop();
    return result;
}
