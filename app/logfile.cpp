#include "app/logfile.h"

#include "app/globals.h"
#include "app/logging.h"
#include "util/utility.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSysInfo>
#include <cstdio>
#include <mutex>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace LogFile {
namespace {
const QString kPrefix = QStringLiteral("tembra-update-tool-");
const QString kSuffix = QStringLiteral(".log");
const QString kNameTime = QStringLiteral("yyyyMMdd-HHmmss-zzz");
const QString kLineTime = QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz");
const QByteArray kEndedWell = "outcome: ok";
const QByteArray kEndedBadly = "outcome: failed";
// How many runs starting in the same millisecond get files of their own.
const int kMaxNameClashes = 100;
// Room for the line that says the limit was reached.
const qint64 kLimitLineRoom = 160;
// How much of a file's end is read to learn how its run ended.
const qint64 kTailBytes = 512;
const QFileDevice::Permissions kFolderMode =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
const QFileDevice::Permissions kFileMode = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

std::mutex mutex;
QFile* file = nullptr;
qint64 written = 0;
qint64 maxBytes = MaxBytes;
bool full = false;
QtMessageHandler previous = nullptr;
QtMsgType standardErrorLevel = QtDebugMsg;

const char* levelName(QtMsgType type) {
    switch (type) {
    case QtDebugMsg:
        return "debug";
    case QtInfoMsg:
        return "info";
    case QtWarningMsg:
        return "warning";
    case QtCriticalMsg:
        return "critical";
    case QtFatalMsg:
        return "fatal";
    }
    return "";
}

// Severity, least first (QtInfoMsg's value is above QtFatalMsg's).
int severity(QtMsgType type) {
    switch (type) {
    case QtDebugMsg:
        return 0;
    case QtInfoMsg:
        return 1;
    case QtWarningMsg:
        return 2;
    case QtCriticalMsg:
        return 3;
    case QtFatalMsg:
        return 4;
    }
    return 0;
}

QString stamped(const QString& text) {
    return QDateTime::currentDateTime().toString(kLineTime) + QLatin1Char(' ') + text;
}

// Called with the mutex held. Flushed line by line: the file is complete up
// to a crash. The line that would pass the limit is replaced by one saying
// that the limit was reached, and nothing is written after it.
void writeLine(const QString& text) {
    if (!file || full)
        return;
    QByteArray bytes = text.toUtf8() + '\n';
    // Room is kept for the line that says the limit was reached.
    if (written + bytes.size() + kLimitLineRoom > maxBytes) {
        full = true;
        bytes = stamped(QStringLiteral("tembra.log warning: the log file reached its limit of %1 "
                                       "bytes; nothing more is written to it"))
                    .arg(maxBytes)
                    .toUtf8() +
                '\n';
    }
    written += file->write(bytes);
    file->flush();
}

void handler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        const QString category =
            context.category ? QString::fromLatin1(context.category) : QStringLiteral("default");
        writeLine(stamped(
            QStringLiteral("%1 %2: %3").arg(category, QLatin1String(levelName(type)), message)));
    }
    if (previous && severity(type) >= severity(standardErrorLevel))
        previous(type, context, message);
}

#ifdef Q_OS_UNIX
// Whether another run holds the file: each run holds a shared lock on its
// own log for as long as it writes it.
bool inUse(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool busy = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return busy;
}
void holdOpen(QFile* f) {
    ::flock(f->handle(), LOCK_SH | LOCK_NB);
}
#else
bool inUse(const QString&) {
    return false;
}
void holdOpen(QFile*) {}
#endif

// Whether the file's run said, in its last line, that it ended well.
bool endedWell(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    if (f.size() > kTailBytes)
        f.seek(f.size() - kTailBytes);
    return f.readAll().contains(kEndedWell);
}

