#include "app/sleepinhibitor.h"

#include "app/logging.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPointer>
#include <QUrl>
#include <QVariantMap>
#include <mutex>
#include <thread>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace {
const char kWho[] = "Tembra Update Tool";
const char kWhy[] = "A device is being updated: sleep or a locked session would interrupt it";
// How long logind or the portal is given to answer a request.
const int kAnswerMs = 5000;
// How long a bus is given to be reached at all, and its server to answer
// the first words of its protocol.
const int kConnectMs = 4000;
const int kProbeMs = 3000;
// The portal's flags: suspending and idling.
const uint kPortalSuspend = 4;
const uint kPortalIdle = 8;
const char kSystemName[] = "tembra-system-bus";
const char kSessionName[] = "tembra-session-bus";
const char kDefaultSystemBus[] = "unix:path=/run/dbus/system_bus_socket";

// The address of a bus as the environment gives it; "" for a session bus
// that is not there (none is started for this tool).
QString busAddress(bool system) {
    const QString given =
        qEnvironmentVariable(system ? "DBUS_SYSTEM_BUS_ADDRESS" : "DBUS_SESSION_BUS_ADDRESS");
    if (!given.isEmpty())
        return given;
    if (system)
        return QString::fromLatin1(kDefaultSystemBus);
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus")))
        return QStringLiteral("unix:path=") + runtime + QStringLiteral("/bus");
    return QString();
}

// A value of a D-Bus address, its %XX escapes read.
QByteArray unescaped(const QString& value) {
    return QUrl::fromPercentEncoding(value.toLatin1()).toLocal8Bit();
}
} // namespace

// Where a connecting thread leaves its result: the inhibitor, while it exists.
struct SleepInhibitor::Mailbox {
    std::mutex mutex;
    QPointer<SleepInhibitor> to;
    bool open = true;
};

bool SleepInhibitor::Answers(const QString& address, int timeoutMs, QString* why) {
#ifdef Q_OS_UNIX
    for (const QString& entry : address.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const int colon = entry.indexOf(QLatin1Char(':'));
        if (entry.left(colon) != QLatin1String("unix"))
            continue;
        QByteArray path;
        bool abstract = false;
        for (const QString& pair : entry.mid(colon + 1).split(QLatin1Char(','))) {
            if (pair.startsWith(QLatin1String("path=")))
                path = unescaped(pair.mid(5));
            else if (pair.startsWith(QLatin1String("abstract="))) {
                path = unescaped(pair.mid(9));
                abstract = true;
            }
        }
        sockaddr_un where{};
        if (path.isEmpty() || size_t(path.size()) >= sizeof(where.sun_path) - 1)
            continue;
        where.sun_family = AF_UNIX;
        std::memcpy(where.sun_path + (abstract ? 1 : 0), path.constData(), size_t(path.size()));
        const socklen_t length =
            socklen_t(offsetof(sockaddr_un, sun_path) + size_t(path.size()) + (abstract ? 1 : 0));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) {
            *why = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        QElapsedTimer clock;
        clock.start();
        const auto waitFor = [&](short events) {
            pollfd p{fd, events, 0};
            const int left = int(qMax<qint64>(0, timeoutMs - clock.elapsed()));
            return ::poll(&p, 1, left) == 1 && (p.revents & events);
        };
        bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&where), length) == 0 ||
                  (errno == EINPROGRESS || errno == EAGAIN ? waitFor(POLLOUT) : false);
        if (!ok) {
            *why = QString::fromLocal8Bit(std::strerror(errno));
            ::close(fd);
            return false;
        }
        // The first words of its protocol: a server that answers them is there.
        const QByteArray hello = QByteArray(1, '\0') + "AUTH EXTERNAL " +
                                 QByteArray::number(qulonglong(::getuid())).toHex() + "\r\n";
        ok = ::send(fd, hello.constData(), size_t(hello.size()), MSG_NOSIGNAL) == hello.size();
        QByteArray answer;
        while (ok && !answer.contains('\n') && waitFor(POLLIN)) {
            char buffer[256];
            const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
            if (n <= 0)
                break;
            answer.append(buffer, int(n));
        }
        ::close(fd);
        if (!answer.contains('\n')) {
            *why = ok && clock.elapsed() >= timeoutMs
                       ? QStringLiteral("no answer within %1 s").arg(timeoutMs / 1000.0)
                       : QStringLiteral("the connection was closed");
            return false;
        }
        return true;
    }
#else
    Q_UNUSED(address);
    Q_UNUSED(timeoutMs);
    Q_UNUSED(why);
#endif
    return true;
}

SleepInhibitor::SleepInhibitor(bool window, QObject* parent)
    : QObject(parent), window(window), mailbox(std::make_shared<Mailbox>()) {
    mailbox->to = this;
    UpdateEvents* events = UpdateEvents::instance();
    connect(events, &UpdateEvents::PhaseChanged, this, &SleepInhibitor::onPhase);
    // Identified again, or failed: awake no longer needed (an update that
    // goes on asks anew when it sends to the device again).
    connect(events, &UpdateEvents::DeviceIdentified, this, &SleepInhibitor::release);
    connect(events, &UpdateEvents::RunFailed, this, &SleepInhibitor::release);
    connectLimit.setSingleShot(true);
    connect(&connectLimit, &QTimer::timeout, this, [this] {
        if (system == State::Connecting)
            onConnected(Bus::System, false,
                        QStringLiteral("it did not answer within %1 s").arg(kConnectMs / 1000.0));
        if (session == State::Connecting)
            onConnected(Bus::Session, false, QStringLiteral("no answer"));
    });
}

