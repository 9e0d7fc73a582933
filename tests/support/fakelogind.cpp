// A stand-in for logind on a private bus, for the tests: it answers
// org.freedesktop.login1.Manager.Inhibit with one end of a pipe, as logind
// answers with its lock's descriptor, and says on standard output when a
// lock is asked for ("inhibit WHAT MODE") and when its holder let it go
// ("released": the holder closed its end). It owns the name on the bus that
// DBUS_SESSION_BUS_ADDRESS names; a tool pointed there as its system bus
// (DBUS_SYSTEM_BUS_ADDRESS) asks it.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QSocketNotifier>
#include <cstdio>
#include <unistd.h>

class Manager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public slots:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why,
                                    const QString& mode) {
        Q_UNUSED(who);
        Q_UNUSED(why);
        std::printf("inhibit %s %s\n", qPrintable(what), qPrintable(mode));
        std::fflush(stdout);
        int ends[2];
        if (::pipe(ends) != 0)
            return QDBusUnixFileDescriptor();
        // The caller gets a copy of the writing end; this one closes, so the
        // reading end sees the end of the file once the caller closes its copy.
        const QDBusUnixFileDescriptor lock(ends[1]);
        ::close(ends[1]);
        auto* watch = new QSocketNotifier(ends[0], QSocketNotifier::Read, this);
        connect(watch, &QSocketNotifier::activated, this, [watch, ends] {
            char byte;
            if (::read(ends[0], &byte, 1) > 0)
                return;
            watch->setEnabled(false);
            ::close(ends[0]);
            std::printf("released\n");
            std::fflush(stdout);
        });
        return lock;
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    Manager manager;
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/login1"), &manager,
                            QDBusConnection::ExportAllSlots) ||
        !bus.registerService(QStringLiteral("org.freedesktop.login1"))) {
        std::fprintf(stderr, "cannot own org.freedesktop.login1 on %s\n",
                     qPrintable(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS")));
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}

#include "fakelogind.moc"
