#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// The log file of a run: every line of the debug log, all categories, with a
// time stamp to the millisecond, in a file of its own that a user can send to
// support. Standard error prints the same lines, or only warnings and errors.
//
// The folder is the user's alone (0700) and so is each file (0600): they
// hold device numbers. A file holds at most MaxBytes; the line that reaches
// the limit says so and is its last. When the run ends, the last line says
// how ("outcome: ok" or "outcome: failed").
namespace LogFile {

// How many log files are kept besides those of failed runs: the newest, by
// the time they were last written.
constexpr int KeepFiles = 10;
// How long the log of a failed run (or of a run that never said how it
// ended) is kept, however many runs came after it.
constexpr int KeepFailedDays = 14;
// The largest a file may grow.
constexpr qint64 MaxBytes = 10 * 1024 * 1024;

// Starts writing to a new file in folder (created when needed), named by the
// start time, beginning with the header lines, and removes the files that
// are no longer kept there: never one that another run still writes. Returns
// the file's path; "" when it cannot be written, which is said once on
// standard error while the tool goes on.
QString Start(const QString& folder, const QStringList& header, int keep = KeepFiles);

// Stops writing to the file, after a last line with the outcome; the debug
// log goes to standard error alone.
void Stop(bool failed);

// The file being written; "" when none is.
QString Path();

// The least severe message that also goes to standard error (debug: all).
void SetStandardErrorLevel(QtMsgType least);

// The header of this run: version, commit, system, toolkit, platform, data
// folder and the command line.
QStringList Header(const QString& dataFolder, const QStringList& arguments);

// Sets the size limit (tests); 0 restores MaxBytes.
void SetMaxBytes(qint64 bytes);

} // namespace LogFile
