#include "web/jsonparser.h"

#include "web/weblog.h"

#include <QHash>
#include <QRegularExpression>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <cmath>

namespace {
const QString kResult = QStringLiteral("result");
const QString kMessage = QStringLiteral("message");
const QString kData = QStringLiteral("data");
const QStringList kDataKeys = {
    QStringLiteral("devicename"),  QStringLiteral("version"),       QStringLiteral("updateurl"),
    QStringLiteral("updatetype"),  QStringLiteral("updatemessage"), QStringLiteral("isneedupdate"),
    QStringLiteral("fileCRCSize"),
};

// Member of an object, or of an array by its index text; undefined otherwise.
QJsonValue member(const QJsonValue& v, const QString& name) {
    if (v.isObject())
        return v.toObject().value(name);
    if (v.isArray()) {
        bool ok = false;
        const int index = name.toInt(&ok);
        const QJsonArray array = v.toArray();
        if (ok && index >= 0 && index < array.size() && QString::number(index) == name)
            return array.at(index);
    }
    return QJsonValue(QJsonValue::Undefined);
}

// The script engine's unsigned 32-bit conversion, used for the log line only.
quint32 toUint32(const QJsonValue& v) {
    double d = 0;
    if (v.isDouble())
        d = v.toDouble();
    else if (v.isBool())
        d = v.toBool() ? 1 : 0;
    else if (v.isString())
        d = v.toString().trimmed().toDouble();
    if (!std::isfinite(d))
        return 0;
    const double two32 = 4294967296.0;
    double m = std::fmod(std::trunc(d), two32);
    if (m < 0)
        m += two32;
    return static_cast<quint32>(m);
}
} // namespace

QString JsonParser::NumberText(double value) {
    if (std::isnan(value))
        return QStringLiteral("NaN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("Infinity") : QStringLiteral("-Infinity");
    if (value == 0)
        return QStringLiteral("0");
    const QString sign = value < 0 ? QStringLiteral("-") : QString();
    // Shortest round-trip digits and decimal exponent, e.g. "1.5e+00".
    const QString sci = QString::number(std::fabs(value), 'e', QLocale::FloatingPointShortest);
    const int ePos = sci.indexOf(QLatin1Char('e'));
    QString digits = sci.left(ePos);
    digits.remove(QLatin1Char('.'));
    const int exponent = sci.mid(ePos + 1).toInt();
    const int k = digits.size();
    const int n = exponent + 1; // position of the decimal point
    if (k <= n && n <= 21)
        return sign + digits + QString(n - k, QLatin1Char('0'));
    if (0 < n && n <= 21)
        return sign + digits.left(n) + QLatin1Char('.') + digits.mid(n);
    if (-6 < n && n <= 0)
        return sign + QStringLiteral("0.") + QString(-n, QLatin1Char('0')) + digits;
    const int e = n - 1;
    const QString expText =
        (e < 0 ? QStringLiteral("-") : QStringLiteral("+")) + QString::number(std::abs(e));
    const QString mantissa = k == 1 ? digits : digits.left(1) + QLatin1Char('.') + digits.mid(1);
    return sign + mantissa + QLatin1Char('e') + expText;
}

QString JsonParser::ToText(const QJsonValue& v) {
    switch (v.type()) {
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        return QString();
    case QJsonValue::Bool:
        return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Double:
        return NumberText(v.toDouble());
    case QJsonValue::String:
        return v.toString().trimmed();
    case QJsonValue::Array: {
        // As a script engine prints an array: its elements joined by commas.
        QStringList parts;
        for (const QJsonValue& item : v.toArray())
            parts << (item.isNull() || item.isUndefined() ? QString() : ToText(item));
        return parts.join(QLatin1Char(',')).trimmed();
    }
    case QJsonValue::Object:
        return QStringLiteral("[object Object]");
    }
    return QString();
}

QString JsonParser::PropertyText(const QJsonValue& v, const QString& name) {
    if (v.isNull() || v.isUndefined())
        return QString();
    const QJsonValue m = member(v, name);
    if (m.isNull())
        return QStringLiteral("null");
    return ToText(m);
}

bool JsonParser::IsAnswer(const QString& text) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &error);
    return error.error == QJsonParseError::NoError && doc.isObject();
}

bool JsonParser::IsSuccess(const QString& result) {
    const QString text = result.trimmed().toLower();
    if (text == QLatin1String("ok") || text == QLatin1String("success") ||
        text == QLatin1String("true"))
        return true;
    bool number = false;
    const qint64 code = text.toLongLong(&number);
    return number && (code == 1 || (code >= 200 && code <= 299));
}

