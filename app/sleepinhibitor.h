#pragma once

#include "app/state/updateevents.h"

#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>

// Keeps the computer awake while a device is mid-update: from the switch to
// its boot loader until it is identified again, and on every way out let go
// (success, failure, a signal, the window closed). It holds logind's
// inhibitor lock for sleep and idle on the system bus, and in the window
// also the desktop portal's, where a portal runs. Where neither can be
// asked, the log says so once and the update goes on.
class SleepInhibitor : public QObject {
    Q_OBJECT
public:
    // window: the desktop portal is asked too.
    explicit SleepInhibitor(bool window, QObject* parent = nullptr);
    ~SleepInhibitor() override;

    // Whether a lock is held now.
    bool held() const;

private:
    void onPhase(UpdateEvents::Phase phase);
    void acquire();
    void release();
    void missing(const QString& what);

    bool window;
    // Wanted now; a lock granted after it is no longer wanted is let go at once.
    bool wanted = false;
    bool saidMissing = false;
    int asked = 0;
    QDBusUnixFileDescriptor logindLock;
    QString portalRequest;
};
