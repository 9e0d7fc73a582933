#include "app/state/updateevents.h"

#include "app/state/state.h"

#include <QLoggingCategory>
#include <QMetaEnum>

Q_LOGGING_CATEGORY(lcRun, "tembra.run")

namespace {
QString phaseName(UpdateEvents::Phase phase) {
    return QString::fromLatin1(QMetaEnum::fromType<UpdateEvents::Phase>().valueToKey(int(phase)));
}

// "V1.3.0", " v1.3.0 " and "1.3.0" name the same version.
QString plainVersion(QString version) {
    version = version.trimmed();
    if (version.startsWith(QLatin1Char('v'), Qt::CaseInsensitive))
        version.remove(0, 1);
    return version;
}
} // namespace

UpdateEvents::UpdateEvents() {
    // Known by name too, for queued connections and signal spies.
    qRegisterMetaType<UpdateEvents::Phase>("UpdateEvents::Phase");
    qRegisterMetaType<UpdateEvents::Failure>("UpdateEvents::Failure");
    qRegisterMetaType<UpdateEvents::Loss>("UpdateEvents::Loss");
}

UpdateEvents* UpdateEvents::instance() {
    static UpdateEvents* events = new UpdateEvents();
    return events;
}

bool UpdateEvents::SameVersion(const QString& a, const QString& b) {
    const QString left = plainVersion(a);
    return !left.isEmpty() && left == plainVersion(b);
}

void UpdateEvents::setPhase(Phase phase) {
    if (phase == currentPhase)
        return;
    qCDebug(lcRun).noquote() << "update phase:" << phaseName(currentPhase) << "->"
                             << phaseName(phase);
    currentPhase = phase;
    if (phase == Phase::Switching)
        switched = true;
    emit PhaseChanged(phase);
}

bool UpdateEvents::deviceMidUpdate() const {
    switch (currentPhase) {
    case Phase::Switching:
    case Phase::Transferring:
    case Phase::Verifying:
        return true;
    case Phase::Recovering:
        // Lost before it was told to switch, it still runs its firmware.
        return switched;
    case Phase::Checking:
    case Phase::Downloading:
        return Globals::IsUpdateMode;
    case Phase::Idle:
    case Phase::Restarting:
        return false;
    }
    return false;
}

void UpdateEvents::updateStarted(const QString& version) {
    before = version;
    offered.clear();
    notes.clear();
    chosen = false;
    source.clear();
    qCInfo(lcRun).noquote() << "update started on a device with firmware"
                            << (version.isEmpty() ? QStringLiteral("(in its boot loader)")
                                                  : version);
    emit UpdateStarted(version);
}

bool UpdateEvents::deviceIdentified(const QString& version, const QString& firmware,
                                    const QString& deviceNumber, const QString& port) {
    // After a confirmed restart; or a device that went away mid-update and
    // came back already running the version it was sent.
    // (A chosen file's version is known only once the device runs it: one
    // the device did not run before.)
    const bool backUpdated =
        chosen ? !before.isEmpty() && !SameVersion(version, before) : SameVersion(version, offered);
    const bool afterUpdate =
        currentPhase == Phase::Restarting || (currentPhase == Phase::Recovering && backUpdated);
    switched = false;
    qCInfo(lcRun).noquote() << "device identified on" << port << ": version" << version
                            << "firmware" << firmware << "device number" << deviceNumber;
    if (afterUpdate) {
        qCInfo(lcRun).noquote() << QStringLiteral("update complete: %1 -> %2")
                                       .arg(before.isEmpty() ? QStringLiteral("?") : before,
                                            version);
        setPhase(Phase::Idle);
    }
    emit DeviceIdentified(version, firmware, deviceNumber, port, afterUpdate);
    return afterUpdate;
}

void UpdateEvents::bootLoaderFound(const QString& model, const QString& port) {
    switched = true;
    qCInfo(lcRun).noquote() << "device in its boot loader on" << port << ": model" << model;
    emit BootLoaderFound(model, port);
}

