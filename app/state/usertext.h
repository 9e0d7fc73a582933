#pragma once

#include <QCoreApplication>
#include <QString>

// A text for the user, and the same text in English: the window shows the
// first, in the user's language; the log and the command line say the
// second, whatever the language. Made from a source text of the tool (marked
// with QT_TRANSLATE_NOOP) and filled in like QString::arg.
class UserText {
public:
    UserText() = default;
    // A text that reads the same in every language (a name, a number, a
    // system's message).
    UserText(const QString& text) : shown(text), english(text) {}
    UserText(const char* text) : UserText(QString::fromUtf8(text)) {}

    static UserText Of(const char* context, const char* source) {
        return UserText(QCoreApplication::translate(context, source), QString::fromUtf8(source));
    }

    // The lowest %N of both replaced.
    UserText arg(const UserText& a) const {
        return UserText(shown.arg(a.shown), english.arg(a.english));
    }
    UserText arg(const QString& a) const { return arg(UserText(a)); }
    UserText arg(qint64 n) const { return UserText(shown.arg(n), english.arg(n)); }
    UserText arg(int n) const { return arg(qint64(n)); }
    UserText arg(double n) const { return UserText(shown.arg(n), english.arg(n)); }

    UserText operator+(const UserText& other) const {
        return UserText(shown + other.shown, english + other.english);
    }
    bool operator==(const UserText& other) const {
        return shown == other.shown && english == other.english;
    }
    bool isEmpty() const { return shown.isEmpty(); }

    QString shown;
    QString english;

private:
    UserText(QString inLanguage, QString inEnglish)
        : shown(std::move(inLanguage)), english(std::move(inEnglish)) {}
};
