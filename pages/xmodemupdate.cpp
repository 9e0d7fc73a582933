#include "pages/xmodemupdate.h"

#include "app/logging.h"
#include "app/mainwindow.h"
#include "app/offercheck.h"
#include "app/state/bounds.h"
#include "app/state/updateevents.h"
#include "config/configdal.h"
#include "device/xmodemdal.h"
#include "pages/initpage.h"
#include "pages/progresspanel.h"
#include "pages/question.h"
#include "ui_xmodemupdate.h"
#include "util/utility.h"
#include "web/jsonparser.h"
#include "web/webdal.h"

#include <QCryptographicHash>
#include <QDir>
#include <QMessageBox>
#include <QMovie>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QTimer>
#include <QUrl>

namespace {
const QString kLoadingGif = QStringLiteral(":/btn/Btn/loading.gif");
// Drawn at twice the size for screens scaled by 1.5 or more; its frames carry
// that pixel ratio (from the "@2x" in the name), so it shows at the same size.
const QString kLoadingGif2x = QStringLiteral(":/btn/Btn/loading@2x.gif");
const qreal kHighDensityFrom = 1.5;
const QString kFirmwareFile = QStringLiteral("/Latest.bin");
const QString kUpdateBrandFile = QStringLiteral("//cfg//UpdateBrand.xml");
// The version check always asks with this version, so that the service's
// "isneedupdate" alone decides.
const QString kRequestVersion = QStringLiteral("0.1");
const int kStartDelayMs = 2;
// Redirects followed for the firmware file (only those that keep or raise security).
const int kMaxRedirects = 5;

// Texts of the page, translated where they are shown (XModemUpdate::tr).
const char* const kTextWaitRequest =
    QT_TRANSLATE_NOOP("XModemUpdate", "wait for update firmware..");
const char* const kTextDownloading = QT_TRANSLATE_NOOP("XModemUpdate", "downloading firmware....");
const char* const kTextProgress = QT_TRANSLATE_NOOP("XModemUpdate", " downloading firmware  ");
const char* const kTextAccepted = QT_TRANSLATE_NOOP("XModemUpdate", "wait for update firmware...");
const char* const kTextRejected = QT_TRANSLATE_NOOP("XModemUpdate", "update file error");
// A version check that failed: said on the page, then the device information
// page again after kFailureShownMs, from where the update can be started anew.
const char* const kTextServiceUnreachable =
    QT_TRANSLATE_NOOP("XModemUpdate", "Cannot reach the update service: %1");
const char* const kTextServiceStatus =
    QT_TRANSLATE_NOOP("XModemUpdate", "The update service answered %1");
const char* const kTextServiceSilent =
    QT_TRANSLATE_NOOP("XModemUpdate", "The update service did not answer for %1 s");
const char* const kTextServiceGarbled =
    QT_TRANSLATE_NOOP("XModemUpdate", "The update service sent an answer that cannot be read");
const char* const kTextServiceRefused =
    QT_TRANSLATE_NOOP("XModemUpdate", "The update service refused the request: %1");
const char* const kTextWorking = QT_TRANSLATE_NOOP("XModemUpdate", "Working");
const char* const kTextFileKept =
    QT_TRANSLATE_NOOP("XModemUpdate", "The firmware file kept from before was left as it was.");
const char* const kTextSameVersionTitle = QT_TRANSLATE_NOOP("XModemUpdate", "Update again?");
const char* const kTextSameVersion =
    QT_TRANSLATE_NOOP("XModemUpdate", "The device already has %1. Update it again?");
// The device page's answer to a press that installs nothing.
const char* const kTextOffersNothing =
    QT_TRANSLATE_NOOP("XModemUpdate", "The update service offers nothing for this device");
const char* const kTextUpToDate =
    QT_TRANSLATE_NOOP("XModemUpdate", "Your device is up to date (%1)");
const char* const kTextNotStored =
    QT_TRANSLATE_NOOP("XModemUpdate", "The answer of the update service cannot be stored in %1");
const char* const kTextBootLoaderNothing = QT_TRANSLATE_NOOP(
    "XModemUpdate",
    "The device is in its boot loader, and the update service offers no firmware for it");
// The way on after a failure, for the line the device page keeps.
const char* const kAdviceTryAgain =
    QT_TRANSLATE_NOOP("XModemUpdate", "Press 1.Update Firmware to try again.");
const char* const kAdviceNetwork = QT_TRANSLATE_NOOP(
    "XModemUpdate", "Check the network connection, then press 1.Update Firmware to try again.");
const char* const kAdviceLater =
    QT_TRANSLATE_NOOP("XModemUpdate", "Wait a while, then press 1.Update Firmware to try again.");
const char* const kAdviceStorage = QT_TRANSLATE_NOOP(
    "XModemUpdate",
    "Free space in that folder or let this user write there, then press 1.Update Firmware.");
const char* const kAdviceBootLoader = QT_TRANSLATE_NOOP(
    "XModemUpdate", "Try again later, or ask support which firmware the device needs.");
// How much of a refusal's message the page shows.
const int kRefusalShown = 80;

UserText pageText(const char* source) {
    return UserText::Of("XModemUpdate", source);
}

// The toolkit's reason a request failed, in English whatever the language.
QString englishNetworkError(QNetworkReply* answer) {
    switch (answer->error()) {
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("Connection refused");
    case QNetworkReply::RemoteHostClosedError:
        return QStringLiteral("Connection closed");
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("Host %1 not found").arg(answer->url().host());
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("SSL handshake failed");
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
        return QStringLiteral("The network is not available");
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
        return QStringLiteral("The proxy cannot be used (error %1)").arg(int(answer->error()));
    default:
        return QStringLiteral("Network error %1").arg(int(answer->error()));
    }
}

bool checkOnly = false;
ChosenFirmware chosenFirmware;
const QString kChosenFile = QStringLiteral("/Chosen.bin");
const char* const kTextChosenNotKept =
    QT_TRANSLATE_NOOP("XModemUpdate", "The chosen file cannot be kept in %1: %2");
XModemUpdate::SameVersion sameVersionPolicy = XModemUpdate::SameVersion::Ask;
// The SHA-256 (hex) the firmware image must have; "" takes any.
QString expectedSha256;
// How much of a download's leftover body is logged.
const int kLoggedBody = 512;

// What went wrong with a version check, in plain words, and a word for it
// (what); "" when nothing did.
UserText versionCheckFailure(QNetworkReply* answer, const QString& text, QString* what) {
    const int status = answer->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 300) {
        *what = QStringLiteral("status");
        // Named by its status and the server's words for it: "HTTP 503, Service Unavailable".
        const QString reason = Utility::Displayable(
            QString::fromLatin1(
                answer->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray())
                .simplified()
                .left(kRefusalShown));
        return pageText(kTextServiceStatus)
            .arg(reason.isEmpty() ? QStringLiteral("HTTP %1").arg(status)
                                  : QStringLiteral("HTTP %1, %2").arg(status).arg(reason));
    }
    switch (answer->error()) {
    case QNetworkReply::NoError:
        if (JsonParser::IsAnswer(text))
            return UserText();
        *what = QStringLiteral("unreadable");
        return pageText(kTextServiceGarbled);
    case QNetworkReply::OperationCanceledError: // the transfer timeout aborts the reply
    case QNetworkReply::TimeoutError:
        *what = QStringLiteral("silent");
        return pageText(kTextServiceSilent).arg(WebDAL::TransferTimeoutMs() / 1000.0);
    default:
        *what = QStringLiteral("unreachable");
        UserText reason(answer->errorString());
        reason.english = englishNetworkError(answer);
        return pageText(kTextServiceUnreachable).arg(reason);
    }
}

