#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Small text and number conversions shared by the whole tool.
namespace Utility {

// Decimal integer with an optional sign, as QVariant converts it; anything else gives 0.
int StrToInt(const QString& text);

// Decimal text of a value, with a leading "-" when negative.
QString IntToStr(int value);
QString Int64ToStr(qint64 value);

// The bytes up to the first zero byte (or the end), decoded as UTF-8 or Latin-1.
QString Utf8UpToNul(const QByteArray& bytes);
QString Latin1UpToNul(const QByteArray& bytes);

// Bytes as text for a log line: printable ASCII as it is, every other byte
// as \xNN, so that nothing a device or a server sends reaches the log raw.
QString Printable(const QByteArray& bytes);
// The same for text: printable characters as they are, others as \xNN or \uNNNN.
QString Printable(const QString& text);

// Text from outside (a file name, a device's strings, a service's words) as
// it may be shown to a person, in a label or on a terminal: what would act
// instead of showing (control characters, line breaks, direction overrides
// and the other invisible formatting characters) becomes a visible escape
// (\x0a, \u202e); everything else stays as it is.
QString Displayable(const QString& text);

// Rows of cells as lines of a terminal table: each column as wide as its
// longest cell, two spaces between columns, no spaces at a line's end.
QStringList Columns(const QList<QStringList>& rows);

// An argument as a POSIX shell reads it back: as it is when it holds only
// characters a shell takes literally, else in single quotes.
QString ShellQuoted(const QString& argument);

// MD5 of the UTF-8 bytes as 32 lower-case hex digits; an empty text gives "".
QString Md5Hex(const QString& text);

} // namespace Utility
