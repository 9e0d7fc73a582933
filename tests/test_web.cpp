// Endpoints and requests of the update service client; the requests go out
// through a real network manager to the local update service.
#include "app/globals.h"
#include "pages/baseui.h"
#include "sim/updateservice.h"
#include "support/logcapture.h"
#include "web/jsonparser.h"
#include "web/webdal.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QtTest>
#include <climits>

namespace {
const QString kBase = QStringLiteral(TEMBRA_BASE_URL);
const QString kForm = QStringLiteral("application/x-www-form-urlencoded;charset=UTF-8");
} // namespace

class TestWeb : public QObject {
    Q_OBJECT
private slots:
    void init() {
        WebDAL::SetBaseUrl(QStringLiteral(TEMBRA_BASE_URL));
        Globals::PortName = QStringLiteral("ttyACM0");
    }

    void compiledBaseUrl() {
        QCOMPARE(WebDAL::GetBaseUrl(), QStringLiteral(TEMBRA_BASE_URL));
        QVERIFY(WebDAL::GetBaseUrl().endsWith('/'));
        WebDAL::SetBaseUrl("http://127.0.0.1:9/api");
        QCOMPARE(WebDAL::GetBaseUrl(), QStringLiteral("http://127.0.0.1:9/api/"));
    }

    void endpoints_data() {
        QTest::addColumn<uint>("id");
        QTest::addColumn<QString>("path");
        QTest::newRow("3 version check") << 3u << "common/api/check_version";
        QTest::newRow("10 login") << 10u << "sport/api/login";
        QTest::newRow("23 login again") << 23u << "sport/api/login";
        QTest::newRow("16 base itself") << 16u << QStringLiteral(TEMBRA_BASE_URL);
        QTest::newRow("31 placeholder") << 31u << "velmorix/api/sport-info/target/set/{personId}";
        QTest::newRow("33 placeholder") << 33u << "velmorix/api/sport-info/target/{personId}";
        QTest::newRow("32 own prefix") << 32u << "api/sport/get_advanced_settings";
        QTest::newRow("6 comm prefix") << 6u << "comm/api/sportdataupload";
        QTest::newRow("40 last") << 40u << "sport/api/set_device_version";
        QTest::newRow("0 none") << 0u << "";
        QTest::newRow("35 none") << 35u << "";
        QTest::newRow("41 none") << 41u << "";
        QTest::newRow("largest unsigned") << uint(UINT_MAX) << "";
    }
    void endpoints() {
        QFETCH(uint, id);
        QFETCH(QString, path);
        QCOMPARE(WebDAL::GetUrlPath(id), path);
    }

    void everyPathIsRelative() {
        for (unsigned id = 1; id <= 40; ++id) {
            const QString path = WebDAL::GetUrlPath(id);
            if (id == 35 || id == 16)
                continue;
            QVERIFY2(!path.isEmpty() && !path.startsWith('/'), qPrintable(QString::number(id)));
        }
        QCOMPARE(WebDAL::CheckVersionPath(), WebDAL::GetUrlPath(3));
        QCOMPARE(WebDAL::LoginAgainPath(), WebDAL::LoginPath());
    }

    void builtUrls() {
        QCOMPARE(WebDAL::BuildRequest(16, "").url, kBase + kBase);
        QCOMPARE(WebDAL::BuildRequest(35, "").url, kBase);
        QCOMPARE(WebDAL::BuildRequest(0, "").url, kBase);
        QCOMPARE(WebDAL::BuildRequest(31, "").url,
                 kBase + "velmorix/api/sport-info/target/set/{personId}");
    }

    void versionCheckRequest() {
        LogCapture log;
        const WebRequest req = WebDAL::CheckVersionRequest("131152M2300101", "0.1");
        QCOMPARE(req.url, kBase + "common/api/check_version");
        QCOMPARE(req.params, QStringLiteral("deviceType=Tembra&deviceName=Tembra&version=0.1"));
        QCOMPARE(req.rawHeaders.size(), 4);
        QCOMPARE(req.rawHeaders.value("access_token"),
                 QStringLiteral("5f0c3a9e71d24b68a0e9c7b13d5f2e84"));
        QCOMPARE(req.rawHeaders.value("clientType"), QStringLiteral("pc"));
        QCOMPARE(req.rawHeaders.value("version"), QStringLiteral("1.3.0"));
        QCOMPARE(req.rawHeaders.value("Cache-Control"), QStringLiteral("no-cache"));
        QCOMPARE(req.knownHeaders, (QHash<QString, QString>{{"ContentTypeHeader", kForm}}));
        QCOMPARE(log.count("请求地址URL:" + req.url + "   参数：" + req.params), 1);
        QCOMPARE(WebDAL::CheckVersionRequest("", "0.1").params, req.params);
    }

    void valuesGoInUnescaped() {
        const WebRequest req = WebDAL::CheckVersionRequest("x", "1 & 2=3");
        QCOMPARE(req.params, QStringLiteral("deviceType=Tembra&deviceName=Tembra&version=1 & 2=3"));
    }

    void prepareRefusesWithoutPort_data() {
        QTest::addColumn<QString>("portName");
        QTest::newRow("sentinel") << "NoDevice";
        QTest::newRow("empty") << "";
    }
    void prepareRefusesWithoutPort() {
        QFETCH(QString, portName);
        Globals::PortName = portName;
        BaseUI page;
        QNetworkRequest request;
        QVERIFY(!page.PrepareRequest(request, WebDAL::CheckVersionRequest("x", "0.1")));
        QVERIFY(request.url().isEmpty());
        QVERIFY(request.rawHeaderList().isEmpty());
        QVERIFY(!request.header(QNetworkRequest::ContentTypeHeader).isValid());
    }

