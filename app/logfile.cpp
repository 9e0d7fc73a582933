#include "app/logfile.h"

#include "app/globals.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QSysInfo>
#include <cstdio>
#include <mutex>

namespace LogFile {
namespace {
const QString kPrefix = QStringLiteral("tembra-update-tool-");
const QString kSuffix = QStringLiteral(".log");
const QString kNameTime = QStringLiteral("yyyyMMdd-HHmmss-zzz");
const QString kLineTime = QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz");

std::mutex mutex;
QFile* file = nullptr;
QtMessageHandler previous = nullptr;

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

void writeLine(const QString& text) {
    // Flushed line by line: the file is complete up to a crash.
    file->write(text.toUtf8() + '\n');
    file->flush();
}

void handler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (file) {
            const QString category = context.category ? QString::fromLatin1(context.category)
                                                       : QStringLiteral("default");
            writeLine(QStringLiteral("%1 %2 %3: %4")
                          .arg(QDateTime::currentDateTime().toString(kLineTime), category,
                               QLatin1String(levelName(type)), message));
        }
    }
    if (previous)
        previous(type, context, message);
}

// Removes all but the newest keep log files; the names sort by start time.
void prune(QDir dir, int keep) {
    QStringList names =
        dir.entryList({kPrefix + QLatin1Char('*') + kSuffix}, QDir::Files, QDir::Name);
    while (names.size() > keep)
        dir.remove(names.takeFirst());
}
} // namespace

QString Start(const QString& folder, const QStringList& header, int keep) {
    Stop();
    QDir dir(folder);
    const QString path =
        dir.filePath(kPrefix + QDateTime::currentDateTime().toString(kNameTime) + kSuffix);
    auto* opened = new QFile(path);
    QString reason;
    if (!dir.mkpath(QStringLiteral(".")))
        reason = QStringLiteral("its folder cannot be made");
    else if (!opened->open(QIODevice::Append | QIODevice::Text))
        reason = opened->errorString();
    if (!reason.isEmpty()) {
        std::fprintf(stderr, "The log file %s cannot be written (%s); logging to standard error only.\n",
                     qPrintable(path), qPrintable(reason));
        delete opened;
        return QString();
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        file = opened;
        for (const QString& line : header)
            writeLine(line);
    }
    prune(dir, keep);
    previous = qInstallMessageHandler(nullptr);
    qInstallMessageHandler(handler);
    return path;
}

void Stop() {
    if (!file)
        return;
    qInstallMessageHandler(previous);
    previous = nullptr;
    std::lock_guard<std::mutex> lock(mutex);
    delete file;
    file = nullptr;
}

QString Path() {
    std::lock_guard<std::mutex> lock(mutex);
    return file ? file->fileName() : QString();
}

QStringList Header(const QString& dataFolder) {
    return {
        QStringLiteral("Tembra Update Tool %1").arg(Globals::Version),
        QStringLiteral("commit: %1").arg(QStringLiteral(TEMBRA_COMMIT).isEmpty()
                                             ? QStringLiteral("unknown")
                                             : QStringLiteral(TEMBRA_COMMIT)),
        QStringLiteral("system: %1, kernel %2 %3")
            .arg(QSysInfo::prettyProductName(), QSysInfo::kernelType(), QSysInfo::kernelVersion()),
        QStringLiteral("Qt: %1 at run time, %2 at build time")
            .arg(QLatin1String(qVersion()), QLatin1String(QT_VERSION_STR)),
        QStringLiteral("platform: %1").arg(QGuiApplication::platformName()),
        QStringLiteral("settings and firmware: %1").arg(dataFolder),
    };
}

} // namespace LogFile
