#include "app/chosenfirmware.h"

#include "device/xmodemdal.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

namespace {
const char* const kContext = "ChosenFirmware";
const char* const kCannotRead = QT_TRANSLATE_NOOP("ChosenFirmware", "%1 cannot be read: %2");
const char* const kMissing = QT_TRANSLATE_NOOP("ChosenFirmware", "%1 does not exist");
const char* const kFolder =
    QT_TRANSLATE_NOOP("ChosenFirmware", "%1 is a folder, not a firmware file");
const char* const kEmpty = QT_TRANSLATE_NOOP("ChosenFirmware", "%1 is empty");
const char* const kTooLarge = QT_TRANSLATE_NOOP(
    "ChosenFirmware", "%1 has %2 bytes, more than a firmware file can have (%3 bytes)");
const char* const kOtherImage =
    QT_TRANSLATE_NOOP("ChosenFirmware", "%1 has the SHA-256 %2, not the expected %3");
} // namespace

bool ChosenFirmware::Load(const QString& chosen, const QString& expectedSha256,
                          ChosenFirmware* firmware, UserText* why) {
    const QFileInfo info(chosen);
    const QString path = info.absoluteFilePath();
    if (!info.exists()) {
        *why = UserText::Of(kContext, kMissing).arg(path);
        return false;
    }
    if (info.isDir()) {
        *why = UserText::Of(kContext, kFolder).arg(path);
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = UserText::Of(kContext, kCannotRead).arg(path).arg(file.errorString());
        return false;
    }
    // Read once, at most one byte more than allowed: the size a file claims
    // (a device, a pipe) is not trusted.
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
                   .arg(qMax<qint64>(info.size(), data.size()))
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
