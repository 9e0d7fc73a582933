#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

class MainWindow;
class XModemUpdate;

// The tool run from the command line (--check, --update) by a service desk or
// a script: the same window, pages and device conversation, driven without a
// display, reporting as text or as one JSON object per line, ending with a
// fixed exit code.
namespace CommandLine {

enum ExitCode : int {
    Updated = 0, // updated, or up to date with --check
    Offered = 10,
    BadArguments = 2,
    NoDeviceFound = 3,
    PortUnavailable = 4,
    ServiceFailure = 5,
    DownloadFailure = 6,
    DeviceSilent = 7,
    AlreadyRunning = 8,
};

struct Options {
    bool check = false;
    bool update = false;
    bool json = false;
    QString port;
    QString serviceUrl;
    QString dataDir;
    int timeoutSeconds = 600;
    // Whether the run needs no window: --check or --update.
    bool headless() const { return check || update; }
};

// Parses the arguments (argv as given, program name first). Prints the help,
// the version or the error itself and returns the exit code to end with;
// -1 when the tool is to run.
int Parse(const QStringList& arguments, Options* options);

// Installs what the options replace before the window exists: the port, the
// service's URL and the data folder.
void Apply(const Options& options);

} // namespace CommandLine

// Drives one --check or --update run through the window and reports it.
class CommandLineRun : public QObject {
    Q_OBJECT
public:
    CommandLineRun(MainWindow* window, const CommandLine::Options& options);

    // Reports an error and ends the run with code.
    void fail(int code, const QString& text);
    // Whether the run ended by itself, with its exit code.
    bool ended() const { return finished; }
    // Reports a run stopped from outside (a termination signal); its exit code.
    int Interrupted();

private:
    void onPage(QWidget* page);
    void onAnswer(bool updateNeeded);
    void poll();
    void onTimeout();
    void finish(int code);
    void emitEvent(const QString& event, const QVariantMap& fields, const QString& text);
    QString where() const;

    MainWindow* window;
    CommandLine::Options options;
    QTimer pollTimer;
    QTimer limit;
    QElapsedTimer cannotOpenSince;
    QPointer<XModemUpdate> download;
    bool identified = false;
    bool updating = false;
    bool finished = false;
    QString offered;
    QString lastStatus;
    QString lastProgress;
};