// Keeps the newest keep files (this run's among them) and every file of a
// failed run younger than KeepFailedDays; never removes a file in use.
void prune(const QDir& dir, int keep, const QString& current) {
    const QFileInfoList files =
        dir.entryInfoList({kPrefix + QLatin1Char('*') + kSuffix}, QDir::Files, QDir::Time);
    const QDateTime failedSince = QDateTime::currentDateTime().addDays(-KeepFailedDays);
    int kept = 1; // this run's
    for (const QFileInfo& info : files) {
        const QString path = info.absoluteFilePath();
        if (path == current || inUse(path))
            continue;
        if (kept < keep) {
            ++kept;
            continue;
        }
        if (info.lastModified() >= failedSince && !endedWell(path))
            continue;
        QFile::remove(path);
    }
}

} // namespace

QString Start(const QString& folder, const QStringList& header, int keep) {
    Stop(false);
    QDir dir(folder);
    const QString stem = QDir(dir.absolutePath())
                             .filePath(kPrefix + QDateTime::currentDateTime().toString(kNameTime));
    QString path = stem + kSuffix;
    auto* opened = new QFile(path);
    QString reason;
    if (!dir.mkpath(QStringLiteral(".")) ||
        !QFile::setPermissions(dir.absolutePath(), kFolderMode)) {
        reason = QStringLiteral("its folder cannot be made");
    } else {
        // A file of its own, never one of another run that started in the
        // same millisecond: a name taken gets a counter.
        for (int n = 2; !opened->open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Text);
             ++n) {
            if (!opened->exists() || n > kMaxNameClashes) {
                reason = opened->errorString();
                break;
            }
            path = stem + QLatin1Char('-') + QString::number(n) + kSuffix;
            opened->setFileName(path);
        }
        if (reason.isEmpty() && !opened->setPermissions(kFileMode))
            reason = opened->errorString();
    }
    if (!reason.isEmpty()) {
        std::fprintf(stderr,
                     "The log file %s cannot be written (%s); logging to standard error only.\n",
                     qPrintable(path), qPrintable(reason));
        delete opened;
        return QString();
    }
    holdOpen(opened);
    {
        std::lock_guard<std::mutex> lock(mutex);
        file = opened;
        written = 0;
        full = false;
        for (const QString& line : header)
            writeLine(line);
    }
    prune(dir, keep, path);
    previous = qInstallMessageHandler(nullptr);
    qInstallMessageHandler(handler);
    return path;
}

void Stop(bool failed) {
    if (!file)
        return;
    // Packets the wire lines still hold back belong before the outcome.
    Wire::Flush();
    qInstallMessageHandler(previous);
    previous = nullptr;
    std::lock_guard<std::mutex> lock(mutex);
    writeLine(stamped(QString::fromLatin1(failed ? kEndedBadly : kEndedWell)));
    delete file;
    file = nullptr;
}

QString Path() {
    std::lock_guard<std::mutex> lock(mutex);
    return file ? file->fileName() : QString();
}

void SetStandardErrorLevel(QtMsgType least) {
    standardErrorLevel = least;
}

void SetMaxBytes(qint64 bytes) {
    maxBytes = bytes > 0 ? bytes : MaxBytes;
}

QStringList Header(const QString& dataFolder, const QStringList& arguments) {
    QStringList command;
    for (const QString& argument : arguments)
        command << Utility::ShellQuoted(argument);
    return {
        QStringLiteral("Tembra Update Tool %1").arg(Globals::Version),
        QStringLiteral("commit: %1")
            .arg(QStringLiteral(TEMBRA_COMMIT).isEmpty() ? QStringLiteral("unknown")
                                                         : QStringLiteral(TEMBRA_COMMIT)),
        QStringLiteral("system: %1, kernel %2 %3")
            .arg(QSysInfo::prettyProductName(), QSysInfo::kernelType(), QSysInfo::kernelVersion()),
        QStringLiteral("Qt: %1 at run time, %2 at build time")
            .arg(QLatin1String(qVersion()), QLatin1String(QT_VERSION_STR)),
        QStringLiteral("platform: %1")
            .arg(QGuiApplication::platformName().isEmpty()
                     ? QStringLiteral("none (no window: one run of the tool per device)")
                     : QGuiApplication::platformName()),
        QStringLiteral("settings and firmware: %1").arg(dataFolder),
        QStringLiteral("command line: %1").arg(command.join(QLatin1Char(' '))),
        QStringLiteral("log form: %1").arg(Wire::FormVersion),
    };
}

} // namespace LogFile
