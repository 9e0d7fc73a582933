#include "util/utility.h"

#include <QCryptographicHash>
#include <QVariant>

namespace Utility {

int StrToInt(const QString& text) {
    return QVariant(text).toInt();
}

QString IntToStr(int value) {
    return QString("%1").arg(value);
}

QString Int64ToStr(qint64 value) {
    return QString("%1").arg(value);
}

QString Utf8UpToNul(const QByteArray& bytes) {
    const int nul = bytes.indexOf('\0');
    return QString::fromUtf8(nul >= 0 ? bytes.left(nul) : bytes);
}

QString Latin1UpToNul(const QByteArray& bytes) {
    const int nul = bytes.indexOf('\0');
    return QString::fromLatin1(nul >= 0 ? bytes.left(nul) : bytes);
}

QString Md5Hex(const QString& text) {
    if (text.isEmpty())
        return QString();
    const QByteArray digest = QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5);
    return QString::fromLatin1(digest.toHex());
}

} // namespace Utility
