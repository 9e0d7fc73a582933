#include "app/state/history.h"

#include "app/state/state.h"
#include "app/state/updateevents.h"
#include "util/utility.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QStringList>
#include <QThread>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

Q_LOGGING_CATEGORY(lcHistory, "tembra.history")

namespace {
const char kFolder[] = "tembra-update-tool";
const char kFile[] = "history.jsonl";
const char kKept[] = "history.jsonl.1";
const char kLockFile[] = "history.lock";
// How long a run waits for another run's write to end.
const int kLockWaitMs = 3000;
const int kLockPollMs = 10;

QString isoTime(const QDateTime& time) {
    return time.isValid() ? time.toUTC()
                                .toString(Qt::ISODateWithMs)
                                .replace(QLatin1Char('Z'), QStringLiteral("+00:00"))
                          : QString();
}

QString folder() {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state)) {
        const QString home = qEnvironmentVariable("HOME");
        if (home.isEmpty())
            return QString();
        state = home + QStringLiteral("/.local/state");
    }
    return state + QLatin1Char('/') + QLatin1String(kFolder);
}

QJsonValue textOrNull(const QString& text) {
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

// A value as a cell of CSV: quoted where RFC 4180 asks it, and given as
// text (behind an apostrophe) where a spreadsheet would read a formula.
QString csvCell(QString value) {
    bool quote = value.contains(QLatin1Char(',')) || value.contains(QLatin1Char('"')) ||
                 value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r'));
    if (!value.isEmpty() && QStringLiteral("=+-@\t\r").contains(value.at(0))) {
        value.prepend(QLatin1Char('\''));
        quote = true;
    }
    if (!quote)
        return value;
    return QLatin1Char('"') + value.replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
           QLatin1Char('"');
}

QString versions(const History::Record& record) {
    const QString before =
        record.bootLoaderBefore ? QStringLiteral("boot loader") : record.versionBefore;
    if (record.versionAfter == before)
        return before.isEmpty() ? QStringLiteral("-") : before;
    // Switched and not seen again: its version after is not known.
    if (record.versionAfter.isEmpty())
        return before.isEmpty() ? QStringLiteral("-") : before + QStringLiteral(" -> ?");
    return (before.isEmpty() ? QStringLiteral("?") : before) + QStringLiteral(" -> ") +
           record.versionAfter;
}
} // namespace

