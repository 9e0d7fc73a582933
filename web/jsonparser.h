#pragma once

#include <QHash>
#include <QJsonValue>
#include <QString>

// Turns the service's JSON answers into text maps. The answer is parsed as
// JSON data only; nothing in it is ever executed.
class JsonParser {
public:
    // Text of a value, trimmed: strings as themselves, numbers in their shortest
    // form, booleans "true"/"false", null "null", absent "".
    static QString ToText(const QJsonValue& v);
    // Text of member name of v, trimmed; "" when v itself is null or absent.
    static QString PropertyText(const QJsonValue& v, const QString& name);
    // The version-check answer as a map: "result", "message" and, when "data" is
    // an object or array, the seven data keys.
    static QHash<QString, QString> ParseCheckVersion(const QString& text);
    // Whether text is a JSON object, the form of every answer of the service.
    static bool IsAnswer(const QString& text);
    // Whether an answer's "result" (as text) says that the request succeeded:
    // 1, a 2xx status, or "ok", "success", "true" in any letter case. Anything
    // else (401 "invalid token", an empty or missing result) is a failure.
    static bool IsSuccess(const QString& result);
    // A text of the service (the release notes) as plain text: no markup
    // (tags dropped, the common entities read), no control characters, lines
    // trimmed, at most maxChars characters (cut with "…").
    static QString PlainText(const QString& text, int maxChars);

    // Shortest decimal form of a number, as a script engine prints it
    // (1 -> "1", 4000000000 -> "4000000000", 1.5 -> "1.5", 1e21 -> "1e+21").
    static QString NumberText(double value);
};