// The service's own words for a refusal, shortened to what a line can hold.
QString refusal(const QHash<QString, QString>& answer) {
    QString reason = answer.value(QStringLiteral("message")).simplified();
    if (reason.isEmpty())
        reason = QStringLiteral("result ") + answer.value(QStringLiteral("result"));
    if (reason.size() > kRefusalShown)
        reason = reason.left(kRefusalShown) + QStringLiteral("...");
    return reason;
}

// The reply body as text, up to the first zero byte.
QString replyText(QNetworkReply* reply) {
    return Utility::Utf8UpToNul(reply->readAll());
}
} // namespace

void XModemUpdate::SetCheckOnly(bool only) {
    checkOnly = only;
}

XModemUpdate::XModemUpdate(QWidget* parent) : BaseUI(parent), ui(new Ui::XModemUpdate) {
    ui->setupUi(this);
    pageName = QStringLiteral("XModemUpdate");
    setGeometry(0, 0, Globals::PageWidth, Globals::PageHeight);

    movie = new QMovie(devicePixelRatioF() >= kHighDensityFrom ? kLoadingGif2x : kLoadingGif,
                       QByteArray(), this);
    ui->handlerStatus->setMovie(movie);
    ui->handlerStatus->setAccessibleName(pageText(kTextWorking).shown);

    manager = new QNetworkAccessManager(this);
    downloadManager = new QNetworkAccessManager(this);
    connect(manager, SIGNAL(finished(QNetworkReply*)), this, SLOT(replyFinished(QNetworkReply*)));
    connect(downloadManager, SIGNAL(finished(QNetworkReply*)), this,
            SLOT(replyFinished2(QNetworkReply*)));

    Globals::StatusLabel = ui->statusMsg;
    panel = new ProgressPanel(this);
    filePath = Globals::AppPath + kFirmwareFile;

    auto* timer = new QTimer(this);
    connect(timer, SIGNAL(timeout()), this, SLOT(SendRequest()));
    timer->setSingleShot(true);
    timer->start(kStartDelayMs);
}

