#include "web/jsonparser.h"

#include <QElapsedTimer>
#include <QtTest>

using Map = QHash<QString, QString>;

namespace {
const QStringList kDataKeys = {"devicename",    "version",      "updateurl",  "updatetype",
                               "updatemessage", "isneedupdate", "fileCRCSize"};
}

class TestJson : public QObject {
    Q_OBJECT
private slots:
    void typicalAnswer() {
        const Map map = JsonParser::ParseCheckVersion(
            "{\"result\": 1, \"message\": \"ok\", \"data\": {\"isneedupdate\": true, \"version\": "
            "\"V1.2\",\n"
            "                \"updateurl\": \"u\", \"fileCRCSize\": 1234}}");
        QCOMPARE(map.size(), 9);
        QCOMPARE(map.value("result"), QStringLiteral("1"));
        QCOMPARE(map.value("message"), QStringLiteral("ok"));
        QCOMPARE(map.value("isneedupdate"), QStringLiteral("true"));
        QCOMPARE(map.value("version"), QStringLiteral("V1.2"));
        QCOMPARE(map.value("updateurl"), QStringLiteral("u"));
        QCOMPARE(map.value("fileCRCSize"), QStringLiteral("1234"));
        for (const char* key : {"devicename", "updatetype", "updatemessage"}) {
            QVERIFY(map.contains(key));
            QCOMPARE(map.value(key), QString());
        }
    }

