#include "util/utility.h"

#include <QCryptographicHash>
#include <QRegularExpression>
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

QString Printable(const QByteArray& bytes) {
    QString out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\\')
            out += QStringLiteral("\\\\");
        else if (byte >= 0x20 && byte < 0x7F)
            out += QLatin1Char(c);
        else
            out += QStringLiteral("\\x%1").arg(uint(byte), 2, 16, QLatin1Char('0'));
    }
    return out;
}

namespace {
// A character as \xNN (below 0x100) or \uNNNN.
QString escaped(ushort code) {
    return code < 0x100 ? QStringLiteral("\\x%1").arg(uint(code), 2, 16, QLatin1Char('0'))
                        : QStringLiteral("\\u%1").arg(uint(code), 4, 16, QLatin1Char('0'));
}
} // namespace

QString Printable(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const ushort code = c.unicode();
        if (c == QLatin1Char('\\'))
            out += QStringLiteral("\\\\");
        else if (c.isPrint() && code != 0xFFFD && !c.isSurrogate())
            out += c;
        else
            out += escaped(code);
    }
    return out;
}

QString Displayable(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const ushort code = c.unicode();
        const QChar::Category category = c.category();
        if (category != QChar::Other_Control && category != QChar::Other_Format &&
            category != QChar::Separator_Line && category != QChar::Separator_Paragraph &&
            code != 0xFFFD)
            out += c;
        else
            out += escaped(code);
    }
    return out;
}

QStringList Columns(const QList<QStringList>& rows) {
    QList<int> widths;
    for (const QStringList& row : rows)
        for (int column = 0; column < row.size(); ++column) {
            if (column == widths.size())
                widths << 0;
            widths[column] = qMax(widths.at(column), int(row.at(column).size()));
        }
    QStringList lines;
    for (const QStringList& row : rows) {
        QString line;
        for (int column = 0; column < row.size(); ++column) {
            if (column > 0)
                line += QStringLiteral("  ");
            line += column + 1 < row.size() ? row.at(column).leftJustified(widths.at(column))
                                            : row.at(column);
        }
        // No spaces at the end of a line whose last cells are empty.
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        lines << line;
    }
    return lines;
}

QString ShellQuoted(const QString& argument) {
    // Anchored at the very end: "$" would also match before a final newline.
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./:=@%+,-]+\\z"));
    if (plain.match(argument).hasMatch())
        return argument;
    return QLatin1Char('\'') +
           QString(argument).replace(QLatin1Char('\''), QStringLiteral("'\\''")) +
           QLatin1Char('\'');
}

QString Md5Hex(const QString& text) {
    if (text.isEmpty())
        return QString();
    const QByteArray digest = QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5);
    return QString::fromLatin1(digest.toHex());
}

} // namespace Utility