XModemUpdate::~XModemUpdate() {
    // A download still under way is cut off here: nothing is written after
    // this point and the partial file is closed.
    if (reply) {
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
    }
    if (file) {
        file->cancelWriting();
        delete file;
        file = nullptr;
    }
    delete ui;
}

void XModemUpdate::SendRequest() {
    const int n = Globals::RequestCount;
    Globals::RequestCount = n + 1;
    qCDebug(lcPages).noquote() << "更新的时候进入了这里 " << n << Globals::DeviceModel;

    if (Globals::DeviceModel.isEmpty()) {
        XModemDAL::GetDeviceInfoWhenUpdate();
        return;
    }
    qCDebug(lcPages).noquote() << QStringLiteral("Globals::IsNeedGetUpdateFileAgain=") +
                                      (Globals::IsNeedGetUpdateFileAgain ? "true" : "false");
    if (chosenFirmware.isValid()) {
        installChosen();
        return;
    }
    // What the device page showed, asked for a moment ago, is what is installed.
    const QHash<QString, QString> shown = OfferCheck::OfferedTo(Device::WatchId);
    if (!checkOnly && !shown.isEmpty() && !Globals::IsUpdateMode) {
        qCInfo(lcPages).noquote() << "installing what the device page showed:"
                                  << Utility::Printable(shown.value(QStringLiteral("version")));
        UpdateEvents::instance()->setPhase(UpdateEvents::Phase::Checking);
        takeAnswer(shown);
        return;
    }

    const WebRequest req = WebDAL::CheckVersionRequest(Globals::DeviceModel, kRequestVersion);
    QNetworkRequest request{QUrl()};
    if (!PrepareRequest(request, req))
        return;
    request.setTransferTimeout(WebDAL::TransferTimeoutMs());
    // A redirect of the version check is an answer of its own, as Qt 5 has it
    // by default; Qt 6 would follow it.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    manager->post(request, req.params.toUtf8());

    UpdateEvents* events = UpdateEvents::instance();
    // A device found in its boot loader is updated without the button.
    if (events->phase() == UpdateEvents::Phase::Idle)
        events->updateStarted(QString());
    events->setPhase(UpdateEvents::Phase::Checking);
    ui->handlerStatus->setVisible(true);
    ui->statusMsg->setVisible(true);
    Globals::ShowStatus(ui->statusMsg, pageText(kTextWaitRequest));
    movie->start();
}

