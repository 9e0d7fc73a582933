#include "app/chosenfirmware.h"

#include "device/xmodemdal.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#endif

namespace {
const char* const kContext = "ChosenFirmware";
const char* const kCannotRead = QT_TRANSLATE_NOOP("ChosenFirmware", "%1 cannot be read: %2");
const char* const kMissing = QT_TRANSLATE_NOOP("ChosenFirmware", "%1 does not exist");
const char* const kLoop =
    QT_TRANSLATE_NOOP("ChosenFirmware", "%1 cannot be read: its symbolic links form a loop");
const char* const kFolder =
    QT_TRANSLATE_NOOP("ChosenFirmware", "%1 is a folder, not a firmware file");
const char* const kNotRegular =
    QT_TRANSLATE_NOOP("ChosenFirmware", "%1 is not a regular file (%2)");
const char* const kFifo = QT_TRANSLATE_NOOP("ChosenFirmware", "a FIFO");
const char* const kCharDevice = QT_TRANSLATE_NOOP("ChosenFirmware", "a character device");
const char* const kBlockDevice = QT_TRANSLATE_NOOP("ChosenFirmware", "a block device");
const char* const kSocket = QT_TRANSLATE_NOOP("ChosenFirmware", "a socket");
const char* const kMadeUp =
    QT_TRANSLATE_NOOP("ChosenFirmware", "a file the system makes up as it is read, in %1");
const char* const kEmpty = QT_TRANSLATE_NOOP("ChosenFirmware", "%1 is empty");
const char* const kTooLarge = QT_TRANSLATE_NOOP(
    "ChosenFirmware", "%1 has %2 bytes, more than a firmware file can have (%3 bytes)");
const char* const kOtherImage =
    QT_TRANSLATE_NOOP("ChosenFirmware", "%1 has the SHA-256 %2, not the expected %3");

#ifdef Q_OS_UNIX
// What a file that is not regular is.
UserText kindOf(mode_t mode) {
    if (S_ISFIFO(mode))
        return UserText::Of(kContext, kFifo);
    if (S_ISCHR(mode))
        return UserText::Of(kContext, kCharDevice);
    if (S_ISBLK(mode))
        return UserText::Of(kContext, kBlockDevice);
    return UserText::Of(kContext, kSocket);
}

// The file systems whose files the kernel makes up as they are read: their
// sizes mean nothing and some never end.
QString madeUpFileSystem(int fd) {
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0)
        return QString();
    switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x9fa0UL: // proc
        return QStringLiteral("/proc");
    case 0x62656572UL: // sysfs
        return QStringLiteral("/sys");
    case 0x64626720UL: // debugfs
    case 0x74726163UL: // tracefs
    case 0x73636673UL: // securityfs
    case 0x63677270UL: // cgroup2
    case 0x27e0ebUL:   // cgroup
    case 0x62656570UL: // configfs
        return QStringLiteral("/sys");
    default:
        return QString();
    }
}
#endif
} // namespace

bool ChosenFirmware::Load(const QString& chosen, const QString& expectedSha256,
                          ChosenFirmware* firmware, UserText* why) {
    const QString path = QFileInfo(chosen).absoluteFilePath();
    QFile file;
#ifdef Q_OS_UNIX
    // Looked at before it is opened, and opened so that the open cannot wait
    // (a FIFO with no writer, a terminal): only a regular file is firmware.
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            *why = UserText::Of(kContext, kMissing).arg(path);
        else if (error == ELOOP)
            *why = UserText::Of(kContext, kLoop).arg(path);
        else
            *why = UserText::Of(kContext, kCannotRead)
                       .arg(path)
                       .arg(QString::fromLocal8Bit(std::strerror(error)));
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        *why = UserText::Of(kContext, kFolder).arg(path);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *why = UserText::Of(kContext, kNotRegular).arg(path).arg(kindOf(st.st_mode));
        return false;
    }
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *why = UserText::Of(kContext, kCannotRead)
                   .arg(path)
                   .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    // The file opened is the one looked at (it may have been replaced meanwhile).
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *why = UserText::Of(kContext, kNotRegular).arg(path).arg(kindOf(st.st_mode));
        ::close(fd);
        return false;
    }
    const QString madeUp = madeUpFileSystem(fd);
    if (!madeUp.isEmpty()) {
        *why = UserText::Of(kContext, kNotRegular)
                   .arg(path)
                   .arg(UserText::Of(kContext, kMadeUp).arg(madeUp));
        ::close(fd);
        return false;
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        *why = UserText::Of(kContext, kCannotRead).arg(path).arg(file.errorString());
        ::close(fd);
        return false;
    }
#else
    const QFileInfo info(path);
    if (!info.exists()) {
        *why = UserText::Of(kContext, kMissing).arg(path);
        return false;
    }
    if (info.isDir()) {
        *why = UserText::Of(kContext, kFolder).arg(path);
        return false;
    }
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = UserText::Of(kContext, kCannotRead).arg(path).arg(file.errorString());
        return false;
    }
#endif
    // Read once, at most one byte more than allowed: the size a file claims
    // is not trusted.
    const QByteArray data = file.read(MaxBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        *why = UserText::Of(kContext, kCannotRead).arg(path).arg(file.errorString());
        return false;
    }
    if (data.isEmpty()) {
        *why = UserText::Of(kContext, kEmpty).arg(path);
        return false;
    }
    if (data.size() > MaxBytes) {
        *why = UserText::Of(kContext, kTooLarge)
                   .arg(path)
                   .arg(qMax<qint64>(file.size(), data.size()))
                   .arg(MaxBytes);
        return false;
    }
    const QString sha256 =
        QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
    if (!expectedSha256.isEmpty() && sha256 != expectedSha256.toLower()) {
        *why = UserText::Of(kContext, kOtherImage).arg(path).arg(sha256).arg(expectedSha256);
        return false;
    }
    firmware->path = path;
    firmware->data = data;
    firmware->sha256 = sha256;
    firmware->checksum = XModemDAL::FileChecksum(data);
    return true;
}
