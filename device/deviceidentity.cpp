#include "device/deviceidentity.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLockFile>
#include <mutex>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <sys/sysmacros.h>
#endif

namespace {
// Folders where every user's runs can keep a lock, in the order tried.
const char* const kLockFolders[] = {"/run/lock", "/var/lock", "/tmp"};
const QString kLockPrefix = QStringLiteral("tembra-update-tool-device-");
// Hex digits of a key's digest in a lock's name.
const int kLockDigits = 20;

std::mutex folderMutex;
QString folderOverride;

QString readAttribute(const QString& folder, const char* name) {
    QFile file(folder + QLatin1Char('/') + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.read(256)).trimmed();
}

// The USB device above a device's folder: the first folder up that has a
// vendor and a product id and a bus number (an interface has none of these).
QString usbDeviceOf(QString folder) {
    while (folder.size() > 1 && folder.startsWith(QLatin1Char('/'))) {
        if (QFileInfo::exists(folder + QStringLiteral("/idVendor")) &&
            QFileInfo::exists(folder + QStringLiteral("/idProduct")) &&
            QFileInfo::exists(folder + QStringLiteral("/busnum")))
            return folder;
        const int slash = folder.lastIndexOf(QLatin1Char('/'));
        if (slash <= 0)
            break;
        folder.truncate(slash);
    }
    return QString();
}

QString lockFolder() {
    {
        std::lock_guard<std::mutex> lock(folderMutex);
        if (!folderOverride.isEmpty())
            return folderOverride;
    }
    for (const char* candidate : kLockFolders) {
        const QFileInfo info(QString::fromLatin1(candidate));
        if (info.isDir() && info.isWritable())
            return info.absoluteFilePath();
    }
    return QDir::tempPath();
}

// The lock of one key, held, or nullptr with holder said when another
// process holds it.
QLockFile* lockFor(const QString& key, QString* holder, bool* refused) {
    const QByteArray digest = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1);
    const QString name = kLockPrefix + QString::fromLatin1(digest.toHex()).left(kLockDigits) +
                         QStringLiteral(".lock");
    auto* lock = new QLockFile(QDir(lockFolder()).filePath(name));
    // Held for a whole run: only a lock whose process has ended is stale.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0))
        return lock;
    if (lock->error() == QLockFile::LockFailedError) {
        qint64 pid = 0;
        QString host;
        QString application;
        lock->getLockInfo(&pid, &host, &application);
        *holder = QStringLiteral("process %1").arg(pid);
        if (!application.isEmpty())
            *holder += QStringLiteral(" (%1)").arg(application);
        *refused = true;
    }
    delete lock;
    return nullptr;
}
} // namespace

bool DeviceIdentity::sameDevice(const DeviceIdentity& other) const {
    if (isUsb() != other.isUsb())
        return false;
    if (!isUsb())
        return !node.isEmpty() || !other.node.isEmpty() ? node == other.node
                                                        : !path.isEmpty() && path == other.path;
    if (usbDevice == other.usbDevice)
        return true;
    return !serial.isEmpty() && serial == other.serial;
}

QString DeviceIdentity::describe() const {
    if (!isUsb())
        return node.isEmpty() ? QStringLiteral("%1 (not there)").arg(path)
                              : QStringLiteral("%1 (no USB device behind it)").arg(path);
    return QStringLiteral("USB %1:%2, serial %3, at %4 (%5), port %6")
        .arg(vendorId, productId, serial.isEmpty() ? QStringLiteral("none") : serial,
             byPath.isEmpty() ? QStringLiteral("no by-path link") : byPath, usbDevice, node);
}

namespace Identity {

DeviceIdentity Resolve(const QString& path, const IdentityRoots& roots) {
    DeviceIdentity identity;
    identity.path = path;
    identity.node = QFileInfo(path).canonicalFilePath();
    if (identity.node.isEmpty())
        return identity;
#ifdef Q_OS_UNIX
    struct stat st {};
    if (::stat(QFile::encodeName(identity.node).constData(), &st) != 0 || !S_ISCHR(st.st_mode))
        return identity;
    identity.nodeStamp = QStringLiteral("%1:%2 %3 %4.%5")
                             .arg(major(st.st_rdev))
                             .arg(minor(st.st_rdev))
                             .arg(quint64(st.st_ino))
                             .arg(qint64(st.st_ctim.tv_sec))
                             .arg(qint64(st.st_ctim.tv_nsec));
    const QString device = QFileInfo(QStringLiteral("%1/%2:%3")
                                         .arg(roots.sysDevChar)
                                         .arg(major(st.st_rdev))
                                         .arg(minor(st.st_rdev)))
                               .canonicalFilePath();
    if (device.isEmpty())
        return identity;
    identity.usbDevice = usbDeviceOf(device);
    if (!identity.isUsb())
        return identity;
    identity.serial = readAttribute(identity.usbDevice, "serial");
    identity.vendorId = readAttribute(identity.usbDevice, "idVendor");
    identity.productId = readAttribute(identity.usbDevice, "idProduct");
    const QDir links(roots.byPath);
    for (const QFileInfo& link :
         links.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        if (link.canonicalFilePath() == identity.node) {
            identity.byPath = link.absoluteFilePath();
            break;
        }
    }
#endif
    return identity;
}

Lock::Lock() = default;

Lock::~Lock() {
    release();
}

bool Lock::take(const DeviceIdentity& device, QString* holder) {
    // The new locks are taken before the old ones go: the device is never
    // without its lock while it changes its port.
    QStringList keys;
    if (device.isUsb()) {
        keys << QStringLiteral("usb place ") + device.usbDevice;
        // A boot loader may come with other ids, not with another serial number.
        if (!device.serial.isEmpty())
            keys << QStringLiteral("usb serial ") + device.serial;
    } else if (!device.node.isEmpty()) {
        keys << QStringLiteral("port %1 %2").arg(device.node, device.nodeStamp);
    }
    QList<QLockFile*> taken;
    bool refused = false;
    for (const QString& key : keys) {
        if (isHeld(key)) {
            taken << nullptr;
            continue;
        }
        QLockFile* lock = lockFor(key, holder, &refused);
        if (refused)
            break;
        taken << lock;
    }
    if (refused) {
        qDeleteAll(taken);
        return false;
    }
    // Kept: those taken now and those held already for the same keys.
    QHash<QString, QLockFile*> kept;
    for (int i = 0; i < taken.size(); ++i)
        kept.insert(keys.at(i), taken.at(i) ? taken.at(i) : locks.take(keys.at(i)));
    release();
    locks = kept;
    return true;
}

void Lock::release() {
    qDeleteAll(locks);
    locks.clear();
}

bool Lock::held() const {
    return !locks.isEmpty();
}

bool Lock::isHeld(const QString& key) const {
    return locks.value(key) != nullptr;
}

void Lock::SetFolder(const QString& folder) {
    std::lock_guard<std::mutex> lock(folderMutex);
    folderOverride = folder;
}

} // namespace Identity
