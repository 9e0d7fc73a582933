#include "util/utility.h"

#include <QtTest>

class TestUtility : public QObject {
    Q_OBJECT
private slots:
    void strToInt_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("plain") << "1234" << 1234;
        QTest::newRow("negative") << "-42" << -42;
        QTest::newRow("plus sign") << "+7" << 7;
        QTest::newRow("surrounding spaces") << " 51234 " << 51234;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("letters") << "12ab" << 0;
        QTest::newRow("decimal point") << "12.5" << 0;
        QTest::newRow("beyond int") << "4294967296" << 0;
    }
    void strToInt() {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(Utility::StrToInt(text), value);
    }

    void numberToText_data() {
        QTest::addColumn<qint64>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("minus five") << qint64(-5) << "-5";
        QTest::newRow("zero") << qint64(0) << "0";
        QTest::newRow("int max") << qint64(2147483647) << "2147483647";
        QTest::newRow("int min") << qint64(-2147483647 - 1) << "-2147483648";
    }
    void numberToText() {
        QFETCH(qint64, value);
        QFETCH(QString, text);
        QCOMPARE(Utility::IntToStr(static_cast<int>(value)), text);
        QCOMPARE(Utility::Int64ToStr(value), text);
    }

    void int64ToTextBeyond32Bits() {
        QCOMPARE(Utility::Int64ToStr(Q_INT64_C(5000000000)), QStringLiteral("5000000000"));
        QCOMPARE(Utility::Int64ToStr(Q_INT64_C(-9223372036854775807) - 1),
                 QStringLiteral("-9223372036854775808"));
    }

    void textUpToNul() {
        QCOMPARE(Utility::Utf8UpToNul(QByteArray("ab\0cd", 5)), QStringLiteral("ab"));
        QCOMPARE(Utility::Utf8UpToNul(QByteArray("\xe7\x89\x88")), QString::fromUtf8("版"));
        QCOMPARE(Utility::Latin1UpToNul(QByteArray("\x8F"
                                                   "C",
                                                   2)),
                 QString::fromLatin1("\x8F"
                                     "C"));
        QCOMPARE(Utility::Latin1UpToNul(QByteArray("\0x", 2)), QString());
    }

    // What a device or a server sends reaches a log line as text, never raw.
    void printable_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("plain") << QByteArray("CRC:512") << "CRC:512";
        QTest::newRow("controls and high bytes")
            << QByteArray("\r\nBOOT\x8f\x00", 8) << "\\x0d\\x0aBOOT\\x8f\\x00";
        QTest::newRow("backslash") << QByteArray("a\\b") << "a\\\\b";
    }
    void printable() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(Utility::Printable(bytes), text);
        // What is shown to a person: escapes only for what would act.
        QCOMPARE(Utility::Displayable(QString::fromUtf8("<b>ü\\x.bin\n\u202e\x1b[2J")),
                 QString::fromUtf8("<b>ü\\x.bin\\x0a\\u202e\\x1b[2J"));
        QCOMPARE(Utility::Printable(QString::fromLatin1(bytes)).size() >= bytes.size(), true);
        QCOMPARE(Utility::Printable(QString::fromUtf8("版本\xef\xbf\xbd")),
                 QString::fromUtf8("版本\\ufffd"));
    }

    // A terminal table: columns line up whatever their widths, the last is
    // not padded, and an empty last cell leaves no spaces behind.
    void columns() {
        const QStringList lines = Utility::Columns(
            {{"port", "serial", "reason"}, {"/dev/ttyACM10", "-", ""}, {"a", "TMB00002", "lost"}});
        QCOMPARE(lines, QStringList({"port           serial    reason", "/dev/ttyACM10  -",
                                     "a              TMB00002  lost"}));
    }

    // An argument as a shell takes it back: the log's header and the retry
    // command of a desk are pasted into a shell.
    void shellQuoted_data() {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("quoted");
        QTest::newRow("plain") << "/dev/serial/by-path/pci-0:1.0"
                               << "/dev/serial/by-path/pci-0:1.0";
        QTest::newRow("a space") << "a b"
                                 << "'a b'";
        QTest::newRow("a quote") << "it's"
                                 << "'it'\\''s'";
        QTest::newRow("a final newline") << "/tmp/dev\n"
                                         << "'/tmp/dev\n'";
        QTest::newRow("empty") << ""
                               << "''";
    }
    void shellQuoted() {
        QFETCH(QString, argument);
        QFETCH(QString, quoted);
        QCOMPARE(Utility::ShellQuoted(argument), quoted);
    }

    void md5Hex_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("digest");
        QTest::newRow("empty gives empty") << ""
                                           << "";
        QTest::newRow("null gives empty") << QString() << "";
        QTest::newRow("abc") << "abc"
                             << "900150983cd24fb0d6963f7d28e17f72";
        QTest::newRow("utf-8 bytes")
            << QString::fromUtf8("密码") << "a8105204604a0b11e916f3879aae3b0b";
    }
    void md5Hex() {
        QFETCH(QString, text);
        QFETCH(QString, digest);
        QCOMPARE(Utility::Md5Hex(text), digest);
    }
};

QTEST_APPLESS_MAIN(TestUtility)
#include "test_utility.moc"