void UpdateEvents::serviceAnswered(const QString& offeredVersion, bool updateNeeded,
                                   const QString& releaseNotes) {
    offered = offeredVersion;
    notes = releaseNotes;
    qCInfo(lcRun).noquote() << "the update service offers" << offeredVersion
                            << (updateNeeded ? "(update needed)" : "(no update needed)");
    emit ServiceAnswered(offeredVersion, updateNeeded, releaseNotes);
}

void UpdateEvents::firmwareChosen(const QString& path, qint64 bytes, const QString& sha256,
                                  int checksum) {
    chosen = true;
    qCInfo(lcRun).noquote() << "installing the chosen file" << path << ":" << bytes
                            << "bytes, SHA-256" << sha256 << ", checksum" << checksum;
    emit FirmwareChosen(path, bytes, sha256, checksum);
}

void UpdateEvents::serviceFailed(const QString& what, const UserText& text,
                                 const UserText& advice) {
    emit ServiceFailed(what, text.english);
    runFailed(Failure::Service, text, advice);
}

void UpdateEvents::nothingToInstall(const UserText& text) {
    qCInfo(lcRun).noquote() << "nothing to install:" << text.english;
    emit NothingToInstall(text.english);
}

void UpdateEvents::downloadKept(qint64 bytes, const QString& sha256) {
    qCInfo(lcRun).noquote() << "firmware image kept:" << bytes << "bytes, SHA-256" << sha256;
    emit DownloadKept(bytes, sha256);
}

void UpdateEvents::checksumConfirmed() {
    qCInfo(lcRun).noquote() << "the device confirmed the firmware's checksum";
    emit ChecksumConfirmed();
}

void UpdateEvents::deviceRestarting() {
    qCInfo(lcRun).noquote() << "the device restarts into its new firmware";
    emit DeviceRestarting();
}

void UpdateEvents::statusText(const QString& text) {
    if (text == lastStatus)
        return;
    lastStatus = text;
    emit StatusText(text);
}

void UpdateEvents::runFailed(Failure kind, const UserText& text, const UserText& way) {
    failedOnce = true;
    failure = text;
    advice = way;
    failedAt = QDateTime::currentDateTime();
    qCWarning(lcRun).noquote() << "update failed ("
                               << QMetaEnum::fromType<Failure>().valueToKey(int(kind))
                               << "):" << text.english;
    emit RunFailed(kind, text.english);
}

void UpdateEvents::portOpened(const QString& port) {
    emit PortOpened(port);
}

void UpdateEvents::portUnavailable(const QString& port, const QString& reason) {
    emit PortUnavailable(port, reason);
}

void UpdateEvents::deviceLost(const QString& port, const QString& reason, Loss loss) {
    static const char* const stages[] = {"while it was identified", "before its update began",
                                         "during its update"};
    qCWarning(lcRun).noquote() << QStringLiteral("the device on %1 went %2 (%3): it is looked for")
                                      .arg(port, QLatin1String(stages[int(loss)]), reason);
    emit DeviceLost(port, reason, loss);
}

void UpdateEvents::anotherDevice(const QString& port, const QString& other, const QString& own,
                                 const QString& why) {
    qCWarning(lcRun).noquote()
        << QStringLiteral("another device is on %1: %2 (%3); this run's device, %4, is waited for")
               .arg(port, other, why, own);
    emit AnotherDevice(port, other, own);
}

void UpdateEvents::deviceNotAnswering(const QString& port) {
    qCWarning(lcRun).noquote() << "the device on" << port << "does not answer";
    emit DeviceNotAnswering(port);
}

void UpdateEvents::deviceInUse(const QString& port, const QString& holder) {
    qCWarning(lcRun).noquote() << "the device on" << port << "is held by another run of the tool,"
                               << holder;
    emit DeviceInUse(port, holder);
}

void UpdateEvents::reset() {
    currentPhase = Phase::Idle;
    switched = false;
    before.clear();
    offered.clear();
    notes.clear();
    chosen = false;
    lastStatus.clear();
    failedOnce = false;
    failure = UserText();
    advice = UserText();
    failedAt = QDateTime();
}
