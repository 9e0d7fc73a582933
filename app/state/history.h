#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

// What was updated, and when: one record per device and run, appended when
// the run ends however it ends, to one file per user
// ($XDG_STATE_HOME/tembra-update-tool/history.jsonl, one JSON object a line),
// which --history reads back as a table, JSON or CSV, and the device page
// and a desk's summary consult.
namespace History {

struct Record {
    QDateTime started;
    QDateTime ended;
    QString toolVersion;
    // The device: its USB serial number, device number, place on the bus
    // and the by-path link of its port (each "" where unknown).
    QString serial;
    QString deviceNumber;
    QString place;
    QString byPath;
    // Before: "" with bootLoaderBefore for a device found in its boot loader.
    QString versionBefore;
    bool bootLoaderBefore = false;
    QString versionAfter;
    // The firmware: the service's URL or the chosen file's path, its size
    // (-1 unknown) and SHA-256.
    QString source;
    qint64 bytes = -1;
    QString sha256;
    // "updated", "up to date", "failed" or "interrupted", the exit code and
    // its reason, the run's log file.
    QString result;
    int exitCode = -1;
    QString reason;
    QString log;

    QJsonObject toJson() const;
    // false when the object is not a record of the history.
    static bool FromJson(const QJsonObject& object, Record* record);
    // Whether this record is of the device with this serial number or
    // device number (either may be given).
    bool isOf(const QString& serialOrNumber) const;
};

// The history's file; "" where no folder for it is known.
QString Path();

// Appends one record in one write under the file's lock, so that the runs
// of a desk never mix their lines; false (said in the log) when it cannot:
// a history that cannot be written never fails a run. The file holds about
// MaxBytes; the one before is kept beside it.
bool Append(const Record& record);
constexpr qint64 MaxBytes = 5 * 1024 * 1024;

// Every record that can be read, oldest first, from the file kept before
// and the file; a line that cannot be read is skipped (counted in skipped,
// and said in the log).
QList<Record> Read(int* skipped = nullptr);

// The records as a person reads them (a table, newest last), and as CSV for
// a spreadsheet (a header row, RFC 4180 quoting; a value that a spreadsheet
// would take for a formula is given as text).
QString Table(const QList<Record>& records);
QString Csv(const QList<Record>& records);

} // namespace History

// Gathers a run's record from its events (UpdateEvents) and appends it when
// the run ends: the command line ends it with its exit code, the window at
// each outcome of an update it started.
class HistoryRecorder : public QObject {
    Q_OBJECT
public:
    explicit HistoryRecorder(QObject* parent = nullptr);
    ~HistoryRecorder() override;

    // A run begins: what is known of it is forgotten.
    void begin();
    bool recording() const { return open; }
    // What the device says of itself beyond its events: its USB identity.
    void noteDevice(const QString& serial, const QString& place, const QString& byPath);
    // The run ends: its record is appended (once), and the recorder is idle.
    void end(const QString& result, int exitCode, const QString& reason, const QString& log);

private:
    bool open = false;
    History::Record record;
};