void XModemUpdate::replyFinished(QNetworkReply* answer) {
    answer->deleteLater();
    const QString body = replyText(answer);
    movie->stop();
    qCDebug(lcPages).noquote() << Utility::Printable(body);

    // The check counts as answered only when its answer was read, says that
    // the request succeeded, and was stored: the decision is read back from
    // the stored answer, never from one stored before.
    QString what;
    const UserText failure = versionCheckFailure(answer, body, &what);
    if (!failure.isEmpty()) {
        const int status = answer->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        qCWarning(lcPages).noquote()
            << "version check failed:" << failure.english
            << (status > 0 ? QStringLiteral("(HTTP %1)").arg(status)
                           : QStringLiteral("(%1)").arg(englishNetworkError(answer)));
        showFailure(what, failure);
        return;
    }
    takeAnswer(JsonParser::ParseCheckVersion(body));
}

void XModemUpdate::takeAnswer(const QHash<QString, QString>& answered) {
    QString what;
    UserText failure;
    if (!JsonParser::IsSuccess(answered.value(QStringLiteral("result")))) {
        what = QStringLiteral("refused");
        failure = pageText(kTextServiceRefused).arg(refusal(answered));
    }
    if (failure.isEmpty() &&
        !ConfigDAL::WriteConfig(StorableAnswer(answered), Globals::AppPath + kUpdateBrandFile)) {
        what = QStringLiteral("storage");
        failure = pageText(kTextNotStored).arg(QDir::cleanPath(ConfigDAL::ConfigDir()));
    }
    if (!failure.isEmpty()) {
        qCWarning(lcPages).noquote() << "version check failed:" << failure.english;
        showFailure(what, failure);
        return;
    }
    const bool updateNeeded = ConfigDAL::GetUpdateBrand(QStringLiteral("isneedupdate")).toLower() ==
                              QLatin1String("true");
    UpdateEvents* events = UpdateEvents::instance();
    events->serviceAnswered(
        ConfigDAL::GetUpdateBrand(QStringLiteral("version")), updateNeeded,
        JsonParser::PlainText(answered.value(QStringLiteral("updatemessage")), NotesChars));
    // A device in its boot loader has no firmware to go back to: without an
    // offer it stays there, which is a failure, never "up to date".
    if (!updateNeeded && Globals::IsUpdateMode) {
        showFailure(QStringLiteral("nothing for the boot loader"),
                    pageText(kTextBootLoaderNothing));
        return;
    }
    if (checkOnly) {
        events->setPhase(UpdateEvents::Phase::Idle);
        return;
    }
    if (!updateNeeded) {
        // The page answers the press: nothing to install, said so.
        events->setPhase(UpdateEvents::Phase::Idle);
        Globals::AnswerLine = tr(kTextOffersNothing);
        events->nothingToInstall(pageText(kTextOffersNothing));
        AddControl(new InitPage());
        return;
    }
    qCDebug(lcPages).noquote() << " AddControl(new XModemUpdate());";
    // The same version again is flashed only when asked for; a device in
    // its boot loader needs its firmware whatever it ran before.
    if (sameVersionPolicy != SameVersion::Force && !Globals::IsUpdateMode &&
        UpdateEvents::SameVersion(Device::VersionInfo, events->offeredVersion())) {
        if (sameVersionPolicy == SameVersion::Skip) {
            qCInfo(lcPages).noquote()
                << "the device already has" << Device::VersionInfo << ": nothing is sent to it";
            events->setPhase(UpdateEvents::Phase::Idle);
            return;
        }
        askSameVersion();
        return;
    }
    startDownload();
}

void XModemUpdate::askSameVersion() {
    ui->handlerStatus->hide();
    QMessageBox* box = Question::Ask(this, tr(kTextSameVersionTitle),
                                     tr(kTextSameVersion).arg(Device::VersionInfo));
    box->setObjectName(QStringLiteral("sameVersionQuestion"));
    connect(box, &QMessageBox::finished, this, [this, box] {
        if (box->clickedButton() == box->button(QMessageBox::Yes)) {
            qCInfo(lcPages).noquote() << "the same version is sent again, as asked";
            startDownload();
            return;
        }
        qCInfo(lcPages).noquote() << "the same version is not sent again: nothing was written";
        UpdateEvents::instance()->setPhase(UpdateEvents::Phase::Idle);
        Globals::AnswerLine = tr(kTextUpToDate).arg(Utility::Displayable(Device::VersionInfo));
        UpdateEvents::instance()->nothingToInstall(
            pageText(kTextUpToDate).arg(Utility::Displayable(Device::VersionInfo)));
        AddControl(new InitPage());
    });
    box->open();
}