    void dataShapes_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("hasDataKeys");
        QTest::newRow("empty object") << "{\"result\": 0, \"data\": {}}" << true;
        QTest::newRow("array counts as object") << "{\"result\": 0, \"data\": [1, 2]}" << true;
        QTest::newRow("string") << "{\"result\": 0, \"data\": \"none\"}" << false;
        QTest::newRow("number") << "{\"result\": 0, \"data\": 5}" << false;
        QTest::newRow("null") << "{\"result\": 0, \"data\": null}" << false;
        QTest::newRow("absent") << "{\"result\": 0}" << false;
    }
    void dataShapes() {
        QFETCH(QString, text);
        QFETCH(bool, hasDataKeys);
        const Map map = JsonParser::ParseCheckVersion(text);
        QCOMPARE(map.size(), hasDataKeys ? 9 : 2);
        QCOMPARE(map.value("result"), QStringLiteral("0"));
        QCOMPARE(map.value("message"), QString());
        for (const QString& key : kDataKeys) {
            QCOMPARE(map.contains(key), hasDataKeys);
            QCOMPARE(map.value(key), QString());
        }
    }

    void valueTexts_data() {
        QTest::addColumn<QString>("json");
        QTest::addColumn<QString>("text");
        QTest::newRow("surrounding spaces trimmed") << "\"  V1.2 \""
                                                    << "V1.2";
        QTest::newRow("false") << "false"
                               << "false";
        QTest::newRow("null member") << "null"
                                     << "null";
        QTest::newRow("one") << "1"
                             << "1";
        QTest::newRow("1234") << "1234"
                              << "1234";
        QTest::newRow("4000000000") << "4000000000"
                                    << "4000000000";
        QTest::newRow("1.5") << "1.5"
                             << "1.5";
        QTest::newRow("1e21") << "1e21"
                              << "1e+21";
        QTest::newRow("1e20 is still plain") << "1e20"
                                             << "100000000000000000000";
        QTest::newRow("negative") << "-42"
                                  << "-42";
        QTest::newRow("minus zero") << "-0"
                                    << "0";
        QTest::newRow("small fraction") << "0.000001"
                                        << "0.000001";
        QTest::newRow("tiny") << "1e-7"
                              << "1e-7";
        QTest::newRow("big mantissa") << "1.25e30"
                                      << "1.25e+30";
        QTest::newRow("third") << "0.1"
                               << "0.1";
        QTest::newRow("string of digits") << "\"0042\""
                                          << "0042";
    }
    void valueTexts() {
        QFETCH(QString, json);
        QFETCH(QString, text);
        const Map map = JsonParser::ParseCheckVersion(
            QStringLiteral("{\"data\": {\"version\": %1}}").arg(json));
        QCOMPARE(map.value("version"), text);
    }

    void nullResultAndMessageGiveEmptyText() {
        const Map map = JsonParser::ParseCheckVersion(
            "{\"result\": null, \"message\": null, \"data\": {\"version\": null}}");
        QCOMPARE(map.value("result"), QString());
        QCOMPARE(map.value("message"), QString());
        QCOMPARE(map.value("version"), QStringLiteral("null"));
    }

    void textThatIsNotJson_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << "";
        QTest::newRow("html error page") << "<html><body><h1>502 Bad Gateway</h1></body></html>";
        QTest::newRow("script, never run") << "1; while (true) {}";
        QTest::newRow("assignment") << "value = {\"result\": 1}";
        QTest::newRow("truncated") << "{\"result\": 1, \"data\": {\"version\": \"1.";
    }
    void textThatIsNotJson() {
        QFETCH(QString, text);
        QElapsedTimer timer;
        timer.start();
        const Map map = JsonParser::ParseCheckVersion(text);
        QVERIFY(timer.elapsed() < 1000);
        QCOMPARE(map.size(), 2);
        QCOMPARE(map.value("result"), QString());
        QVERIFY(!map.value("message").isEmpty());
    }

    void largeAnswer() {
        const QString filler(1024 * 1024, QLatin1Char('x'));
        const QString text =
            QStringLiteral("{\"result\": 1, \"message\": \"%1\", \"data\": {\"fileCRCSize\": 7}}")
                .arg(filler);
        const Map map = JsonParser::ParseCheckVersion(text);
        QCOMPARE(map.value("message").size(), filler.size());
        QCOMPARE(map.value("fileCRCSize"), QStringLiteral("7"));
    }

    // What a release brings, as text: its entities read first, so that what
    // they spell is dropped with the markup; "a < b" stays; nothing that acts.
    void plainNotes_data() {
        QTest::addColumn<QString>("notes");
        QTest::addColumn<QString>("plain");
        QTest::newRow("markup and an entity") << "Fixes the <b>clock</b>.<br>Faster &amp; smaller."
                                              << "Fixes the clock.\nFaster & smaller.";
        QTest::newRow("markup spelled in entities")
            << "&lt;h1 style=&quot;color:red&quot;&gt;Big&lt;/h1&gt; news"
            << "Big news";
        QTest::newRow("an entity of an entity stays one") << "&amp;lt;b&amp;gt;"
                                                          << "&lt;b&gt;";
        QTest::newRow("comparisons are text") << "1 < 2 and 3 > 2"
                                              << "1 < 2 and 3 > 2";
        QTest::newRow("numbered entities, a comment, a direction override")
            << "&#60;i&#x3e;x&#60;/i&#62;<!-- hidden -->\u202egnp.exe"
            << "x gnp.exe";
    }
    void plainNotes() {
        QFETCH(QString, notes);
        QFETCH(QString, plain);
        QCOMPARE(JsonParser::PlainText(notes, 4096), plain);
    }

    void valueFunctions() {
        QCOMPARE(JsonParser::ToText(QJsonValue(QJsonValue::Null)), QString());
        QCOMPARE(JsonParser::ToText(QJsonValue(QJsonValue::Undefined)), QString());
        QCOMPARE(JsonParser::ToText(QJsonValue(" x ")), QStringLiteral("x"));
        const QJsonObject object{{"a", QJsonValue(QJsonValue::Null)}, {"b", 2}};
        QCOMPARE(JsonParser::PropertyText(object, "a"), QStringLiteral("null"));
        QCOMPARE(JsonParser::PropertyText(object, "b"), QStringLiteral("2"));
        QCOMPARE(JsonParser::PropertyText(object, "c"), QString());
        QCOMPARE(JsonParser::PropertyText(QJsonValue(QJsonValue::Null), "a"), QString());
    }
};

QTEST_APPLESS_MAIN(TestJson)
#include "test_json.moc"