    void prepareFillsTheRequest() {
        BaseUI page;
        QNetworkRequest request;
        QVERIFY(page.PrepareRequest(request, WebDAL::CheckVersionRequest("x", "0.1")));
        QCOMPARE(request.url(), QUrl(kBase + "common/api/check_version"));
        QCOMPARE(request.rawHeader("access_token"), QByteArray("5f0c3a9e71d24b68a0e9c7b13d5f2e84"));
        QCOMPARE(request.rawHeader("clientType"), QByteArray("pc"));
        QCOMPARE(request.rawHeader("version"), QByteArray("1.3.0"));
        QCOMPARE(request.rawHeader("Cache-Control"), QByteArray("no-cache"));
        QCOMPARE(request.header(QNetworkRequest::ContentTypeHeader).toString(), kForm);
    }

    void prepareWithEmptyOrDoubleMaps() {
        BaseUI page;
        QNetworkRequest bare;
        QVERIFY(page.PrepareRequest(bare, WebRequest("http://127.0.0.1/x", "", {}, {})));
        QVERIFY(bare.rawHeaderList().isEmpty());
        QVERIFY(!bare.header(QNetworkRequest::ContentTypeHeader).isValid());

        const QHash<QString, QString> two{{"A", "text/plain"}, {"B", "application/json"}};
        QNetworkRequest request;
        QVERIFY(page.PrepareRequest(request, WebRequest("http://127.0.0.1/x", "", {}, two)));
        QCOMPARE(request.header(QNetworkRequest::ContentTypeHeader).toString(),
                 two.value(two.keys().first()));
        QCOMPARE(request.rawHeaderList().count("Content-Type"), 1);
    }

    void postReachesTheService() {
        sim::UpdateService service;
        QVERIFY(service.start(0) > 0);
        WebDAL::SetBaseUrl(QString::fromStdString(service.baseUrl()));
        BaseUI page;
        const WebRequest req = WebDAL::CheckVersionRequest("131152M2300101", "0.1");
        QNetworkRequest request{QUrl()};
        QVERIFY(page.PrepareRequest(request, req));
        QNetworkAccessManager manager;
        QSignalSpy finished(&manager, &QNetworkAccessManager::finished);
        QNetworkReply* reply = manager.post(request, req.params.toUtf8());
        QVERIFY(finished.wait(5000));
        QCOMPARE(reply->error(), QNetworkReply::NoError);
        const auto map = JsonParser::ParseCheckVersion(QString::fromUtf8(reply->readAll()));
        QCOMPARE(map.value("result"), QStringLiteral("1"));
        QCOMPARE(map.value("isneedupdate"), QStringLiteral("true"));
        reply->deleteLater();

        const auto requests = service.requests();
        QCOMPARE(int(requests.size()), 1);
        const sim::RecordedRequest& got = requests.front();
        QCOMPARE(QString::fromStdString(got.method), QStringLiteral("POST"));
        QCOMPARE(QString::fromStdString(got.path), QStringLiteral("/common/api/check_version"));
        QCOMPARE(QString::fromStdString(got.body), req.params);
        QCOMPARE(QString::fromStdString(got.header("access_token")),
                 QStringLiteral("5f0c3a9e71d24b68a0e9c7b13d5f2e84"));
        QCOMPARE(QString::fromStdString(got.header("clientType")), QStringLiteral("pc"));
        QCOMPARE(QString::fromStdString(got.header("version")), QStringLiteral("1.3.0"));
        QCOMPARE(QString::fromStdString(got.header("Cache-Control")), QStringLiteral("no-cache"));
        QCOMPARE(QString::fromStdString(got.header("Content-Type")), kForm);
    }

    void serviceRefusesAWrongToken() {
        sim::UpdateService service;
        QVERIFY(service.start(0) > 0);
        BaseUI page;
        WebRequest req = WebDAL::CheckVersionRequest("x", "0.1");
        req.url = QString::fromStdString(service.baseUrl()) + "common/api/check_version";
        req.rawHeaders.insert("access_token", "0000");
        QNetworkRequest request;
        QVERIFY(page.PrepareRequest(request, req));
        QNetworkAccessManager manager;
        QSignalSpy finished(&manager, &QNetworkAccessManager::finished);
        QNetworkReply* reply = manager.post(request, req.params.toUtf8());
        QVERIFY(finished.wait(5000));
        const auto map = JsonParser::ParseCheckVersion(QString::fromUtf8(reply->readAll()));
        QCOMPARE(map.value("result"), QStringLiteral("401"));
        QVERIFY(!map.contains("isneedupdate"));
        reply->deleteLater();
    }

    void serviceChecksumIsTheBlockCrcSum() {
        // "123456789" padded with 0x1A to one block, computed by hand elsewhere:
        // here only its relation to single blocks is checked.
        std::vector<uint8_t> block(128, 0x1A);
        const uint32_t one = sim::UpdateService::fileChecksum(block);
        std::vector<uint8_t> two(256, 0x1A);
        QCOMPARE(sim::UpdateService::fileChecksum(two), 2 * one);
        std::vector<uint8_t> short1(1, 0x1A);
        QCOMPARE(sim::UpdateService::fileChecksum(short1), one);
        QCOMPARE(sim::UpdateService::fileChecksum({}), 0u);
    }
};

QTEST_MAIN(TestWeb)
#include "test_web.moc"
