#include "app/state/state.h"
#include "config/configdal.h"
#include "support/files.h"
#include "support/filesizecap.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestConfig : public QObject {
    Q_OBJECT
private:
    QTemporaryDir dir;
    QString brand() const { return Globals::AppPath + "//cfg//UpdateBrand.xml"; }

private slots:
    void init() {
        QVERIFY(dir.isValid());
        Globals::AppPath = dir.path() + "/app";
        QVERIFY(QDir().mkpath(Globals::AppPath));
        QDir(Globals::AppPath + "/cfg").removeRecursively();
    }

    void roundTrip() {
        ConfigDAL::WriteConfig({{"isneedupdate", "true"}, {"version", "V1.2"}}, brand());
        QCOMPARE(ConfigDAL::GetUpdateBrand("isneedupdate"), QStringLiteral("true"));
        QCOMPARE(ConfigDAL::GetUpdateBrand("version"), QStringLiteral("V1.2"));
        QCOMPARE(ConfigDAL::GetUpdateBrand("updateurl"), QString());
        QCOMPARE(ConfigDAL::ReadValue(brand(), "version"), QStringLiteral("V1.2"));
    }

    void exactFileBytes() {
        ConfigDAL::WriteConfig({{"isneedupdate", "a<b&c"}}, brand());
        QCOMPARE(fileBytes(brand()), QByteArray("<?xml version=\"1.0\" encoding=\"uft-8\"?>\n"
                                                "<configuration>\n"
                                                "    <isneedupdate>a&lt;b&amp;c</isneedupdate>\n"
                                                "</configuration>\n"));
        ConfigDAL::WriteConfig({{"message", ""}}, brand());
        QCOMPARE(fileBytes(brand()), QByteArray("<?xml version=\"1.0\" encoding=\"uft-8\"?>\n"
                                                "<configuration>\n"
                                                "    <message></message>\n"
                                                "</configuration>\n"));
        ConfigDAL::WriteConfig({{"message", QString::fromUtf8("版本")}}, brand());
        QVERIFY(fileBytes(brand()).contains("<message>\xe7\x89\x88\xe6\x9c\xac</message>"));
        QCOMPARE(ConfigDAL::GetUpdateBrand("message"), QString::fromUtf8("版本"));
    }

    void emptyMapGivesEmptyRoot() {
        ConfigDAL::WriteConfig({}, brand());
        QCOMPARE(fileBytes(brand()), QByteArray("<?xml version=\"1.0\" encoding=\"uft-8\"?>\n"
                                                "<configuration/>\n"));
        QCOMPARE(ConfigDAL::GetUpdateBrand("result"), QString());
    }

    void missingOrBrokenFilesReadEmpty() {
        QCOMPARE(ConfigDAL::GetUpdateBrand("result"), QString());
        QVERIFY(!QFile::exists(brand()));
        QVERIFY(!QDir(Globals::AppPath + "/cfg").exists());
        QVERIFY(QDir().mkpath(Globals::AppPath + "/cfg"));
        QFile broken(brand());
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("<configuration><result>1</res");
        broken.close();
        QCOMPARE(ConfigDAL::GetUpdateBrand("result"), QString());
        QVERIFY(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
        broken.close();
        QCOMPARE(ConfigDAL::GetUpdateBrand("result"), QString());
    }

    void passwordsAreStoredAsDigests_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("stored");
        const QString v29(29, QLatin1Char('p'));
        const QString v30(30, QLatin1Char('p'));
        QTest::newRow("29 characters hashed")
            << "password" << v29 << "3d0bbd2ec7792129a10ffd3282fb9bc9";
        QTest::newRow("30 characters kept") << "password" << v30 << v30;
        QTest::newRow("empty kept") << "password"
                                    << ""
                                    << "";
        QTest::newRow("capital P kept") << "Password"
                                        << "secret"
                                        << "secret";
        QTest::newRow("other key kept") << "user"
                                        << "secret"
                                        << "secret";
    }
    void passwordsAreStoredAsDigests() {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QString, stored);
        const QString path = Globals::AppPath + "//cfg//Login.xml";
        ConfigDAL::WriteConfig({{key, value}}, path);
        QCOMPARE(ConfigDAL::GetLogin(key), stored);
        // Rewriting what was read back does not hash the digest again.
        ConfigDAL::WriteConfig({{key, ConfigDAL::GetLogin(key)}}, path);
        QCOMPARE(ConfigDAL::GetLogin(key).size(), stored.size());
    }

    void secondWriteReplacesTheWholeFile() {
        ConfigDAL::WriteConfig({{"isneedupdate", "true"}, {"updateurl", "http://a/b"}}, brand());
        ConfigDAL::WriteConfig({{"result", "0"}}, brand());
        QCOMPARE(ConfigDAL::GetUpdateBrand("result"), QStringLiteral("0"));
        QCOMPARE(ConfigDAL::GetUpdateBrand("isneedupdate"), QString());
        QCOMPARE(ConfigDAL::GetUpdateBrand("updateurl"), QString());
    }

    // Files may not grow beyond the cap: the new file fails half-way, also
    // when it is small enough to be written out only when it is closed.
    void failedWriteKeepsThePreviousFile_data() {
        QTest::addColumn<int>("cap");
        QTest::addColumn<int>("length");
        QTest::newRow("larger than the write buffer") << 512 << 40000;
        QTest::newRow("smaller than the write buffer") << 100 << 300;
    }
    void failedWriteKeepsThePreviousFile() {
        QFETCH(int, cap);
        QFETCH(int, length);
        ConfigDAL::WriteConfig({{"isneedupdate", "true"}}, brand());
        const QByteArray before = fileBytes(brand());
        bool written = true;
        {
            FileSizeCap limit(static_cast<rlim_t>(cap));
            QVERIFY(limit.isActive());
            written = ConfigDAL::WriteConfig({{"updatemessage", QString(length, QLatin1Char('m'))}},
                                             brand());
        }
        QVERIFY(!written);
        QCOMPARE(fileBytes(brand()), before);
        QCOMPARE(ConfigDAL::GetUpdateBrand("isneedupdate"), QStringLiteral("true"));
        QCOMPARE(QDir(Globals::AppPath + "/cfg").entryList(QDir::Files),
                 QStringList{"UpdateBrand.xml"});
    }

    // Every entry that is written reads back as written, whatever its value
    // holds; an entry that cannot be stored as given (a character XML cannot
    // carry, a key that is no XML name) is left out and fails the write.
    void awkwardEntriesReadBack() {
        const QString nonCharacters = QString(QChar(0xFFFE)) + QChar(0xFFFF) + QChar(0x01) +
                                      QChar(0x1B) + QChar(0xDC00) + QStringLiteral("kept");
        const QHash<QString, QString> readable = {
            {"markup", "<a href=\"x\">&amp; ]]> 'q'</a>"},
            {"lines", "one\r\ntwo\rthree\n\tfour"},
            {"spaces", "  both ends  "},
            {"wide", QString::fromUtf8("版本 \xF0\x9F\x98\x80 ok")},
            {"empty", ""},
            {"dotted.key-name_1", "v"},
            {QString::fromUtf8("ключ"), "cyrillic key"},
        };
        QHash<QString, QString> written = readable;
        written.insert("updatemessage", nonCharacters);
        written.insert("version", "1.3.0\x01");
        written.insert("two words", "x");
        written.insert("1digit", "x");
        written.insert("<", "x");
        written.insert("a:b", "x");
        written.insert("", "x");
        written.insert(QStringLiteral("a\u203F"), "x"); // a name to XML today, not to its reader
        written.insert(QStringLiteral("\u0132"), "x");
        written.insert(QString(4097, 'k'), "x"); // past the reader's longest name
        QVERIFY(!ConfigDAL::WriteConfig(written, brand()));
        for (auto it = readable.begin(); it != readable.end(); ++it)
            QCOMPARE(ConfigDAL::GetUpdateBrand(it.key()), it.value());
        QCOMPARE(ConfigDAL::GetUpdateBrand("version"), QString());
        QCOMPARE(ConfigDAL::StorableText(nonCharacters), QStringLiteral("kept"));
        QVERIFY(ConfigDAL::WriteConfig(readable, brand()));
        QCOMPARE(ConfigDAL::GetUpdateBrand("markup"), readable.value("markup"));
    }

    // Files written by hand or by other tools: a real declared encoding is
    // honoured; a document type declaration makes the file malformed, so
    // that no entity it declares is ever expanded.
    void handMadeFiles_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("expected");
        const QByteArray root = "<configuration><result>caf\xe9</result></configuration>";
        QTest::newRow("ISO-8859-1") << "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" + root
                                    << QString::fromUtf8("café");
        QTest::newRow("own uft-8") << QByteArray("<?xml version=\"1.0\" encoding=\"uft-8\"?>"
                                                 "<configuration><result>caf\xc3\xa9</result>"
                                                 "</configuration>")
                                   << QString::fromUtf8("café");
        QTest::newRow("entities and references")
            << QByteArray("<configuration><result>&lt;&amp;&gt;&quot;&apos;&#233;&#x41;</result>"
                          "</configuration>")
            << QString::fromUtf8("<&>\"'éA");
        const QByteArray bomb = "<!DOCTYPE configuration [<!ENTITY e \"" + QByteArray(4096, 'x') +
                                "\">]><configuration><result>" + QByteArray("&e;").repeated(90000) +
                                "</result></configuration>";
        QTest::newRow("entity declaration") << bomb << QString();
    }
    void handMadeFiles() {
        QFETCH(QByteArray, content);
        QFETCH(QString, expected);
        QVERIFY(QDir().mkpath(Globals::AppPath + "/cfg"));
        QFile file(brand());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(ConfigDAL::GetUpdateBrand("result"), expected);
        QVERIFY(timer.elapsed() < 1000);
    }

    // A file nested far deeper than any settings file is read without
    // recursing: a key under the root still reads, a broken one reads "".
    void deeplyNestedFiles() {
        QVERIFY(QDir().mkpath(Globals::AppPath + "/cfg"));
        const int depth = 30000;
        QFile file(brand());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("<configuration><isneedupdate>true</isneedupdate><deep>");
        for (int i = 0; i < depth; ++i)
            file.write("<a>");
        for (int i = 0; i < depth; ++i)
            file.write("</a>");
        file.write("</deep></configuration>");
        file.close();
        QCOMPARE(ConfigDAL::GetUpdateBrand("isneedupdate"), QStringLiteral("true"));
        QCOMPARE(ConfigDAL::GetUpdateBrand("deep"), QString());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("<configuration><isneedupdate>true</isneedupdate>");
        for (int i = 0; i < depth; ++i)
            file.write("<a>");
        file.close();
        QCOMPARE(ConfigDAL::GetUpdateBrand("isneedupdate"), QString());
    }

    void everyAccessorReadsItsFile() {
        const QStringList files = {
            "FirmwareMCU.xml",       "Language.xml",        "Login.xml",
            "UpdateBrand.xml",       "UpdatePC.xml",        "UserSetting.xml",
            "AutoLogin.xml",         "DateDisplayMode.xml", "UpdateFirmwareVersion.xml",
            "SetTimeAfterUpdate.xml"};
        for (const QString& file : files)
            ConfigDAL::WriteConfig({{"key", file}}, Globals::AppPath + "//cfg//" + file);
        QCOMPARE(ConfigDAL::GetFirmwareMCU("key"), files[0]);
        QCOMPARE(ConfigDAL::GetLanguage("key"), files[1]);
        QCOMPARE(ConfigDAL::GetLogin("key"), files[2]);
        QCOMPARE(ConfigDAL::GetUpdateBrand("key"), files[3]);
        QCOMPARE(ConfigDAL::GetUpdatePC("key"), files[4]);
        QCOMPARE(ConfigDAL::GetUserSetting("key"), files[5]);
        QCOMPARE(ConfigDAL::GetAutoLogin("key"), files[6]);
        QCOMPARE(ConfigDAL::GetDateDisplayMode("key"), files[7]);
        QCOMPARE(ConfigDAL::GetUpdateFirmwareVersion("key"), files[8]);
        QCOMPARE(ConfigDAL::GetSetTimeAfterUpdate("key"), files[9]);
    }
};

QTEST_APPLESS_MAIN(TestConfig)
#include "test_config.moc"
