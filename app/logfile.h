#pragma once

#include <QString>
#include <QStringList>

// The log file of a run: every line of the debug log, all categories, with a
// time stamp to the millisecond, in a file of its own that a user can send to
// support. Standard error keeps printing as before.
namespace LogFile {

// How many log files are kept: the newest, this run's among them.
constexpr int KeepFiles = 10;

// Starts writing to a new file in folder (created when needed), named by the
// start time, beginning with the header lines, and removes all but the newest
// keep files there. Returns the file's path; "" when it cannot be written,
// which is said once on standard error while the tool goes on.
QString Start(const QString& folder, const QStringList& header, int keep = KeepFiles);

// Stops writing to the file; the debug log goes to standard error alone.
void Stop();

// The file being written; "" when none is.
QString Path();

// The header of this run: version, commit, system, toolkit, platform and data folder.
QStringList Header(const QString& dataFolder);

} // namespace LogFile