void XModemUpdate::SetSameVersionPolicy(SameVersion policy) {
    sameVersionPolicy = policy;
}

void XModemUpdate::startDownload() {
    // Without a checksum to compare with, no file could ever be accepted:
    // nothing is downloaded and the earlier file stays as it is.
    const QString expected = ConfigDAL::GetUpdateBrand(QStringLiteral("fileCRCSize"));
    if (!XModemDAL::ChecksumValue(expected)) {
        qCDebug(lcPages).noquote() << "the answer carries no checksum to check the firmware by:"
                                   << Utility::Printable(expected);
        rejectUpdate(QStringLiteral("no checksum"));
        return;
    }

    const QString url = ConfigDAL::GetUpdateBrand(QStringLiteral("updateurl"));
    const QUrl downloadUrl(url, QUrl::TolerantMode);
    const QString scheme = downloadUrl.scheme().toLower();
    if (!downloadUrl.isValid() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        qCDebug(lcPages).noquote()
            << "refusing update url that is not http(s):" << Utility::Printable(url);
        rejectUpdate(QStringLiteral("the firmware's address is not http(s)"));
        return;
    }

    file = new QSaveFile(filePath);
    if (!file->open(QIODevice::WriteOnly)) {
        qCDebug(lcPages).noquote() << "文件无法打开" << filePath << file->errorString();
        const QString reason = file->errorString();
        delete file;
        file = nullptr;
        rejectUpdate(QStringLiteral("the firmware file cannot be written: ") + reason);
        return;
    }
    bytesWritten = 0;
    downloaded.clear();
    writeError.clear();

    QNetworkRequest request(downloadUrl);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    request.setTransferTimeout(WebDAL::TransferTimeoutMs());
    reply = downloadManager->get(request);
    UpdateEvents::instance()->setFirmwareSource(downloadUrl.toString());
    UpdateEvents::instance()->setPhase(UpdateEvents::Phase::Downloading);
    ui->handlerStatus->setVisible(true);
    ui->statusMsg->setVisible(true);
    Globals::ShowStatus(ui->statusMsg, pageText(kTextDownloading));
    movie->start();

    connect(reply, SIGNAL(readyRead()), this, SLOT(httpReadyRead()));
    connect(reply, SIGNAL(downloadProgress(qint64, qint64)), this,
            SLOT(updateProgress(qint64, qint64)));
    connect(reply, SIGNAL(finished()), this, SLOT(httpFinished()));
}

void XModemUpdate::replyFinished2(QNetworkReply* answer) {
    const QString body = replyText(answer);
    movie->stop();
    qCDebug(lcPages).noquote() << Utility::Printable(body.left(kLoggedBody));
}

void XModemUpdate::httpReadyRead() {
    if (!file || !reply)
        return;
    const QByteArray bytes = reply->readAll();
    if (!writeError.isEmpty())
        return;
    if (file->write(bytes) != bytes.size()) {
        // A full disk, for instance: the download cannot be kept.
        writeError = file->errorString();
        qCDebug(lcPages).noquote() << "cannot write the firmware file:" << writeError;
        reply->abort();
        return;
    }
    bytesWritten += bytes.size();
    downloaded.append(bytes);
}

void XModemUpdate::updateProgress(qint64 bytesRead, qint64 totalBytes) {
    Globals::IsNeedGetUpdateFileAgain = false;
    progressBytes = bytesRead;
    progressTotal = totalBytes;
    Globals::ShowProgress(ui->statusMsg,
                          pageText(kTextProgress) +
                              UserText(Utility::Int64ToStr(bytesRead / 1024) + "/" +
                                       Utility::Int64ToStr(totalBytes / 1024) + " kb"),
                          bytesRead, totalBytes);
    emit UpdateEvents::instance()->DownloadProgress(bytesRead, totalBytes);
}

