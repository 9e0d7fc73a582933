#pragma once

#include "app/state/usertext.h"

#include <QDateTime>
#include <QObject>
#include <QString>

// The run's events: what the update flow decided, where it decided it, as
// typed signals. The window's pages, the command line and the log all follow
// this one object, so none of them reads another one's widgets. It also keeps
// the little the followers need to know of the run as a whole: its phase,
// the version before the update and the version offered. GUI thread only.
class UpdateEvents : public QObject {
    Q_OBJECT
public:
    // Where the update stands. Idle: no update under way.
    enum class Phase {
        Idle,
        Checking,    // the version check is asked
        Downloading, // the firmware file is fetched
        Switching,   // the device is told to restart into its boot loader
        Transferring,
        Verifying,  // the device checks what it received
        Restarting, // the device restarts into its new firmware
        Recovering, // the device went away or stopped answering mid-update
    };
    Q_ENUM(Phase)

    // What a failed run failed at; the command line's exit code follows it.
    enum class Failure { Port, Service, Download, Device };
    Q_ENUM(Failure)

    // Where a lost device was: still being identified, before it was told
    // to switch to its boot loader (nothing was sent to it), or after.
    enum class Loss { Identification, BeforeSwitch, DuringUpdate };
    Q_ENUM(Loss)

    // The one instance of the process.
    static UpdateEvents* instance();

    Phase phase() const { return currentPhase; }
    void setPhase(Phase phase);
    // The device is in its boot loader, or may be: closing the tool now
    // leaves it there until it is updated.
    bool deviceMidUpdate() const;
    // The device was told to switch to its boot loader, or found there, and
    // has not answered in its firmware since.
    bool deviceSwitched() const { return switched; }

    // An update was started by the user (or the command line) on a device
    // that reported version; "" when it began in the boot loader.
    void updateStarted(const QString& version);
    QString versionBefore() const { return before; }
    QString offeredVersion() const { return offered; }
    // What the offered release brings, as the service says it (plain text).
    QString offeredNotes() const { return notes; }
    // This attempt installs a file the user chose, not the service's.
    bool firmwareWasChosen() const { return chosen; }
    // Where the firmware being downloaded comes from (the service's URL).
    QString firmwareSource() const { return source; }
    void setFirmwareSource(const QString& url) { source = url; }
    // A press came to nothing to install: text says what it came to.
    void nothingToInstall(const UserText& text);
    // The identified device's firmware version: "1.3.0" and "V1.3.0" are one.
    static bool SameVersion(const QString& a, const QString& b);

    // Each of these emits its signal and writes one log line.
    // Returns whether this identification ends an update.
    bool deviceIdentified(const QString& version, const QString& firmware,
                          const QString& deviceNumber, const QString& port);
    void bootLoaderFound(const QString& model, const QString& port);
    void serviceAnswered(const QString& offeredVersion, bool updateNeeded,
                         const QString& notes = QString());
    // A file the user chose is installed: its path, size, SHA-256 and checksum.
    void firmwareChosen(const QString& path, qint64 bytes, const QString& sha256, int checksum);
    // text and advice: what failed and the way on, in the user's language and
    // in English (the signals carry the English text).
    void serviceFailed(const QString& what, const UserText& text, const UserText& advice);
    void downloadKept(qint64 bytes, const QString& sha256);
    void checksumConfirmed();
    void deviceRestarting();
    // A page's status label got a text; repeated texts are said once.
    void statusText(const QString& text);
    void runFailed(Failure kind, const UserText& text, const UserText& advice = UserText());
    // The last failure of the run: what failed, the way on, and when.
    UserText lastFailure() const { return failure; }
    UserText lastAdvice() const { return advice; }
    QDateTime lastFailureTime() const { return failedAt; }
    void portOpened(const QString& port);
    void portUnavailable(const QString& port, const QString& reason);
    void deviceLost(const QString& port, const QString& reason, Loss loss);
    // A unit other than the run's device is on port: other and own name
    // each ("D/N …"), why it is not the device.
    void anotherDevice(const QString& port, const QString& other, const QString& own,
                       const QString& why);
    void deviceNotAnswering(const QString& port);
    // Another run of the tool (holder: which process) holds the device on port.
    void deviceInUse(const QString& port, const QString& holder);

    // Whether any run of this process failed (its log is then kept longer).
    bool anyFailure() const { return failedOnce; }
    // Back to the state of a new process (tests).
    void reset();

signals:
    // The device answered the identification; afterUpdate when this is the
    // identification that follows a confirmed restart.
    void DeviceIdentified(const QString& version, const QString& firmware,
                          const QString& deviceNumber, const QString& port, bool afterUpdate);
    // A device in its boot loader, of a model the tool updates.
    void BootLoaderFound(const QString& model, const QString& port);
    void UpdateStarted(const QString& versionBefore);
    void ServiceAnswered(const QString& offeredVersion, bool updateNeeded, const QString& notes);
    void FirmwareChosen(const QString& path, qint64 bytes, const QString& sha256, int checksum);
    // The version check failed: what failed, and the text the page shows.
    void ServiceFailed(const QString& what, const QString& text);
    void DownloadProgress(qint64 bytes, qint64 total);
    // The download was checked and kept: its size and SHA-256 (hex).
    void DownloadKept(qint64 bytes, const QString& sha256);
    // Bytes of the image the device acknowledged, of total; every update.
    void TransferProgress(qint64 bytes, qint64 total);
    void ChecksumConfirmed();
    void DeviceRestarting();
    void StatusText(const QString& text);
    void RunFailed(UpdateEvents::Failure kind, const QString& text);
    void PhaseChanged(UpdateEvents::Phase phase);
    void PortOpened(const QString& port);
    // The device's port is listed but cannot be opened, with the reason.
    void PortUnavailable(const QString& port, const QString& reason);
    // The device's line went away (the run looks for it again).
    void DeviceLost(const QString& port, const QString& reason, UpdateEvents::Loss loss);
    void AnotherDevice(const QString& port, const QString& other, const QString& own);
    // The port opened, but the device does not answer the identification.
    void DeviceNotAnswering(const QString& port);
    void DeviceInUse(const QString& port, const QString& holder);
    void NothingToInstall(const QString& text);

private:
    UpdateEvents();

    Phase currentPhase = Phase::Idle;
    bool switched = false;
    QString before;
    QString offered;
    QString notes;
    bool chosen = false;
    QString source;
    QString lastStatus;
    bool failedOnce = false;
    UserText failure;
    UserText advice;
    QDateTime failedAt;
};
