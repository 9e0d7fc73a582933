#include "app/sleepinhibitor.h"

#include "app/logging.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace {
const char kWho[] = "Tembra Update Tool";
const char kWhy[] = "A device is being updated: sleep or a locked session would interrupt it";
// How long logind or the portal is given to answer.
const int kAnswerMs = 5000;
// The portal's flags: suspending and idling.
const uint kPortalSuspend = 4;
const uint kPortalIdle = 8;
} // namespace

SleepInhibitor::SleepInhibitor(bool window, QObject* parent) : QObject(parent), window(window) {
    connect(UpdateEvents::instance(), &UpdateEvents::PhaseChanged, this, &SleepInhibitor::onPhase);
    // Identified again: awake no longer needed (an update that starts again
    // asks anew when it switches the device).
    connect(UpdateEvents::instance(), &UpdateEvents::DeviceIdentified, this,
            &SleepInhibitor::release);
}

SleepInhibitor::~SleepInhibitor() {
    release();
}

bool SleepInhibitor::held() const {
    return logindLock.isValid() || !portalRequest.isEmpty();
}

void SleepInhibitor::onPhase(UpdateEvents::Phase phase) {
    switch (phase) {
    case UpdateEvents::Phase::Switching:
        acquire();
        return;
    case UpdateEvents::Phase::Idle:
        release();
        return;
    default:
        return; // transferring, restarting, recovering: still mid-update
    }
}

void SleepInhibitor::missing(const QString& what) {
    if (saidMissing)
        return;
    saidMissing = true;
    qCInfo(lcApp).noquote() << "the computer cannot be kept awake during the update (" + what +
                                   "): the update goes on";
}

void SleepInhibitor::acquire() {
    if (wanted)
        return;
    wanted = true;
    asked = 0;
    const QDBusConnection system = QDBusConnection::systemBus();
    if (system.isConnected() &&
        (system.connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing)) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
        call << QStringLiteral("sleep:idle") << QString::fromLatin1(kWho)
             << QString::fromLatin1(kWhy) << QStringLiteral("block");
        ++asked;
        auto* watcher = new QDBusPendingCallWatcher(system.asyncCall(call, kAnswerMs), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
            watcher->deleteLater();
            const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *watcher;
            if (reply.isError()) {
                missing(QStringLiteral("logind: ") + reply.error().message());
                return;
            }
            // Granted after it was let go: the descriptor closes here.
            if (!wanted)
                return;
            logindLock = reply.value();
            qCInfo(lcApp).noquote() << "sleep and idle are inhibited while the device is updated";
        });
    }
    const QDBusConnection session = QDBusConnection::sessionBus();
    if (window && session.isConnected()) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.portal.Desktop"),
            QStringLiteral("/org/freedesktop/portal/desktop"),
            QStringLiteral("org.freedesktop.portal.Inhibit"), QStringLiteral("Inhibit"));
        call << QString() << (kPortalSuspend | kPortalIdle)
             << QVariantMap{{QStringLiteral("reason"), QString::fromLatin1(kWhy)}};
        ++asked;
        auto* watcher = new QDBusPendingCallWatcher(session.asyncCall(call, kAnswerMs), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
            watcher->deleteLater();
            const QDBusPendingReply<QDBusObjectPath> reply = *watcher;
            if (reply.isError())
                return; // no portal here: logind's lock is the one
            portalRequest = reply.value().path();
            if (!wanted)
                release();
        });
    }
    if (asked == 0)
        missing(QStringLiteral("no system bus"));
}

void SleepInhibitor::release() {
    wanted = false;
    if (logindLock.isValid()) {
        // Closing the descriptor lets logind's lock go.
        logindLock = QDBusUnixFileDescriptor();
        qCInfo(lcApp).noquote() << "sleep and idle are no longer inhibited";
    }
    if (!portalRequest.isEmpty()) {
        const QDBusMessage close = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.portal.Desktop"), portalRequest,
            QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Close"));
        QDBusConnection::sessionBus().asyncCall(close);
        portalRequest.clear();
    }
}
