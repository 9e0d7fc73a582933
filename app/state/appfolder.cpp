#include "app/state/appfolder.h"

#include <QDir>
#include <QTemporaryFile>

namespace AppFolder {

bool IsWritable(const QString& folder) {
    if (folder.isEmpty() || !QDir(folder).exists())
        return false;
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".write-test-XXXXXX")));
    return probe.open();
}

QString Choose(const QString& programFolder, const QString& installedFolder,
               const QString& userFolder) {
    const bool installed = !installedFolder.isEmpty() &&
                           QDir::cleanPath(programFolder) == QDir::cleanPath(installedFolder);
    if ((!installed && IsWritable(programFolder)) || userFolder.isEmpty())
        return programFolder;
    QDir().mkpath(userFolder);
    return userFolder;
}

} // namespace AppFolder
