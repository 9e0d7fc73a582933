#include "device/deviceidentity.h"

#include "app/logging.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <mutex>
#include <utility>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

namespace {
// The shared folder for locks where the system offers one to every user,
// and the one every system has.
const char kRunLock[] = "/run/lock";
const char kTmp[] = "/tmp";
const QString kLockPrefix = QStringLiteral("tembra-update-tool-device-");
// Hex digits of a key's digest in a lock's name.
const int kLockDigits = 20;
// What a lock file says of its holder: "4242 tembra-update-tool\n".
const int kHolderBytes = 256;
const char kRootVariable[] = "TEMBRA_TEST_IDENTITY_ROOT";

std::mutex folderMutex;
QString folderOverride;
// Lock files already said to be unusable (said once each).
QSet<QString> unusableSaid;

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

QString keyFile(const QString& key) {
    const QByteArray digest = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1);
    return QDir(Identity::Lock::Folder())
        .filePath(kLockPrefix + QString::fromLatin1(digest.toHex()).left(kLockDigits) +
                  QStringLiteral(".lock"));
}

#ifdef Q_OS_UNIX
// A folder every user may create files in, where none may remove another's.
bool sharedFolder(const char* path) {
    struct stat st {};
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_IWOTH) &&
           (st.st_mode & S_ISVTX);
}

// Opens the lock file at path for reading and writing, making it where it is
// missing so that every user can lock it too. An existing file is opened
// without O_CREAT: where the system protects files in sticky folders
// (fs.protected_regular), an O_CREAT open of another user's file is refused
// even when its mode allows it. Never follows a link and never blocks (a
// FIFO put there in its place). -1 with errno set when it cannot be had.
int openLockFile(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    const int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    for (int attempt = 0; attempt < 4; ++attempt) {
        int fd = ::open(name.constData(), flags);
        if (fd < 0 && errno == ENOENT) {
            fd = ::open(name.constData(), flags | O_CREAT | O_EXCL, 0666);
            if (fd < 0 && errno == EEXIST)
                continue; // made by another run meanwhile: opened as it is
            if (fd >= 0)
                ::fchmod(fd, 0666); // whatever this process's umask
        }
        if (fd < 0)
            return -1;
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            errno = EINVAL;
            return -1;
        }
        return fd;
    }
    errno = EAGAIN;
    return -1;
}

QString holderOf(int fd) {
    char text[kHolderBytes] = {};
    const ssize_t n = ::pread(fd, text, sizeof(text) - 1, 0);
    const QStringList words =
        QString::fromUtf8(text, n > 0 ? int(n) : 0).trimmed().split(QLatin1Char(' '));
    bool number = false;
    const qint64 pid = words.value(0).toLongLong(&number);
    if (!number)
        return QStringLiteral("a process that does not say which");
    QString holder = QStringLiteral("process %1").arg(pid);
    if (words.size() > 1 && !words.at(1).isEmpty())
        holder += QStringLiteral(" (%1)").arg(words.mid(1).join(QLatin1Char(' ')));
    return holder;
}

void sayHolder(int fd) {
    const QByteArray text = QByteArray::number(qint64(::getpid())) + ' ' +
                            QCoreApplication::applicationName().toUtf8().left(64) + '\n';
    if (::ftruncate(fd, 0) == 0) {
        const ssize_t written = ::pwrite(fd, text.constData(), size_t(text.size()), 0);
        (void)written;
    }
}
#endif

// Whether both have a serial number, and they differ.
bool serialsDiffer(const QString& known, bool isKnown, const QString& seen) {
    return isKnown && !known.isEmpty() && !seen.isEmpty() && known != seen;
}
} // namespace

IdentityRoots::IdentityRoots() {
    const QString root = qEnvironmentVariable(kRootVariable);
    if (root.isEmpty()) {
        sysDevChar = QStringLiteral("/sys/dev/char");
        byPath = QStringLiteral("/dev/serial/by-path");
        return;
    }
    sysDevChar = root + QStringLiteral("/sys/dev/char");
    byPath = root + QStringLiteral("/by-path");
}

bool DeviceIdentity::samePort(const DeviceIdentity& other) const {
    return !node.isEmpty() && node == other.node && usbDevice == other.usbDevice;
}

QString DeviceIdentity::describe() const {
    if (!isUsb())
        return node.isEmpty() ? QStringLiteral("%1 (not there)").arg(path)
                              : QStringLiteral("%1 (no USB device behind it)").arg(path);
    return QStringLiteral("USB %1:%2, serial %3, at %4 (%5), port %6")
        .arg(vendorId, productId, serial.isEmpty() ? QStringLiteral("none") : serial,
             byPath.isEmpty() ? QStringLiteral("no by-path link") : byPath, usbDevice, node);
}

void KnownDevice::learn(const DeviceIdentity& at, DeviceMode mode, const QString& number) {
    port = at;
    if (mode == DeviceMode::Firmware) {
        firmwareSerial = at.serial;
        firmwareSerialKnown = true;
        if (deviceNumber.isEmpty())
            deviceNumber = number;
    } else if (mode == DeviceMode::BootLoader && !bootSerialKnown) {
        bootSerial = at.serial;
        bootSerialKnown = true;
    }
}

QString KnownDevice::name() const {
    if (!deviceNumber.isEmpty())
        return QStringLiteral("D/N ") + deviceNumber;
    const QString serial = firmwareSerialKnown ? firmwareSerial : bootSerial;
    if (!serial.isEmpty())
        return QStringLiteral("serial ") + serial;
    return port.node.isEmpty() ? port.path : port.node;
}