QHash<QString, QString> JsonParser::ParseCheckVersion(const QString& text) {
    QHash<QString, QString> map;
    QJsonParseError error;
    // Known: Qt's parser leaks about 80 bytes for an object whose key repeats
    // with an array as its first value ({"a":[1],"a":1}); the leak is inside
    // Qt, small, and once per answer.
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError) {
        qCDebug(lcWeb).noquote() << "result=" << 0;
        qCDebug(lcWeb).noquote() << "message=" + error.errorString();
        map.insert(kResult, QString());
        map.insert(kMessage, error.errorString());
        return map;
    }
    const QJsonValue root = doc.isObject() ? QJsonValue(doc.object()) : QJsonValue(doc.array());
    const QJsonValue result = member(root, kResult);
    const QJsonValue message = member(root, kMessage);
    const QJsonValue data = member(root, kData);

    qCDebug(lcWeb).noquote() << "result=" << toUint32(result);
    qCDebug(lcWeb).noquote() << "message=" + ToText(message);

    map.insert(kResult, ToText(result));
    map.insert(kMessage, ToText(message));
    if (data.isObject() || data.isArray()) {
        for (const QString& key : kDataKeys)
            map.insert(key, PropertyText(data, key));
    }
    return map;
}

namespace {
// Entities read in one pass, so that "&amp;lt;" is the text "&lt;": named
// ones and numbered ones (&#60; &#x3c;).
QString decodeEntities(const QString& text) {
    static const QRegularExpression entity(
        QStringLiteral("&(#[0-9]{1,7}|#[xX][0-9a-fA-F]{1,6}|[a-zA-Z]{2,6});"));
    static const QHash<QString, QString> named = {{QStringLiteral("lt"), QStringLiteral("<")},
                                                  {QStringLiteral("gt"), QStringLiteral(">")},
                                                  {QStringLiteral("quot"), QStringLiteral("\"")},
                                                  {QStringLiteral("apos"), QStringLiteral("'")},
                                                  {QStringLiteral("nbsp"), QStringLiteral(" ")},
                                                  {QStringLiteral("amp"), QStringLiteral("&")}};
    QString out;
    int from = 0;
    for (auto it = entity.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        out += text.mid(from, match.capturedStart() - from);
        from = match.capturedEnd();
        const QString name = match.captured(1);
        if (name.startsWith(QLatin1Char('#'))) {
            bool ok = false;
            const uint code = name.startsWith(QLatin1String("#x"), Qt::CaseInsensitive)
                                  ? name.mid(2).toUInt(&ok, 16)
                                  : name.mid(1).toUInt(&ok, 10);
            if (ok && code > 0 && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF)) {
                const char32_t c = char32_t(code);
                out += QString::fromUcs4(&c, 1);
                continue;
            }
        } else if (named.contains(name)) {
            out += named.value(name);
            continue;
        }
        out += match.captured(0); // not an entity known here: kept as it is
    }
    return out + text.mid(from);
}
} // namespace

QString JsonParser::PlainText(const QString& text, int maxChars) {
    // Enough of a long text is looked at to fill maxChars once its markup is gone.
    // Its entities are read first, so that what they spell ("&lt;h1&gt;") is
    // markup dropped with the rest, never markup that a label renders.
    QString plain = decodeEntities(text.left(qMax(maxChars, 0) * 8));
    static const QRegularExpression breaks(QStringLiteral("<\\s*(br|/p|/div|/li)\\b[^<>]*>"),
                                           QRegularExpression::CaseInsensitiveOption);
    // A tag begins with a letter, "/", "!" or "?": "a < b" is text.
    static const QRegularExpression tags(QStringLiteral("<!--.*?-->|<[/!?]?[A-Za-z][^<>]*>"),
                                         QRegularExpression::DotMatchesEverythingOption);
    plain.replace(breaks, QStringLiteral("\n")).remove(tags);
    QString out;
    for (const QChar c : plain) {
        if (c == QLatin1Char('\n'))
            out += c;
        // Controls and the invisible formatting ones (direction overrides among them).
        else if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format ||
                 c.isNonCharacter())
            out += QLatin1Char(' ');
        else
            out += c;
    }
    QStringList lines;
    for (const QString& line : out.split(QLatin1Char('\n'))) {
        const QString simple = line.simplified();
        if (!simple.isEmpty())
            lines << simple;
    }
    out = lines.join(QLatin1Char('\n'));
    if (out.size() > maxChars)
        out = out.left(qMax(maxChars - 1, 0)) + QChar(0x2026);
    return out;
}
