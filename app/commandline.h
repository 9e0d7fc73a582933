#pragma once

#include "app/state/updateevents.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>
#include <cstdio>
#include <functional>

class QDateTime;

class MainWindow;

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
    SomeDevicesFailed = 9, // several devices: at least one of them failed
    Interrupted = 130,     // stopped by SIGINT, SIGTERM or SIGHUP before the end
};

struct Options {
    bool check = false;
    bool update = false;
    bool json = false;
    bool verbose = false;
    bool force = false;
    // The first port given; every port given with --port, made absolute.
    QString port;
    QStringList ports;
    // Every device port the search finds at the start.
    bool all = false;
    QString expectSha256;
    // A firmware file to install instead of the service's (made absolute).
    QString firmware;
    QString serviceUrl;
    QString dataDir;
    int timeoutSeconds = 600;
    // --history: the update history read back, the newest historyLimit
    // records, as a table, as JSON events or as CSV; of one device when
    // device (a serial number or a device number) is given.
    bool history = false;
    int historyLimit = 50;
    bool csv = false;
    QString device;
    // Whether the run needs no window: --check or --update.
    bool headless() const { return check || update; }
    // Whether several devices are run, one child run each.
    bool desk() const { return all || ports.size() > 1; }
};

// Parses the arguments (argv as given, program name first). Prints the help,
// the version or the error itself and returns the exit code to end with;
// -1 when the tool is to run.
int Parse(const QStringList& arguments, Options* options);

// Installs what the options replace before the window exists: the port, the
// service's URL and the data folder.
void Apply(const Options& options);

// Prints the update history as options ask (--history); the exit code.
int PrintHistory(const Options& options);

// Writes text to a stream at once; false when it cannot be written.
bool Print(FILE* stream, const QString& text);

// One event as a line of text, for a person: "device: version 1.2.7, ...".
QString Describe(const QString& event, const QVariantMap& fields);
// A time as ISO 8601 with milliseconds and its offset from UTC
// (2026-12-08T22:18:17.254+00:00).
QString IsoTime(const QDateTime& time);

// Ends a run that cannot start (a firmware file that cannot be firmware)
// before anything is sent to a device: says so as the run would (an error
// event, in JSON or in text), logs it, and returns code.
int FailBeforeStart(const Options& options, int code, const QString& text);

} // namespace CommandLine

// Text lines for a person, in the order of their times: a count that runs
// on (a status that changes only in its numbers, the progress of one phase)
// is printed at most once a second for each source, and always its last,
// before whatever comes after it. JSON keeps every event; this is text only.
class CountedLines : public QObject {
    Q_OBJECT
public:
    using Writer = std::function<void(const QString& source, const QString& event,
                                      const QVariantMap& fields, const QDateTime& time)>;
    explicit CountedLines(Writer writer, QObject* parent = nullptr);

    void add(const QString& source, const QString& event, const QVariantMap& fields,
             const QDateTime& time);
    // Every line held back, in the order of their times.
    void flush();
    // Forgets what is held (nobody reads any more).
    void drop();
    // The same line but for its numbers, for a count; "" for any other line.
    static QString Shape(const QString& event, const QVariantMap& fields);

private:
    struct Held {
        QString source;
        QString event;
        QVariantMap fields;
        QDateTime time;
    };
    // Prints the lines whose second is over, and every line older than them.
    void printDue();
    void print(const QList<QString>& keys);

    Writer writer;
    // By source and shape: the line held back, and when one was printed.
    QHash<QString, Held> held;
    QHash<QString, QElapsedTimer> printedAt;
    QTimer timer;
};

// Drives one --check or --update run through the window's own flow and
// reports it. It follows the run's events (UpdateEvents) alone: it reads no
// widget and starts the update as the button does.
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
    void onIdentified(const QString& version, const QString& firmware, const QString& deviceNumber,
                      const QString& port, bool afterUpdate);
    void onBootLoader(const QString& model, const QString& port);
    void onAnswer(const QString& offeredVersion, bool updateNeeded, const QString& notes);
    void onProgress(const QString& phase, qint64 bytes, qint64 total);
    void onFailed(UpdateEvents::Failure kind, const QString& text);
    void onPortUnavailable(const QString& port, const QString& reason);
    void onTimeout();
    // (Re)starts the wait for a lost device, for what is left of its bound.
    void waitForTheDevice();
    void finish(int code, const QString& outcome);
    void emitEvent(const QString& event, const QVariantMap& fields);
    void writeEvent(const QString& event, const QVariantMap& fields, const QDateTime& time);
    void start();
    QString where() const;

    MainWindow* window;
    CommandLine::Options options;
    QTimer limit;
    // Ends the run when the port stays unopenable.
    QTimer cannotOpen;
    // Ends the run when a device lost mid-update does not come back, or an
    // opened device does not answer its identification.
    QTimer notBack;
    QTimer notAnswering;
    QString cannotOpenText;
    // Where the device was lost, since when, and another unit seen in its place.
    UpdateEvents::Loss lostAt = UpdateEvents::Loss::DuringUpdate;
    QElapsedTimer lostFor;
    QString otherUnit;
    QString ownUnit;
    // The run ended with nothing to install.
    bool upToDate = false;
    bool started = false;
    bool bootLoader = false;
    bool portOpened = false;
    bool finished = false;
    // Standard output cannot be written any more.
    bool outputClosed = false;
    QString versionBefore;
    QString offered;
    QString lastStatus;
    // The last progress reported per phase, and the total it was out of.
    QHash<QString, QPair<qint64, qint64>> lastProgress;
    // The lines of text mode, counts held back.
    CountedLines lines;
};