SleepInhibitor::~SleepInhibitor() {
    {
        std::lock_guard<std::mutex> lock(mailbox->mutex);
        mailbox->open = false;
    }
    release();
}

bool SleepInhibitor::held() const {
    return logindLock.isValid() || !portalRequest.isEmpty();
}

void SleepInhibitor::onPhase(UpdateEvents::Phase phase) {
    switch (phase) {
    case UpdateEvents::Phase::Switching:
    case UpdateEvents::Phase::Transferring:
    case UpdateEvents::Phase::Verifying:
    case UpdateEvents::Phase::Restarting:
        acquire();
        return;
    case UpdateEvents::Phase::Idle:
        release();
        return;
    default:
        return; // checking, downloading, recovering: as it was
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
    ++generation;
    if (system == State::Unknown) {
        connectBuses();
        return;
    }
    if (system == State::Ready)
        askLogind();
    if (session == State::Ready)
        askPortal();
}

void SleepInhibitor::connectBuses() {
    struct Wanted {
        Bus bus;
        QString address;
        const char* name;
    };
    QList<Wanted> buses = {{Bus::System, busAddress(true), kSystemName}};
    system = State::Connecting;
    session = State::Missing;
    if (window) {
        const QString address = busAddress(false);
        if (!address.isEmpty()) {
            buses << Wanted{Bus::Session, address, kSessionName};
            session = State::Connecting;
        }
    }
    for (const Wanted& wanted : buses) {
        // Off the GUI thread: reaching a bus that accepts and never answers
        // would block the thread that asks for as long as libdbus waits.
        std::thread([box = mailbox, wanted] {
            QString why;
            bool ok = Answers(wanted.address, kProbeMs, &why);
            if (ok) {
                const QDBusConnection bus =
                    QDBusConnection::connectToBus(wanted.address, QString::fromLatin1(wanted.name));
                ok = bus.isConnected();
                if (!ok)
                    why = bus.lastError().message();
            }
            std::lock_guard<std::mutex> lock(box->mutex);
            if (!box->open || !box->to)
                return;
            QMetaObject::invokeMethod(
                box->to.data(),
                [to = box->to, bus = wanted.bus, ok, why] {
                    if (to)
                        to->onConnected(bus, ok, why);
                },
                Qt::QueuedConnection);
        }).detach();
    }
    connectLimit.start(kConnectMs);
}

void SleepInhibitor::onConnected(Bus bus, bool ok, const QString& why) {
    State& state = bus == Bus::System ? system : session;
    // Late: the bus was given up on already.
    if (state != State::Connecting)
        return;
    if (!ok) {
        state = State::Missing;
        // No portal is no news: logind's lock is the one.
        if (bus == Bus::System)
            missing(QStringLiteral("the system bus: ") + why);
        return;
    }
    if (bus == Bus::System &&
        !(QDBusConnection(QString::fromLatin1(kSystemName)).connectionCapabilities() &
          QDBusConnection::UnixFileDescriptorPassing)) {
        state = State::Missing;
        missing(QStringLiteral("the system bus passes no file descriptors"));
        return;
    }
    state = State::Ready;
    if (!wanted)
        return;
    if (bus == Bus::System)
        askLogind();
    else
        askPortal();
}

void SleepInhibitor::askLogind() {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:idle") << QString::fromLatin1(kWho) << QString::fromLatin1(kWhy)
         << QStringLiteral("block");
    const int asked = generation;
    auto* watcher = new QDBusPendingCallWatcher(
        QDBusConnection(QString::fromLatin1(kSystemName)).asyncCall(call, kAnswerMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, asked] {
        watcher->deleteLater();
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *watcher;
        if (reply.isError()) {
            missing(QStringLiteral("logind: ") + reply.error().message());
            return;
        }
        // Granted for a request let go since: its descriptor closes here.
        if (!wanted || asked != generation)
            return;
        logindLock = reply.value();
        qCInfo(lcApp).noquote() << "sleep and idle are inhibited while the device is updated";
    });
}

void SleepInhibitor::askPortal() {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"),
        QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Inhibit"), QStringLiteral("Inhibit"));
    call << QString() << (kPortalSuspend | kPortalIdle)
         << QVariantMap{{QStringLiteral("reason"), QString::fromLatin1(kWhy)}};
    const int asked = generation;
    auto* watcher = new QDBusPendingCallWatcher(
        QDBusConnection(QString::fromLatin1(kSessionName)).asyncCall(call, kAnswerMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, asked] {
        watcher->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *watcher;
        if (reply.isError())
            return; // no portal here: logind's lock is the one
        const QString request = reply.value().path();
        if (wanted && asked == generation) {
            portalRequest = request;
            return;
        }
        // Granted for a request let go since: closed at once.
        QDBusConnection(QString::fromLatin1(kSessionName))
            .asyncCall(QDBusMessage::createMethodCall(
                QStringLiteral("org.freedesktop.portal.Desktop"), request,
                QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Close")));
    });
}

void SleepInhibitor::release() {
    wanted = false;
    ++generation;
    if (logindLock.isValid()) {
        // Closing the descriptor lets logind's lock go.
        logindLock = QDBusUnixFileDescriptor();
        qCInfo(lcApp).noquote() << "sleep and idle are no longer inhibited";
    }
    if (!portalRequest.isEmpty()) {
        const QDBusMessage close = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.portal.Desktop"), portalRequest,
            QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Close"));
        QDBusConnection(QString::fromLatin1(kSessionName)).asyncCall(close);
        portalRequest.clear();
    }
}