namespace History {

QJsonObject Record::toJson() const {
    return QJsonObject{
        {QStringLiteral("started"), isoTime(started)},
        {QStringLiteral("ended"), isoTime(ended)},
        {QStringLiteral("toolVersion"), toolVersion},
        {QStringLiteral("device"),
         QJsonObject{{QStringLiteral("serial"), textOrNull(serial)},
                     {QStringLiteral("deviceNumber"), textOrNull(deviceNumber)},
                     {QStringLiteral("place"), textOrNull(place)},
                     {QStringLiteral("byPath"), textOrNull(byPath)}}},
        {QStringLiteral("versionBefore"),
         bootLoaderBefore ? QJsonValue(QJsonValue::Null) : textOrNull(versionBefore)},
        {QStringLiteral("versionAfter"), textOrNull(versionAfter)},
        {QStringLiteral("firmware"),
         QJsonObject{{QStringLiteral("source"), textOrNull(source)},
                     {QStringLiteral("bytes"),
                      bytes < 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(double(bytes))},
                     {QStringLiteral("sha256"), textOrNull(sha256)}}},
        {QStringLiteral("result"), result},
        {QStringLiteral("exitCode"), exitCode},
        {QStringLiteral("reason"), reason},
        {QStringLiteral("log"), textOrNull(log)}};
}

bool Record::FromJson(const QJsonObject& object, Record* record) {
    const QJsonValue device = object.value(QStringLiteral("device"));
    const QJsonValue firmware = object.value(QStringLiteral("firmware"));
    if (!object.value(QStringLiteral("ended")).isString() ||
        !object.value(QStringLiteral("result")).isString() || !device.isObject() ||
        !firmware.isObject())
        return false;
    Record r;
    r.started = QDateTime::fromString(object.value(QStringLiteral("started")).toString(),
                                      Qt::ISODateWithMs);
    r.ended =
        QDateTime::fromString(object.value(QStringLiteral("ended")).toString(), Qt::ISODateWithMs);
    if (!r.ended.isValid())
        return false;
    r.toolVersion = object.value(QStringLiteral("toolVersion")).toString();
    const QJsonObject d = device.toObject();
    r.serial = d.value(QStringLiteral("serial")).toString();
    r.deviceNumber = d.value(QStringLiteral("deviceNumber")).toString();
    r.place = d.value(QStringLiteral("place")).toString();
    r.byPath = d.value(QStringLiteral("byPath")).toString();
    r.bootLoaderBefore = object.value(QStringLiteral("versionBefore")).isNull();
    r.versionBefore = object.value(QStringLiteral("versionBefore")).toString();
    r.versionAfter = object.value(QStringLiteral("versionAfter")).toString();
    const QJsonObject f = firmware.toObject();
    r.source = f.value(QStringLiteral("source")).toString();
    r.bytes = f.value(QStringLiteral("bytes")).isDouble()
                  ? qint64(f.value(QStringLiteral("bytes")).toDouble())
                  : -1;
    r.sha256 = f.value(QStringLiteral("sha256")).toString();
    r.result = object.value(QStringLiteral("result")).toString();
    r.exitCode = object.value(QStringLiteral("exitCode")).toInt(-1);
    r.reason = object.value(QStringLiteral("reason")).toString();
    r.log = object.value(QStringLiteral("log")).toString();
    *record = r;
    return true;
}

bool Record::isOf(const QString& serialOrNumber) const {
    return !serialOrNumber.isEmpty() &&
           (serialOrNumber == serial || serialOrNumber == deviceNumber);
}

QString Path() {
    const QString where = folder();
    return where.isEmpty() ? QString() : where + QLatin1Char('/') + QLatin1String(kFile);
}

bool Append(const Record& record) {
    const QString where = folder();
    if (where.isEmpty()) {
        qCWarning(lcHistory).noquote() << "the update history cannot be kept: no home folder";
        return false;
    }
    const QByteArray line =
        QJsonDocument(record.toJson()).toJson(QJsonDocument::Compact) + QByteArray("\n");
#ifdef Q_OS_UNIX
    const auto fail = [&where](const QString& what) {
        qCWarning(lcHistory).noquote() << "the update history in" << where
                                       << "cannot be written (" + what + "): the run goes on";
        return false;
    };
    // The user's own, as the log is.
    const bool made = !QFileInfo::exists(where);
    if (!QDir().mkpath(where))
        return fail(QStringLiteral("its folder cannot be made"));
    if (made)
        ::chmod(QFile::encodeName(where).constData(), 0700);
    const QByteArray lockName =
        QFile::encodeName(where + QLatin1Char('/') + QLatin1String(kLockFile));
    const int lock = ::open(lockName.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock < 0)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    // One writer at a time: the runs of a desk append at once.
    QElapsedTimer waited;
    waited.start();
    while (::flock(lock, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK || waited.elapsed() > kLockWaitMs) {
            ::close(lock);
            return fail(QStringLiteral("its lock was not had within %1 s").arg(kLockWaitMs / 1000));
        }
        QThread::msleep(kLockPollMs);
    }
    const QByteArray name = QFile::encodeName(where + QLatin1Char('/') + QLatin1String(kFile));
    struct stat st {};
    if (::stat(name.constData(), &st) == 0 && st.st_size + line.size() > MaxBytes) {
        // The file before is kept beside it; the one before that goes.
        const QByteArray kept = QFile::encodeName(where + QLatin1Char('/') + QLatin1String(kKept));
        if (::rename(name.constData(), kept.constData()) != 0)
            qCWarning(lcHistory).noquote()
                << "the update history could not be set aside:" << std::strerror(errno);
    }
    const int fd =
        ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    bool written = false;
    QString why;
    if (fd >= 0) {
        written = ::write(fd, line.constData(), size_t(line.size())) == line.size();
        if (!written)
            why = QString::fromLocal8Bit(std::strerror(errno));
        written = ::close(fd) == 0 && written;
    } else {
        why = QString::fromLocal8Bit(std::strerror(errno));
    }
    ::close(lock);
    if (!written)
        return fail(why.isEmpty() ? QStringLiteral("it could not be written whole") : why);
    qCInfo(lcHistory).noquote() << "the update history has the run's record:" << record.result;
    return true;
#else
    Q_UNUSED(line);
    return false;
#endif
}

QList<Record> Read(int* skipped) {
    QList<Record> records;
    int bad = 0;
    const QString where = folder();
    for (const char* name : {kKept, kFile}) {
        QFile file(where + QLatin1Char('/') + QLatin1String(name));
        if (where.isEmpty() || !file.open(QIODevice::ReadOnly))
            continue;
        int number = 0;
        for (const QByteArray& line : file.read(MaxBytes * 2).split('\n')) {
            ++number;
            if (line.trimmed().isEmpty())
                continue;
            Record record;
            const QJsonDocument doc = QJsonDocument::fromJson(line);
            if (!doc.isObject() || !Record::FromJson(doc.object(), &record)) {
                ++bad;
                qCWarning(lcHistory).noquote()
                    << "line" << number << "of" << file.fileName()
                    << "is not a record of the update history: it is skipped";
                continue;
            }
            records << record;
        }
    }
    if (skipped)
        *skipped = bad;
    return records;
}

QString Table(const QList<Record>& records) {
    const QStringList headings = {QStringLiteral("ended"),         QStringLiteral("serial"),
                                  QStringLiteral("device number"), QStringLiteral("version"),
                                  QStringLiteral("result"),        QStringLiteral("exit"),
                                  QStringLiteral("firmware"),      QStringLiteral("reason")};
    QList<QStringList> rows = {headings};
    for (const Record& r : records) {
        const QString firmware =
            r.source.startsWith(QLatin1Char('/')) ? QFileInfo(r.source).fileName() : r.source;
        rows << QStringList{r.ended.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                            r.serial.isEmpty() ? QStringLiteral("-") : r.serial,
                            r.deviceNumber.isEmpty() ? QStringLiteral("-") : r.deviceNumber,
                            versions(r),
                            r.result,
                            QString::number(r.exitCode),
                            firmware.isEmpty() ? QStringLiteral("-") : firmware,
                            r.result == QLatin1String("updated") ? QString() : r.reason};
    }
    for (QStringList& row : rows)
        for (QString& cell : row)
            cell = Utility::Displayable(cell);
    QString out;
    for (const QString& line : Utility::Columns(rows))
        out += line + QLatin1Char('\n');
    return out;
}

QString Csv(const QList<Record>& records) {
    const QStringList headings = {QStringLiteral("started"),       QStringLiteral("ended"),
                                  QStringLiteral("toolVersion"),   QStringLiteral("serial"),
                                  QStringLiteral("deviceNumber"),  QStringLiteral("place"),
                                  QStringLiteral("byPath"),        QStringLiteral("versionBefore"),
                                  QStringLiteral("versionAfter"),  QStringLiteral("firmwareSource"),
                                  QStringLiteral("firmwareBytes"), QStringLiteral("firmwareSha256"),
                                  QStringLiteral("result"),        QStringLiteral("exitCode"),
                                  QStringLiteral("reason"),        QStringLiteral("log")};
    QString out = headings.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    for (const Record& r : records) {
        const QStringList values = {isoTime(r.started),
                                    isoTime(r.ended),
                                    r.toolVersion,
                                    r.serial,
                                    r.deviceNumber,
                                    r.place,
                                    r.byPath,
                                    r.bootLoaderBefore ? QString() : r.versionBefore,
                                    r.versionAfter,
                                    r.source,
                                    r.bytes < 0 ? QString() : QString::number(r.bytes),
                                    r.sha256,
                                    r.result,
                                    QString::number(r.exitCode),
                                    r.reason,
                                    r.log};
        QStringList cells;
        for (const QString& value : values)
            cells << csvCell(value);
        out += cells.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return out;
}

} // namespace History

HistoryRecorder::HistoryRecorder(QObject* parent) : QObject(parent) {
    UpdateEvents* events = UpdateEvents::instance();
    connect(events, &UpdateEvents::UpdateStarted, this, [this](const QString& before) {
        if (!open)
            begin();
        if (record.versionBefore.isEmpty() && !record.bootLoaderBefore)
            record.versionBefore = before;
    });
    connect(events, &UpdateEvents::DeviceIdentified, this,
            [this](const QString& version, const QString&, const QString& number, const QString&,
                   bool afterUpdate) {
                if (!open)
                    return;
                if (record.deviceNumber.isEmpty())
                    record.deviceNumber = number;
                if (!afterUpdate && record.versionBefore.isEmpty() && !record.bootLoaderBefore)
                    record.versionBefore = version;
                record.versionAfter = version;
            });
    connect(events, &UpdateEvents::PhaseChanged, this, [this](UpdateEvents::Phase phase) {
        if (phase != UpdateEvents::Phase::Switching && phase != UpdateEvents::Phase::Transferring)
            return;
        // Switched, the device no longer runs the firmware it was found with:
        // its version after is known only once it is identified again.
        if (open) {
            record.versionAfter.clear();
            return;
        }
        // A run that failed and then goes on sending (its device back) is a run of its own.
        begin();
        record.versionBefore = UpdateEvents::instance()->versionBefore();
    });
    connect(events, &UpdateEvents::BootLoaderFound, this, [this] {
        if (open && record.versionBefore.isEmpty())
            record.bootLoaderBefore = true;
    });
    connect(events, &UpdateEvents::DownloadKept, this, [this](qint64 bytes, const QString& sha) {
        record.bytes = bytes;
        record.sha256 = sha;
        record.source = UpdateEvents::instance()->firmwareSource();
    });
    connect(events, &UpdateEvents::FirmwareChosen, this,
            [this](const QString& path, qint64 bytes, const QString& sha) {
                record.bytes = bytes;
                record.sha256 = sha;
                record.source = path;
            });
}

HistoryRecorder::~HistoryRecorder() = default;

void HistoryRecorder::begin() {
    const History::Record device = record;
    record = History::Record();
    // The device is the same one until it is said to be another.
    record.serial = device.serial;
    record.place = device.place;
    record.byPath = device.byPath;
    record.started = QDateTime::currentDateTime();
    record.toolVersion = Globals::Version;
    open = true;
}

void HistoryRecorder::noteDevice(const QString& serial, const QString& place,
                                 const QString& byPath) {
    record.serial = serial;
    record.place = place;
    record.byPath = byPath;
}

void HistoryRecorder::end(const QString& result, int exitCode, const QString& reason,
                          const QString& log) {
    if (!open)
        return;
    open = false;
    // A run that never met a device has nothing to say of one.
    if (record.serial.isEmpty() && record.place.isEmpty() && record.deviceNumber.isEmpty() &&
        !record.bootLoaderBefore && record.versionAfter.isEmpty())
        return;
    record.ended = QDateTime::currentDateTime();
    record.result = result;
    record.exitCode = exitCode;
    record.reason = reason;
    record.log = log;
    History::Append(record);
}
