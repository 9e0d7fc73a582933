// The firmware download page against the local update service, through the
// real main window and the simulated device.
#include "app/logfile.h"
#include "app/state/history.h"
#include "app/state/updateevents.h"
#include "config/configdal.h"
#include "pages/progresspanel.h"
#include "sim/forwardproxy.h"
#include "support/files.h"
#include "support/filesizecap.h"
#include "support/logcapture.h"
#include "support/rig.h"
#include "util/utility.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QMovie>
#include <QPushButton>

namespace {
// Where QDesktopServices opens a file: URL, as a test receives it.
class OpenedUrls : public QObject {
    Q_OBJECT
public slots:
    void open(const QUrl& url) { urls << url; }

public:
    QList<QUrl> urls;
};

const QByteArray kUpdateStart = QByteArray::fromHex("6E011C010101") + QByteArray(22, '\0') +
                                QByteArray::fromHex("018F6E0134288F");
const int kWait = 15000;
const int kTransferTimeoutMs = 3000;
// A name only the proxy knows: direct requests to it fail.
const QString kProxiedBaseUrl = QStringLiteral("http://tembra-update.invalid:%1/");
const QByteArray kEarlierFirmware(1000, '\x5A');

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
}

} // namespace

class TestDownload : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        // A service that stays silent fails after this long, not 30 s.
        WebDAL::SetTransferTimeoutMs(kTransferTimeoutMs);
        // The system's proxy setting, as a desktop session sets it; Qt never
        // sends requests for 127.0.0.1 through it, only those for the name.
        qputenv("http_proxy", "http://127.0.0.1:1/");
        qunsetenv("no_proxy");
    }

    // A download that arrives whole and matches its checksum replaces the
    // earlier file and starts the update, also behind a redirect and with a
    // message the settings file cannot hold as it is.
    void acceptedDownloadStartsTheUpdate_data() {
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("requests");
        QTest::addColumn<bool>("proxied");
        QTest::newRow("direct") << int(sim::ServiceFault::None) << 2 << false;
        QTest::newRow("behind a redirect") << int(sim::ServiceFault::Redirect) << 3 << false;
        QTest::newRow("U+FFFE in the message")
            << int(sim::ServiceFault::NonCharacter) << 2 << false;
        QTest::newRow("through the system's proxy") << int(sim::ServiceFault::None) << 2 << true;
    }
    void acceptedDownloadStartsTheUpdate() {
        QFETCH(int, fault);
        QFETCH(int, requests);
        QFETCH(bool, proxied);
        Rig rig;
        rig.service.setFault(static_cast<sim::ServiceFault>(fault));
        sim::ForwardProxy proxy(rig.service.port());
        if (proxied) {
            const int port = proxy.start();
            QVERIFY(port > 0);
            qputenv("http_proxy", QByteArray("http://127.0.0.1:") + QByteArray::number(port) + "/");
            WebDAL::SetBaseUrl(kProxiedBaseUrl.arg(rig.service.port()));
        }
        writeFile(rig.downloadPath(), kEarlierFirmware);
        QVERIFY(rig.identify());
        // Shown before anything is installed, and installed as shown: the
        // press asks the service nothing more.
        auto* offer = rig.page<InitPage>()->findChild<QLabel*>("offerMsg");
        QCOMPARE(offer->text(), QStringLiteral("Firmware 1.3.0 is available: New firmware 1.3.0"));
        QCOMPARE(offer->accessibleDescription(), QStringLiteral("New firmware 1.3.0"));
        XModemDAL::FileData = "tiny"; // a small cached file is never checked in its place
        rig.pressUpdate();
        QTRY_VERIFY_WITH_TIMEOUT(rig.page<XModemUpdate>(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(rig.received().toHex(), kUpdateStart.toHex(), kWait);
        QCOMPARE(rig.status(), QStringLiteral("wait for update firmware..."));
        QCOMPARE(Globals::NoDeviceMessage.get(), QStringLiteral("Processing"));
        QCOMPARE(Globals::UpdateFilePath, rig.downloadPath());
        QCOMPARE(Globals::FileCrc, rig.checksum());
        QCOMPARE(fileBytes(rig.downloadPath()), toQBytes(rig.firmware));
        QCOMPARE(ConfigDAL::GetUpdateBrand("isneedupdate"), QStringLiteral("true"));
        QCOMPARE(ConfigDAL::GetUpdateBrand("version"), QStringLiteral("1.3.0"));
        QCOMPARE(ConfigDAL::GetUpdateBrand("updatemessage"), QStringLiteral("New firmware 1.3.0"));
        QCOMPARE(QDir(rig.dir.path()).entryList(QDir::Files), QStringList{"Latest.bin"});

        const auto recorded = rig.service.requests();
        QCOMPARE(int(recorded.size()), requests);
        QCOMPARE(QString::fromStdString(recorded[0].body),
                 QStringLiteral("deviceType=Tembra&deviceName=Tembra&version=0.1"));
        QCOMPARE(QString::fromStdString(recorded.back().method), QStringLiteral("GET"));
        for (size_t i = rig.requestsAtPress; i < recorded.size(); ++i)
            QCOMPARE(QString::fromStdString(recorded[i].method), QStringLiteral("GET"));
        QCOMPARE(proxy.forwarded(), proxied ? 1 : 0);
    }

    void pageLayout() {
        Rig rig;
        rig.service.setFault(sim::ServiceFault::Silent); // the page waits for its answer
        QVERIFY(rig.identify());
        rig.pressUpdate();
        auto* page = rig.page<XModemUpdate>();
        QVERIFY(page);
        QCOMPARE(page->pageName, QStringLiteral("XModemUpdate"));
        QCOMPARE(page->geometry(), QRect(0, 0, 539, 203));
        auto* animation = page->findChild<QLabel*>("handlerStatus");
        QVERIFY(animation && animation->movie());
        QVERIFY(animation->movie()->isValid());
        QCOMPARE(animation->geometry(), QRect(476, 66, 31, 41));
        auto* status = page->findChild<QLabel*>("statusMsg");
        QCOMPARE(status->geometry(), QRect(6, 70, 471, 41));
        QCOMPARE(Globals::StatusLabel.data(), status);
        QCOMPARE(page->downloadPath(), rig.downloadPath());
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), QStringLiteral("wait for update firmware.."),
                                  10000);
    }

    // The service's decision; and a device that already has the offered
    // version, which asks first (the keyboard's answer is no).
    void updateDecision_data() {
        QTest::addColumn<int>("fault");
        QTest::addColumn<bool>("downloads");
        QTest::addColumn<int>("sameVersionAnswer"); // -1: the device has 1.2.7
        QTest::newRow("TRUE in capitals") << int(sim::ServiceFault::UpperTrue) << true << -1;
        QTest::newRow("text 1") << int(sim::ServiceFault::NumericOne) << false << -1;
        QTest::newRow("false") << int(sim::ServiceFault::NoUpdate) << false << -1;
        QTest::newRow("same version, Return")
            << int(sim::ServiceFault::None) << false << int(Qt::Key_Return);
        QTest::newRow("same version, yes")
            << int(sim::ServiceFault::None) << true << int(QMessageBox::Yes);
    }
    void updateDecision() {
        QFETCH(int, fault);
        QFETCH(bool, downloads);
        QFETCH(int, sameVersionAnswer);
        sim::DeviceConfig config;
        if (sameVersionAnswer >= 0)
            config.version[1] = 3, config.version[2] = 0;
        Rig rig(config);
        rig.service.setFault(static_cast<sim::ServiceFault>(fault));
        QVERIFY(rig.identify());
        // What was done to the device stays, whatever is answered.
        const QString result = QStringLiteral("Updated from 1.2.7 to 1.3.0");
        Globals::ResultLine = result;
        rig.pressUpdate();
        if (sameVersionAnswer >= 0) {
            QMessageBox* box = nullptr;
            QTRY_VERIFY_WITH_TIMEOUT(
                box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()), kWait);
            QCOMPARE(box->text(), QStringLiteral("The device already has 1.3.0. Update it again?"));
            if (sameVersionAnswer == QMessageBox::Yes)
                box->button(QMessageBox::Yes)->click();
            else
                QTest::keyClick(box, Qt::Key(sameVersionAnswer));
        }
        if (downloads) {
            QTRY_COMPARE_WITH_TIMEOUT(rig.received().toHex(), kUpdateStart.toHex(), kWait);
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(rig.requestsSincePress() == 1 && rig.page<InitPage>(), kWait);
        QCOMPARE(rig.getRequests(), 0);
        QCOMPARE(rig.received(), QByteArray());
        QCOMPARE(rig.page<InitPage>()->findChild<QLabel*>("resultMsg")->text(), result);
        // The page answers the press: what it came to, where it says what is offered.
        QCOMPARE(rig.page<InitPage>()->findChild<QLabel*>("offerMsg")->text(),
                 sameVersionAnswer >= 0 ? QStringLiteral("Your device is up to date (1.3.0)")
                                        : QStringLiteral("The update service offers nothing for "
                                                         "this device"));
        Globals::ResultLine.clear();
    }

    // Whatever goes wrong, nothing is sent to the device, and the earlier
    // firmware file stays byte for byte. A failed version check says why,
    // then shows the device information page again.
    void failedDownloadsSendNothing_data() {
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("sizeCap"); // bytes a file may grow to, 0: no cap
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("downloads");
        const QString error = "update file error";
        using F = sim::ServiceFault;
        QTest::newRow("wrong checksum") << int(F::WrongCrc) << 0 << error << 1;
        QTest::newRow("no checksum") << int(F::NoChecksum) << 0 << error << 0;
        QTest::newRow("checksum not a number") << int(F::TextChecksum) << 0 << error << 0;
        QTest::newRow("cut short") << int(F::CutDownload) << 0 << error << 1;
        QTest::newRow("download stalls") << int(F::StallDownload) << 0 << error << 1;
        QTest::newRow("HTTP 404") << int(F::Missing) << 0 << error << 1;
        QTest::newRow("HTTP 500") << int(F::ImageError) << 0 << error << 1;
        QTest::newRow("disk full") << int(F::None) << 2048 << error << 1;
        QTest::newRow("file url") << int(F::FileScheme) << 0 << error << 0;
        QTest::newRow("version check refused")
            << -1 << 0 << "Cannot reach the update service: Connection refused" << 0;
        QTest::newRow("version check HTTP 500")
            << int(F::Http500) << 0 << "The update service answered HTTP 500, Internal Server Error"
            << 0;
        QTest::newRow("version check HTTP 503")
            << int(F::Unavailable) << 0
            << "The update service answered HTTP 503, Service Unavailable" << 0;
        QTest::newRow("version check silent")
            << int(F::Silent) << 0 << "The update service did not answer for 3 s" << 0;
        QTest::newRow("version check refused by the service")
            << int(F::Refused) << 0 << "The update service refused the request: invalid token" << 0;
        const QString garbled = "The update service sent an answer that cannot be read";
        QTest::newRow("not JSON") << int(F::NotJson) << 0 << garbled << 0;
        QTest::newRow("HTML page") << int(F::HtmlPage) << 0 << garbled << 0;
    }
    void failedDownloadsSendNothing() {
        QFETCH(int, fault);
        QFETCH(int, sizeCap);
        QFETCH(QString, text);
        QFETCH(int, downloads);
        Rig rig;
        if (fault >= 0)
            rig.service.setFault(static_cast<sim::ServiceFault>(fault));
        writeFile(rig.downloadPath(), kEarlierFirmware);
        if (fault < 0)
            rig.service.stop();
        QVERIFY(rig.identify());
        LogCapture log;
        std::unique_ptr<FileSizeCap> cap;
        if (sizeCap > 0)
            cap = std::make_unique<FileSizeCap>(static_cast<rlim_t>(sizeCap));
        rig.pressUpdate();
        QTRY_COMPARE_WITH_TIMEOUT(rig.status(), text, kWait);
        cap.reset();
        QVERIFY(rig.page<XModemUpdate>());
        QVERIFY(rig.page<XModemUpdate>()->findChild<QLabel*>("handlerStatus")->isHidden());
        QCOMPARE(rig.getRequests(), downloads);
        QCOMPARE(fileBytes(rig.downloadPath()), kEarlierFirmware);
        QCOMPARE(QDir(rig.dir.path()).entryList(QDir::Files), QStringList{"Latest.bin"});
        QVERIFY(!QTest::qWaitFor([&] { return !rig.received().isEmpty(); }, 300));
        QCOMPARE(Globals::NoDeviceMessage.get(), QStringLiteral("Please plug in your device"));
        if (sizeCap > 0)
            QVERIFY(log.contains("cannot write the firmware file"));
        if (text != QLatin1String("update file error")) {
            QVERIFY(log.contains("version check failed: " + text));
            auto* label = rig.page<XModemUpdate>()->findChild<QLabel*>("statusMsg");
            QVERIFY(label->wordWrap() || // a long text wraps instead of being cut off at both ends
                    QFontMetrics(label->font()).horizontalAdvance(text) <= label->width());
        }
        if (fault != int(sim::ServiceFault::Unavailable) &&
            fault != int(sim::ServiceFault::WrongCrc))
            return;
        // The way on: the device information page, from where the update
        // can be started again; it says what failed, when, and what to do,
        // and keeps saying it.
        QTRY_VERIFY_WITH_TIMEOUT(rig.page<InitPage>(), kWait);
        QCOMPARE(rig.received(), QByteArray());
        auto* failure = rig.page<InitPage>()->findChild<QLabel*>("failureMsg");
        QVERIFY(failure->isVisibleTo(rig.page<InitPage>()));
        const QRegularExpression said(
            "^\\d\\d?:\\d\\d(:\\d\\d)?[^:]*: " + QRegularExpression::escape(text) +
            "(: .*)?\\. .*1\\.Update Firmware");
        const QString line = failure->text().replace('\n', ' ');
        QVERIFY2(said.match(line).hasMatch(), qPrintable(line));
        InitPage* page = rig.page<InitPage>();
        QVERIFY(!QTest::qWaitFor(
            [&] { return rig.page<InitPage>() != page || failure->isHidden(); }, 3000));
        // Gone with the next attempt.
        rig.service.setFault(sim::ServiceFault::NoUpdate);
        rig.pressUpdate();
        QTRY_VERIFY_WITH_TIMEOUT(rig.page<InitPage>() && rig.page<InitPage>() != page, kWait);
        QVERIFY(rig.page<InitPage>()->findChild<QLabel*>("failureMsg")->isHidden());
    }

    // An answer that cannot be stored is a failed check, said as such: the
    // answer stored before (which offered an update) is never acted on.
    void unstorableAnswerIsAFailedCheck() {
        Rig rig;
        rig.service.setFault(sim::ServiceFault::NoUpdate);
        QVERIFY(rig.identify());
        QVERIFY(ConfigDAL::WriteConfig(
            {{"isneedupdate", "true"},
             {"updateurl", QString::fromStdString(rig.service.baseUrl()) + "firmware/Latest.bin"},
             {"fileCRCSize", QString::number(rig.checksum())}},
            Globals::AppPath + "//cfg//UpdateBrand.xml"));
        QSignalSpy failed(UpdateEvents::instance(), &UpdateEvents::RunFailed);
        {
            FileSizeCap cap(64);
            rig.pressUpdate();
            QTRY_VERIFY_WITH_TIMEOUT(!failed.isEmpty(), kWait);
        }
        QVERIFY(rig.status().startsWith("The answer of the update service cannot be stored in "));
        QCOMPARE(failed.first().at(0).toInt(), int(UpdateEvents::Failure::Service));
        QVERIFY(!QTest::qWaitFor([&] { return rig.getRequests() > 0; }, 300));
        QCOMPARE(rig.received(), QByteArray());
    }

    void progressText_data() {
        QTest::addColumn<qint64>("read");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<QString>("text");
        QTest::newRow("1023 bytes")
            << qint64(1023) << qint64(4096) << " downloading firmware  0/4 kb";
        QTest::newRow("1024 bytes")
            << qint64(1024) << qint64(4096) << " downloading firmware  1/4 kb";
        QTest::newRow("unknown total")
            << qint64(5000) << qint64(-1) << " downloading firmware  4/0 kb";
        QTest::newRow("beyond 4 GiB")
            << qint64(5) * 1024 * 1024 * 1024 << qint64(6) * 1024 * 1024 * 1024
            << " downloading firmware  5242880/6291456 kb";
    }
    void progressText() {
        QFETCH(qint64, read);
        QFETCH(qint64, total);
        QFETCH(QString, text);
        Globals::AppPath = QDir::tempPath();
        Globals::PortName = QStringLiteral("NoDevice");
        Globals::DeviceModel = QStringLiteral("131152M2300101");
        XModemUpdate page;
        Globals::IsNeedGetUpdateFileAgain = true;
        page.updateProgress(read, total);
        QCOMPARE(page.findChild<QLabel*>("statusMsg")->text(), text);
        QVERIFY(!Globals::IsNeedGetUpdateFileAgain);
    }

    void unreadableSecondAnswerIsNotStored() {
        Rig rig;
        rig.service.setFault(sim::ServiceFault::NoUpdate);
        QVERIFY(rig.identify());
        rig.pressUpdate();
        QTRY_VERIFY_WITH_TIMEOUT(rig.requestsSincePress() == 1 && rig.page<InitPage>(), kWait);
        QCOMPARE(ConfigDAL::GetUpdateBrand("isneedupdate"), QStringLiteral("false"));
        QVERIFY(!ConfigDAL::GetUpdateBrand("updateurl").isEmpty());

        // An answer that cannot be read is said on the page and not stored.
        QTRY_VERIFY_WITH_TIMEOUT(rig.page<InitPage>(), kWait);
        rig.service.setFault(sim::ServiceFault::NotJson);
        rig.pressUpdate();
        QTRY_VERIFY_WITH_TIMEOUT(rig.requestsSincePress() == 1, kWait);
        QTRY_COMPARE_WITH_TIMEOUT(rig.status(),
                                  "The update service sent an answer that cannot be read", kWait);
        QCOMPARE(ConfigDAL::GetUpdateBrand("isneedupdate"), QStringLiteral("false"));
        QCOMPARE(rig.getRequests(), 0);
    }

    void unwritableDownloadFile() {
        Rig rig;
        QVERIFY(QDir().mkpath(rig.downloadPath())); // a folder where the file should go
        QVERIFY(rig.identify());
        LogCapture log;
        rig.pressUpdate();
        QTRY_VERIFY_WITH_TIMEOUT(log.contains("文件无法打开"), kWait);
        QCOMPARE(rig.status(), QStringLiteral("update file error"));
        QCOMPARE(rig.getRequests(), 0);
        QCOMPARE(rig.received(), QByteArray());
    }

    void emptyModelAsksTheDevice() {
        Rig rig;
        QVERIFY(rig.identify());
        Globals::DeviceModel.clear();
        rig.pressUpdate();
        QTRY_COMPARE_WITH_TIMEOUT(rig.received(), QByteArray("c"), 10000);
        QCOMPARE(Globals::currentOrder, 33);
        QCOMPARE(rig.requestsSincePress(), size_t(0));
    }

    void pageClosedDuringDownload() {
        Rig rig(sim::DeviceConfig(), sim::makeFirmwareImage(200 * 1024, 1, 3, 0));
        rig.service.setFault(sim::ServiceFault::SlowBody);
        QVERIFY(rig.identify());
        rig.pressUpdate();
        QTRY_VERIFY_WITH_TIMEOUT(rig.status().startsWith(" downloading firmware  "), kWait);
        QPointer<XModemUpdate> page = rig.page<XModemUpdate>();
        AddControl(new NoDevice());
        QTRY_VERIFY_WITH_TIMEOUT(page.isNull(), 10000);
        const qint64 size = QFileInfo(rig.downloadPath()).size();
        QVERIFY(size < 200 * 1024);
        QVERIFY(
            !QTest::qWaitFor([&] { return QFileInfo(rig.downloadPath()).size() != size; }, 300));
        QCOMPARE(rig.received(), QByteArray());
    }

    // A file of the user's, dropped on the device page or picked with Ctrl+O:
    // the question names it and the device's version, No is the default, and
    // yes installs it without asking the service. A file that cannot be
    // installed is said on the device page, and nothing is asked.
    void chosenFileIsAskedFirst_data() {
        QTest::addColumn<bool>("dropped");
        QTest::addColumn<QByteArray>("bytes"); // a file's
        QTest::addColumn<bool>("folder");
        QTest::addColumn<int>("answer"); // -1: no question
        QTest::addColumn<QString>("name");
        const QByteArray image = toQBytes(sim::makeFirmwareImage(3000, 1, 3, 1));
        const QString plain = "tembra-1.3.1.bin";
        QTest::newRow("dropped, yes") << true << image << false << int(QMessageBox::Yes) << plain;
        QTest::newRow("Ctrl+O, Return") << false << image << false << int(Qt::Key_Return) << plain;
        QTest::newRow("dropped, Escape") << true << image << false << int(Qt::Key_Escape) << plain;
        QTest::newRow("a folder") << true << QByteArray() << true << -1 << plain;
        QTest::newRow("an empty file, picked") << false << QByteArray() << false << -1 << plain;
        // Its name is text: markup, a line break and a direction override
        // neither render nor act, and the size and SHA-256 stay in sight.
        QTest::newRow("a name of markup, a line break and a direction override")
            << true << image << false << int(Qt::Key_Escape)
            << QString::fromUtf8("<b>tembra-1.3.1.bin<!--\n\u202enib");
    }
    void chosenFileIsAskedFirst() {
        QFETCH(bool, dropped);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, folder);
        QFETCH(int, answer);
        QFETCH(QString, name);
        Rig rig;
        rig.window->show();
        QVERIFY(QTest::qWaitForWindowActive(rig.window.get()));
        QTemporaryDir files;
        const QString path = files.filePath(folder ? "tembra-1.3.1" : name);
        if (folder)
            QVERIFY(QDir().mkpath(path));
        else
            writeFile(path, bytes);
        QVERIFY(rig.identify());
        rig.device->clearReceived();
        const size_t asked = rig.service.requests().size(); // what is offered, when identified
        if (dropped) {
            QMimeData mime;
            mime.setUrls({QUrl::fromLocalFile(path)});
            QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &mime, Qt::LeftButton,
                                  Qt::NoModifier);
            QApplication::sendEvent(rig.window.get(), &enter);
            QVERIFY(enter.isAccepted());
            QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &mime, Qt::LeftButton,
                            Qt::NoModifier);
            QApplication::sendEvent(rig.window.get(), &drop);
        } else {
            QTest::keyClick(rig.window->windowHandle(), Qt::Key_O, Qt::ControlModifier);
            QFileDialog* dialog = nullptr;
            QTRY_VERIFY_WITH_TIMEOUT(dialog = rig.window->findChild<QFileDialog*>("firmwareDialog"),
                                     kWait);
            // As the keyboard alone picks it: the path typed, then Return.
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            QVERIFY(name);
            name->setText(path);
            QTest::keyClick(name, Qt::Key_Return);
        }
        if (answer < 0) {
            auto* line = rig.page<InitPage>()->findChild<QLabel*>("failureMsg");
            QTRY_VERIFY_WITH_TIMEOUT(
                line->accessibleName().contains(folder ? "is a folder" : "is empty"), kWait);
            QVERIFY(line->accessibleName().endsWith("Choose another file. Details: Ctrl+L"));
            QVERIFY(!QApplication::activeModalWidget());
        } else {
            QMessageBox* box = nullptr;
            QTRY_VERIFY_WITH_TIMEOUT(
                box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()), kWait);
            QCOMPARE(box->objectName(), QStringLiteral("installQuestion"));
            const QString sha = QString::fromLatin1(
                QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().left(12));
            QCOMPARE(box->textFormat(), Qt::PlainText);
            QCOMPARE(box->text(), QStringLiteral("Install %1 (3 KB, sha256 %2…) on the device "
                                                 "(now 1.2.7)?")
                                      .arg(Utility::Displayable(name), sha));
            QVERIFY(!box->text().contains('\n') && !box->text().contains(QChar(0x202e)));
            if (answer == QMessageBox::Yes)
                box->button(QMessageBox::Yes)->click();
            else
                QTest::keyClick(box, Qt::Key(answer));
        }
        if (answer == QMessageBox::Yes) {
            QTRY_COMPARE_WITH_TIMEOUT(rig.received().toHex(), kUpdateStart.toHex(), kWait);
            QCOMPARE(fileBytes(rig.dir.filePath("Chosen.bin")), bytes);
            QCOMPARE(Globals::FileCrc, int(sim::UpdateService::fileChecksum(
                                           std::vector<uint8_t>(bytes.begin(), bytes.end()))));
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(!QApplication::activeModalWidget(), kWait);
            QVERIFY(rig.page<InitPage>());
            QVERIFY(!QFileInfo::exists(rig.dir.filePath("Chosen.bin")));
            QVERIFY(!QTest::qWaitFor([&] { return !rig.received().isEmpty(); }, 300));
        }
        QCOMPARE(rig.service.requests().size(), asked);
        QVERIFY(!QFileInfo::exists(rig.downloadPath()));
    }

    // A file the user chose stays chosen after a failed try: the device,
    // back in its boot loader, gets that file, and the service is never asked.
    void chosenFileStaysAfterAFailure() {
        sim::DeviceConfig config;
        config.wrongCrcReplies = 1000;
        Rig rig(config);
        rig.window->show();
        QVERIFY(QTest::qWaitForWindowActive(rig.window.get()));
        QTemporaryDir files;
        const QByteArray bytes = toQBytes(sim::makeFirmwareImage(3000, 1, 3, 1));
        const QString path = files.filePath("tembra-1.3.1.bin");
        writeFile(path, bytes);
        QVERIFY(rig.identify());
        const size_t asked = rig.service.requests().size(); // what is offered, when identified
        rig.window->OfferFirmwareFile(path);
        QMessageBox* box = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT(
            box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()), kWait);
        box->button(QMessageBox::Yes)->click();
        QTRY_VERIFY_WITH_TIMEOUT(rig.status().contains("checksum that does not match"), 60000);
        config.wrongCrcReplies = 0; // unplugged and plugged in again, it checks well
        rig.device->configure(config);
        rig.device->replug(300);
        QTRY_VERIFY_WITH_TIMEOUT(rig.page<InitPage>() && Device::VersionInfo == "1.3.1", 60000);
        // Ended well: the failure on the way is gone from the page.
        QVERIFY(rig.page<InitPage>()->findChild<QLabel*>("failureMsg")->isHidden());
        // Identified again, the page asks what is offered now; nothing else was asked.
        QVERIFY(rig.service.requests().size() <= asked + 1);
        for (const auto& request : rig.service.requests())
            QVERIFY(request.method != "GET");
        QCOMPARE(toQBytes(rig.device->receivedImage()).left(bytes.size()), bytes);
    }

    // Where the service cannot be reached, the device page says so quietly,
    // and the button asks it as ever.
    void offerNotKnown() {
        Rig rig;
        rig.service.stop();
        QVERIFY(rig.identify());
        QCOMPARE(rig.page<InitPage>()->findChild<QLabel*>("offerMsg")->text(),
                 QStringLiteral("The update service cannot be reached now"));
        QVERIFY(rig.page<InitPage>()->findChild<QLabel*>("failureMsg")->isHidden());
    }

    // A device the update history has an update of: its page says when, and
    // from what to what; the window's own update is recorded.
    void lastUpdateOnThePage() {
        Rig rig;
        History::Record earlier;
        earlier.ended = QDateTime(QDate(2026, 12, 9), QTime(14, 2));
        earlier.deviceNumber = "F1311520230010042357";
        earlier.versionBefore = "1.2.6";
        earlier.versionAfter = "1.2.7";
        earlier.result = "updated";
        QVERIFY(History::Append(earlier));
        QVERIFY(rig.identify());
        auto* note = rig.page<InitPage>()->findChild<QLabel*>("noteMsg");
        QTRY_COMPARE_WITH_TIMEOUT(
            note->text(), QStringLiteral("Last updated 2026-12-09 14:02 from 1.2.6 to 1.2.7"),
            kWait);
        rig.pressUpdate();
        QTRY_VERIFY_WITH_TIMEOUT(rig.page<InitPage>() && Device::VersionInfo == "1.3.0", kWait);
        QTRY_COMPARE_WITH_TIMEOUT(int(History::Read().size()), 2, kWait);
        const History::Record now = History::Read().last();
        QCOMPARE(now.result, QStringLiteral("updated"));
        QCOMPARE(now.versionBefore + " -> " + now.versionAfter, QStringLiteral("1.2.7 -> 1.3.0"));
        QCOMPARE(now.deviceNumber, earlier.deviceNumber);
    }

    // With two devices plugged in, the page says which one it shows and
    // that the other is left alone.
    void twoDevicesPlugged() {
        Rig rig;
        sim::SimDevice& other = rig.addOther("F1311520230010099999");
        QVERIFY(rig.identify());
        auto* note = rig.page<InitPage>()->findChild<QLabel*>("noteMsg");
        QTRY_VERIFY_WITH_TIMEOUT(note->isHidden(), kWait);
        other.plug();
        QTRY_VERIFY_WITH_TIMEOUT(note->isVisibleTo(rig.page<InitPage>()), kWait);
        QCOMPARE(note->text(),
                 QStringLiteral("This is the device on %1; the other device is left alone")
                     .arg(QString::fromStdString(rig.device->portPath())));
        QCOMPARE(Device::WatchId, QStringLiteral("F1311520230010042357"));
    }

    // The log within reach: Ctrl+L shows its folder (no file manager on the
    // bus here), "Copy details" puts its path and the last failure on the
    // clipboard, and a failure line says where the details are.
    void logWithinReach() {
        QTemporaryDir logs;
        LogFile::Start(logs.path(), {QStringLiteral("test")});
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        OpenedUrls opened;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &opened, "open");
        Rig rig;
        rig.window->show();
        QVERIFY(QTest::qWaitForWindowActive(rig.window.get()));
        rig.service.setFault(sim::ServiceFault::Unavailable);
        QVERIFY(rig.identify());
        rig.pressUpdate();
        QTRY_VERIFY_WITH_TIMEOUT(rig.page<InitPage>() && !Globals::FailureLine.isEmpty(), kWait);
        QVERIFY(Globals::FailureLine.endsWith(QStringLiteral("Details: Ctrl+L")));
        QTest::keyClick(rig.window->windowHandle(), Qt::Key_L, Qt::ControlModifier);
        QTRY_COMPARE_WITH_TIMEOUT(opened.urls.size(), 1, kWait);
        QCOMPARE(opened.urls.first().toLocalFile(), QFileInfo(LogFile::Path()).absolutePath());
        rig.window->CopyDetails();
        const QString details = QApplication::clipboard()->text();
        QVERIFY2(details.contains("Log: " + LogFile::Path()) &&
                     details.contains("Last failure: " + Globals::FailureLine),
                 qPrintable(details));
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        LogFile::Stop(false);
        // Without a log the press is answered, not ignored.
        QTest::keyClick(rig.window->windowHandle(), Qt::Key_L, Qt::ControlModifier);
        QMessageBox* box = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((box = rig.window->findChild<QMessageBox*>()), kWait);
        QCOMPARE(box->text(), QStringLiteral("There is no log file of this run to show."));
        box->close();
    }

    // The failure line fits the foot of the page in two lines of about one
    // length (never a last word alone), clear of the buttons' focus ring.
    void failureLineFits_data() {
        QTest::addColumn<QString>("line");
        QTest::newRow("English") << "14:02: The update service answered HTTP 503, Service "
                                    "Unavailable. Wait a while, then press 1.Update Firmware to "
                                    "try again. Details: Ctrl+L";
        QTest::newRow("German") << QString::fromUtf8(
            "14:02: Der Aktualisierungsdienst antwortete HTTP 503, Service "
            "Unavailable. Warten Sie eine Weile und drücken Sie dann "
            "1.Firmware aktualisieren, um es erneut zu versuchen. Details: "
            "Strg+L");
        QTest::newRow("Chinese") << QString::fromUtf8(
            "14:02: 更新服务返回 HTTP 503, Service Unavailable。请稍候，然后按 1.更新固件 重试。"
            "详细信息：Ctrl+L");
    }
    void failureLineFits() {
        QFETCH(QString, line);
        Globals::FailureLine = line;
        InitPage page;
        page.resize(539, 203);
        Globals::FailureLine.clear();
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        auto* failure = page.findChild<QLabel*>("failureMsg");
        auto* button = page.findChild<QPushButton*>("BtnUpdate");
        QVERIFY(QRect(0, 0, 539, 203).contains(failure->geometry()));
        const QRect ring = button->geometry().adjusted(-3, -3, 3, 3);
        QVERIFY(!failure->geometry().intersects(ring));
        const QFontMetrics metrics(failure->font());
        const QStringList lines = failure->text().split('\n');
        QVERIFY2(lines.size() <= 2, qPrintable(failure->text()));
        QVERIFY(
            metrics
                .boundingRect(failure->rect(), Qt::AlignCenter | Qt::TextWordWrap, failure->text())
                .height() <= failure->height());
        for (const QString& one : lines)
            QVERIFY2(metrics.horizontalAdvance(one) <= failure->width(), qPrintable(one));
        if (lines.size() == 2) // no orphan: the lines are of about one length
            QVERIFY2(metrics.horizontalAdvance(lines.last()) * 2 >=
                         metrics.horizontalAdvance(lines.first()),
                     qPrintable(failure->text()));
        QCOMPARE(failure->accessibleName(), line);
    }

    // Lost before anything was sent to it, the device is not waited for in
    // the window: another one plugged in is shown, and not updated unasked.
    void anotherDeviceAfterALossBeforeTheSwitch() {
        Rig rig;
        rig.service.setFault(sim::ServiceFault::SlowBody);
        sim::SimDevice& other = rig.addOther("F1311520230010099999");
        QVERIFY(rig.identify());
        rig.pressUpdate();
        QTRY_VERIFY_WITH_TIMEOUT(
            UpdateEvents::instance()->phase() == UpdateEvents::Phase::Downloading, kWait);
        rig.device->unplug();
        QTRY_VERIFY_WITH_TIMEOUT(rig.status().contains("before its update began"), kWait);
        other.plug();
        QTRY_VERIFY_WITH_TIMEOUT(rig.page<InitPage>() &&
                                     Device::WatchId == QStringLiteral("F1311520230010099999"),
                                 kWait);
        QCOMPARE(UpdateEvents::instance()->phase(), UpdateEvents::Phase::Idle);
        QVERIFY(!QTest::qWaitFor([&] { return other.firstEvent("frame:1C01", nullptr); }, 2000));
    }

    // What the release brings, under the bar: at most three lines that fit
    // the label, cut with "…" when more is left, whatever the service sends.
    void notesFitThreeLines_data() {
        QTest::addColumn<QString>("notes");
        QTest::addColumn<int>("lines");
        QTest::addColumn<bool>("cut");
        QTest::newRow("one line") << "Fixes the step counter" << 1 << false;
        QTest::newRow("three paragraphs") << "One\nTwo\nThree" << 3 << false;
        // The rest joins the last line where it fits.
        QTest::newRow("five short paragraphs") << "One\nTwo\nThree\nFour\nFive" << 3 << false;
        QTest::newRow("a long paragraph")
            << QString("Better battery life. ").repeated(40) << 3 << true;
        QTest::newRow("one word of 4096 letters") << QString(4096, 'W') << 3 << true;
        QTest::newRow("markup, as text") << "<b>bold</b> &amp; <img src=x>" << 1 << false;
    }
    void notesFitThreeLines() {
        QFETCH(QString, notes);
        QFETCH(int, lines);
        QFETCH(bool, cut);
        QWidget page;
        page.resize(539, 203);
        ProgressPanel panel(&page);
        QLabel* label = panel.notesLine();
        label->ensurePolished();
        QCOMPARE(label->textFormat(), Qt::PlainText);
        const QString shown = ProgressPanel::FirstLines(notes, label->font(), label->width(), 3);
        const QStringList shownLines = shown.split('\n');
        QCOMPARE(int(shownLines.size()), lines);
        const QFontMetrics metrics(label->font());
        for (const QString& line : shownLines)
            QVERIFY2(metrics.horizontalAdvance(line) <= label->width(), qPrintable(line));
        QCOMPARE(shown.endsWith(QStringLiteral("…")), cut);
        QVERIFY(
            metrics.boundingRect(QRect(0, 0, label->width(), 1000), Qt::AlignTop, shown).height() <=
            label->height());
    }

    void bootLoaderWithKnownDeviceGoesToTheDownloadPage() {
        sim::DeviceConfig config;
        config.startMode = sim::Mode::BootLoader;
        Rig rig(config);
        Device::DeviceInfo = QStringLiteral("131152M2300101");
        Globals::DeviceModel = Device::DeviceInfo;
        rig.device->plug();
        QTRY_VERIFY_WITH_TIMEOUT(rig.page<XModemUpdate>(), 10000);
        QVERIFY(Globals::IsUpdateMode);
        QTRY_VERIFY_WITH_TIMEOUT(
            rig.received().startsWith(QByteArray::fromHex("6E0102018F6E6E0103038F6E")), 10000);
        Globals::IsUpdateMode = false;
    }
};

QTEST_MAIN(TestDownload)
#include "test_download.moc"
