#pragma once

#include "app/state/updateevents.h"

#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

// Keeps the computer awake while a device is mid-update: from the switch to
// its boot loader until it is identified again, and on every way out let go
// (success, failure, a signal, the window closed). It holds logind's
// inhibitor lock for sleep and idle on the system bus, and in the window
// also the desktop portal's, where a portal runs. The buses are reached off
// the GUI thread, each within a few seconds; where neither can be asked, or
// one does not answer, the log says so once and the update goes on.
class SleepInhibitor : public QObject {
    Q_OBJECT
public:
    // window: the desktop portal is asked too.
    explicit SleepInhibitor(bool window, QObject* parent = nullptr);
    ~SleepInhibitor() override;

    // Whether a lock is held now.
    bool held() const;

    // Whether a D-Bus server answers at address (a D-Bus address such as
    // "unix:path=/run/dbus/system_bus_socket") within timeoutMs: its first
    // unix socket is connected and its authentication answered. Addresses
    // of other transports are not tried (true). Why says what failed.
    static bool Answers(const QString& address, int timeoutMs, QString* why);

private:
    enum class Bus { System, Session };
    enum class State { Unknown, Connecting, Ready, Missing };
    struct Mailbox;

    void onPhase(UpdateEvents::Phase phase);
    void acquire();
    void release();
    void missing(const QString& what);
    // Connects to both buses off the GUI thread, once.
    void connectBuses();
    void onConnected(Bus bus, bool ok, const QString& why);
    void askLogind();
    void askPortal();

    bool window;
    // Wanted now; a lock granted after it is no longer wanted, or for an
    // earlier request (generation), is let go at once.
    bool wanted = false;
    int generation = 0;
    bool saidMissing = false;
    State system = State::Unknown;
    State session = State::Unknown;
    QTimer connectLimit;
    std::shared_ptr<Mailbox> mailbox;
    QDBusUnixFileDescriptor logindLock;
    QString portalRequest;
};