void XModemUpdate::httpFinished() {
    ui->handlerStatus->hide();
    ui->statusMsg->show();

    const QString expected = ConfigDAL::GetUpdateBrand(QStringLiteral("fileCRCSize"));
    QString failure;
    const bool kept = keepDownload(expected, &failure);
    if (reply) {
        reply->deleteLater();
        reply = nullptr;
    }
    delete file;
    file = nullptr;

    // Always taken from the file just downloaded, never from bytes cached earlier.
    XModemDAL::FileData.clear();
    qCDebug(lcPages).noquote() << "正常升级情况";
    if (!kept) {
        downloaded.clear();
        rejectUpdate(failure);
        return;
    }
    // The bytes now in Latest.bin, already checked against the expected sum.
    XModemDAL::FileData = downloaded;
    downloaded.clear();
    Globals::UpdateFilePath = filePath;
    Globals::FileCrc = downloadedSum;
    UpdateEvents::instance()->downloadKept(XModemDAL::FileData.size(), downloadedSha256);
    Globals::ShowStatus(ui->statusMsg, pageText(kTextAccepted));
    UpdateEvents::instance()->setPhase(UpdateEvents::Phase::Switching);
    XModemDAL::BeginUpdate();
}

bool XModemUpdate::keepDownload(const QString& expected, QString* why) {
    if (!file || !reply) {
        *why = QStringLiteral("the download was cut off");
        return false;
    }
    // The buffer is written out first: commit() itself does not report a
    // write that fails while it flushes.
    if (writeError.isEmpty() && !file->flush())
        writeError = file->errorString();
    QString failure;
    if (!writeError.isEmpty()) {
        failure = "cannot write the firmware file: " + writeError;
    } else if (reply->error() != QNetworkReply::NoError) {
        failure = reply->errorString();
    } else {
        // A body shorter than the length the server announced was cut off.
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        const QByteArray encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
        const bool plain = encoding.isEmpty() || encoding == "identity";
        if (plain && length.isValid() && length.toLongLong() != bytesWritten)
            failure =
                QStringLiteral("%1 of %2 bytes arrived").arg(bytesWritten).arg(length.toLongLong());
    }
    // An empty file is never firmware, and the sum must equal the checksum
    // that came with the answer (an error page served with 200, the wrong
    // file): only then does the download replace the earlier file.
    if (failure.isEmpty() && downloaded.isEmpty())
        failure = QStringLiteral("the firmware file is empty");
    if (failure.isEmpty()) {
        const int sum = XModemDAL::FileChecksum(downloaded);
        downloadedSum = sum;
        qCDebug(lcPages).noquote()
            << "checksum" << sum << "expected" << Utility::Printable(expected);
        if (!XModemDAL::ChecksumEquals(expected, sum))
            failure = QStringLiteral("checksum %1 is not the expected %2")
                          .arg(sum)
                          .arg(Utility::Printable(expected));
    }
    if (failure.isEmpty()) {
        downloadedSha256 = QString::fromLatin1(
            QCryptographicHash::hash(downloaded, QCryptographicHash::Sha256).toHex());
        qCInfo(lcPages).noquote() << "firmware image SHA-256:" << downloadedSha256;
        if (!expectedSha256.isEmpty() && downloadedSha256 != expectedSha256)
            failure = QStringLiteral("its SHA-256 %1 is not the expected %2")
                          .arg(downloadedSha256, expectedSha256);
    }
    if (failure.isEmpty() && !file->commit())
        failure = "the file could not be put in place: " + file->errorString();
    if (failure.isEmpty())
        return true;
    file->cancelWriting();
    qCDebug(lcPages).noquote() << "download failed, the earlier firmware file is kept:" << failure;
    *why = failure;
    return false;
}

void XModemUpdate::showFailure(const QString& what, const UserText& text) {
    movie->stop();
    ui->handlerStatus->hide();
    ui->statusMsg->show();
    ShowWrapped(ui->statusMsg, text, Globals::StatusKind::Alert);
    UpdateEvents* events = UpdateEvents::instance();
    events->setPhase(UpdateEvents::Phase::Idle);
    // The way on, for the line the device page keeps.
    const char* advice = kAdviceTryAgain;
    if (what == QLatin1String("unreachable"))
        advice = kAdviceNetwork;
    else if (what == QLatin1String("status") || what == QLatin1String("silent"))
        advice = kAdviceLater;
    else if (what == QLatin1String("storage"))
        advice = kAdviceStorage;
    else if (what == QLatin1String("nothing for the boot loader"))
        advice = kAdviceBootLoader;
    // The way on stands beside what failed from the start, for the moment
    // until the device page (with its button) is back.
    panel->ShowDetail(pageText(advice).shown);
    events->serviceFailed(what, text, pageText(advice));
    if (checkOnly)
        return;
    QTimer::singleShot(Bounds::FailureShownMs(), this, [] {
        qCDebug(lcPages).noquote() << "back to the device information page";
        AddControl(new InitPage());
    });
}