namespace Identity {

Verdict Judge(const KnownDevice& known, const DeviceIdentity& port, DeviceMode mode,
              const QString& deviceNumber) {
    if (!known.isSet())
        return {};
    if (known.port.isUsb() != port.isUsb())
        return {false, port.isUsb() ? QStringLiteral("a USB device, where the device had none")
                                    : QStringLiteral("no USB device behind it")};
    if (port.isUsb()) {
        const bool samePlace = port.usbDevice == known.port.usbDevice;
        const auto hasSerial = [&port](const QString& serial, bool isKnown) {
            return isKnown && !port.serial.isEmpty() && port.serial == serial;
        };
        const bool firmwareSerial = hasSerial(known.firmwareSerial, known.firmwareSerialKnown);
        const bool bootSerial = hasSerial(known.bootSerial, known.bootSerialKnown);
        if (!samePlace && !firmwareSerial && !bootSerial)
            return {false, QStringLiteral("another place on the bus, and not its serial number")};
        switch (mode) {
        case DeviceMode::Unknown:
            break;
        case DeviceMode::Firmware:
            if (serialsDiffer(known.firmwareSerial, known.firmwareSerialKnown, port.serial))
                return {false, QStringLiteral("its firmware's serial number is %1, not %2")
                                   .arg(port.serial, known.firmwareSerial)};
            if (!samePlace && !firmwareSerial)
                return {false, QStringLiteral("another place on the bus, and its firmware's serial "
                                              "number is not the device's")};
            break;
        case DeviceMode::BootLoader:
            if (serialsDiffer(known.bootSerial, known.bootSerialKnown, port.serial))
                return {false, QStringLiteral("its boot loader's serial number is %1, not %2")
                                   .arg(port.serial, known.bootSerial)};
            // A boot loader's strings are its own: only where its serial was
            // seen before does it prove anything away from the device's place.
            if (!samePlace && !bootSerial)
                return {false, QStringLiteral("a boot loader at another place on the bus, without "
                                              "the serial number the device's had")};
            break;
        }
    }
    if (mode == DeviceMode::Firmware && !known.deviceNumber.isEmpty() &&
        deviceNumber != known.deviceNumber)
        return {false, QStringLiteral("D/N %1, not %2").arg(deviceNumber, known.deviceNumber)};
    return {};
}

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

QString Lock::Folder() {
    {
        std::lock_guard<std::mutex> lock(folderMutex);
        if (!folderOverride.isEmpty())
            return folderOverride;
    }
#ifdef Q_OS_UNIX
    // The same for every user and for root: never the first one this
    // process happens to be able to write.
    return QString::fromLatin1(sharedFolder(kRunLock) ? kRunLock : kTmp);
#else
    return QDir::tempPath();
#endif
}

bool Lock::take(const DeviceIdentity& device, QString* holder) {
    QStringList keys;
    if (device.isUsb())
        keys << QStringLiteral("usb place ") + device.usbDevice;
    else if (!device.node.isEmpty())
        keys << QStringLiteral("port %1 %2").arg(device.node, device.nodeStamp);
    return takeKeys(keys, holder);
}

bool Lock::takeName(const QString& path, QString* holder) {
    if (path.isEmpty())
        return true;
    return takeKeys({QStringLiteral("name ") + QFileInfo(path).absoluteFilePath()}, holder);
}

bool Lock::takeKeys(const QStringList& keys, QString* holder) {
#ifdef Q_OS_UNIX
    // The new locks are taken before the old ones go: the device is never
    // without its lock while it changes its port.
    QHash<QString, int> taken;
    for (const QString& key : keys) {
        if (locks.contains(key))
            continue;
        const QString path = keyFile(key);
        const int fd = openLockFile(path);
        if (fd < 0) {
            const QString reason = QString::fromLocal8Bit(std::strerror(errno));
            std::lock_guard<std::mutex> lock(folderMutex);
            if (!unusableSaid.contains(path)) {
                unusableSaid.insert(path);
                qCWarning(lcDevice).noquote() << "the device lock" << path << "cannot be opened ("
                                              << reason << "): the run goes on without it";
            }
            continue;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            sayHolder(fd);
            taken.insert(key, fd);
            continue;
        }
        if (errno != EWOULDBLOCK) {
            qCWarning(lcDevice).noquote() << "the device lock" << path << "cannot be taken ("
                                          << std::strerror(errno) << "): the run goes on";
            ::close(fd);
            continue;
        }
        *holder = holderOf(fd);
        ::close(fd);
        // Refused: what was taken now goes, what was held before stays.
        for (const int other : std::as_const(taken))
            ::close(other);
        return false;
    }
    // Kept: those taken now and those held already for the same keys.
    for (const QString& key : keys) {
        if (locks.contains(key))
            taken.insert(key, locks.take(key));
    }
    release();
    locks = taken;
    return true;
#else
    Q_UNUSED(keys);
    Q_UNUSED(holder);
    return true;
#endif
}

void Lock::release() {
#ifdef Q_OS_UNIX
    for (const int fd : std::as_const(locks)) {
        // The holder is no longer named; closing lets the lock go.
        const int emptied = ::ftruncate(fd, 0);
        (void)emptied;
        ::close(fd);
    }
#endif
    locks.clear();
}

bool Lock::held() const {
    return !locks.isEmpty();
}

void Lock::SetFolder(const QString& folder) {
    std::lock_guard<std::mutex> lock(folderMutex);
    folderOverride = folder;
}

} // namespace Identity
