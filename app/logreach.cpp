#include "app/logreach.h"

#include "app/logging.h"
#include "app/sleepinhibitor.h"
#include "app/state/state.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMetaObject>
#include <QPointer>
#include <QStringList>
#include <QUrl>
#include <memory>
#include <mutex>
#include <thread>

namespace {
// How long the session bus and the file manager are given.
const int kProbeMs = 2000;
const int kCallMs = 3000;
const char kConnectionName[] = "tembra-file-manager";

QString sessionBus() {
    const QString given = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (!given.isEmpty())
        return given;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus")))
        return QStringLiteral("unix:path=") + runtime + QStringLiteral("/bus");
    return QString();
}

// The file manager's own way to show a file in its folder, selected.
bool askFileManager(const QString& address, const QString& path, QString* why) {
    if (address.isEmpty()) {
        *why = QStringLiteral("no session bus");
        return false;
    }
    if (!SleepInhibitor::Answers(address, kProbeMs, why))
        return false;
    QDBusConnection bus =
        QDBusConnection::connectToBus(address, QString::fromLatin1(kConnectionName));
    if (!bus.isConnected()) {
        *why = bus.lastError().message();
        return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    const QDBusMessage reply = bus.call(call, QDBus::Block, kCallMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        *why = reply.errorMessage();
        return false;
    }
    return true;
}

// Where the thread leaves the fallback: the receiver, while it exists.
struct Mailbox {
    std::mutex mutex;
    QPointer<QObject> to;
    bool open = true;
};
} // namespace

namespace LogReach {

void ShowInFolder(QObject* receiver, const QString& path) {
    const QString folder = QFileInfo(path).absolutePath();
    auto box = std::make_shared<Mailbox>();
    box->to = receiver;
    QObject::connect(receiver, &QObject::destroyed, [box] {
        std::lock_guard<std::mutex> lock(box->mutex);
        box->open = false;
    });
    const QString address = sessionBus();
    std::thread([box, address, path, folder] {
        QString why;
        if (askFileManager(address, path, &why)) {
            qCInfo(lcApp).noquote() << "the log is shown in the file manager:" << path;
            return;
        }
        std::lock_guard<std::mutex> lock(box->mutex);
        if (!box->open)
            return;
        QMetaObject::invokeMethod(
            box->to.data(),
            [folder, why] {
                qCInfo(lcApp).noquote() << "the log's folder is opened (" + why + "):" << folder;
                QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
            },
            Qt::QueuedConnection);
    }).detach();
}

QString Details(const QString& logPath, const QString& device, const QString& failure) {
    QStringList lines = {QStringLiteral("Tembra Update Tool ") + Globals::Version};
    lines << QStringLiteral("Log: ") +
                 (logPath.isEmpty() ? QStringLiteral("(none: it could not be written)") : logPath);
    if (!device.isEmpty())
        lines << QStringLiteral("Device: ") + device;
    if (!failure.isEmpty())
        lines << QStringLiteral("Last failure: ") + failure;
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace LogReach