void XModemUpdate::rejectUpdate(const QString& why) {
    qCDebug(lcPages).noquote() << "文件下载异常情况";
    ui->handlerStatus->hide();
    ui->statusMsg->show();
    Globals::ShowStatus(ui->statusMsg, pageText(kTextRejected), Globals::StatusKind::Alert);
    UpdateEvents* events = UpdateEvents::instance();
    events->setPhase(UpdateEvents::Phase::Idle);
    panel->ShowDetail(pageText(kTextFileKept).shown);
    events->runFailed(UpdateEvents::Failure::Download,
                      pageText(kTextRejected) + UserText(QStringLiteral(": ") + why),
                      pageText(kAdviceTryAgain));
    if (checkOnly)
        return;
    // The way back, as after a failed version check.
    QTimer::singleShot(Bounds::FailureShownMs(), this, [] {
        qCDebug(lcPages).noquote() << "back to the device information page";
        AddControl(new InitPage());
    });
}

QHash<QString, QString> XModemUpdate::StorableAnswer(QHash<QString, QString> answer) {
    // The values the tool reads back are stored as given or not at all; the
    // others (a message, a device name) only lose characters that a settings
    // file cannot hold.
    static const QStringList readBack = {"isneedupdate", "updateurl", "fileCRCSize", "version",
                                         "result"};
    for (auto it = answer.begin(); it != answer.end(); ++it) {
        if (!readBack.contains(it.key()))
            it.value() = ConfigDAL::StorableText(it.value());
    }
    return answer;
}

void XModemUpdate::SetChosenFirmware(const ChosenFirmware& firmware) {
    chosenFirmware = firmware;
}

const ChosenFirmware& XModemUpdate::Chosen() {
    return chosenFirmware;
}

void XModemUpdate::installChosen() {
    UpdateEvents* events = UpdateEvents::instance();
    if (events->phase() == UpdateEvents::Phase::Idle)
        events->updateStarted(Device::VersionInfo);
    // Kept in the data folder, as it was read: the bytes sent are those
    // checked, whatever becomes of the file chosen.
    const QString path = Globals::AppPath + kChosenFile;
    // Written out and checked before it takes the place of an earlier one:
    // commit() does not report a write that fails while it flushes.
    QSaveFile kept(path);
    if (!kept.open(QIODevice::WriteOnly) ||
        kept.write(chosenFirmware.data) != chosenFirmware.data.size() || !kept.flush() ||
        !kept.commit()) {
        const UserText why =
            pageText(kTextChosenNotKept).arg(QDir::cleanPath(path)).arg(kept.errorString());
        qCWarning(lcPages).noquote() << why.english;
        ui->handlerStatus->hide();
        Globals::ShowStatus(ui->statusMsg, why, Globals::StatusKind::Alert);
        events->setPhase(UpdateEvents::Phase::Idle);
        events->runFailed(UpdateEvents::Failure::Download, why, pageText(kAdviceStorage));
        return;
    }
    XModemDAL::FileData = chosenFirmware.data;
    Globals::UpdateFilePath = path;
    Globals::FileCrc = chosenFirmware.checksum;
    events->firmwareChosen(chosenFirmware.path, chosenFirmware.data.size(), chosenFirmware.sha256,
                           chosenFirmware.checksum);
    Globals::ShowStatus(ui->statusMsg, pageText(kTextAccepted));
    events->setPhase(UpdateEvents::Phase::Switching);
    XModemDAL::BeginUpdate();
}

void XModemUpdate::SetExpectedSha256(const QString& hex) {
    expectedSha256 = hex.toLower();
}
