#pragma once

#include <QString>

// Where the tool keeps its settings ("cfg") and the downloaded firmware.
namespace AppFolder {

// True when this process can create a file in folder (tried, not guessed from
// permission bits, which do not apply to every user alike).
bool IsWritable(const QString& folder);

// The program's own folder where this user can write there (a portable copy,
// run from where it was unpacked or built); otherwise the user's own data
// folder for the application, created when needed. The folder the tool is
// installed into counts as not writable, so an installed tool never writes
// beside its executable, not even when run by root. Without a user folder the
// program's folder is used all the same.
QString Choose(const QString& programFolder, const QString& installedFolder,
               const QString& userFolder);

} // namespace AppFolder
