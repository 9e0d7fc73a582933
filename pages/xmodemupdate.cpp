#include "pages/xmodemupdate.h"

#include "app/logging.h"
#include "app/mainwindow.h"
#include "config/configdal.h"
#include "device/xmodemdal.h"
#include "pages/initpage.h"
#include "ui_xmodemupdate.h"
#include "util/utility.h"
#include "web/jsonparser.h"
#include "web/webdal.h"

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

const QString kTextWaitRequest = QStringLiteral("wait for update firmware..");
const QString kTextDownloading = QStringLiteral("downloading firmware....");
const QString kTextProgress = QStringLiteral(" downloading firmware  ");
const QString kTextAccepted = QStringLiteral("wait for update firmware...");
const QString kTextRejected = QStringLiteral("update file error");
// A version check that failed: said on the page, then the device information
// page again after kFailureShownMs, from where the update can be started anew.
const QString kTextServiceUnreachable = QStringLiteral("Cannot reach the update service: %1");
const QString kTextServiceStatus = QStringLiteral("The update service answered %1");
const QString kTextServiceSilent = QStringLiteral("The update service did not answer for %1 s");
const QString kTextServiceGarbled =
    QStringLiteral("The update service sent an answer that cannot be read");
const int kFailureShownMs = 8000;

bool checkOnly = false;

// What went wrong with a version check, in plain words; "" when nothing did.
QString versionCheckFailure(QNetworkReply* answer, const QString& text) {
    const int status = answer->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 300)
        return kTextServiceStatus.arg(status);
    switch (answer->error()) {
    case QNetworkReply::NoError:
        return JsonParser::IsAnswer(text) ? QString() : kTextServiceGarbled;
    case QNetworkReply::OperationCanceledError: // the transfer timeout aborts the reply
    case QNetworkReply::TimeoutError:
        return kTextServiceSilent.arg(WebDAL::TransferTimeoutMs() / 1000.0);
    default:
        return kTextServiceUnreachable.arg(answer->errorString());
    }
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

    manager = new QNetworkAccessManager(this);
    downloadManager = new QNetworkAccessManager(this);
    connect(manager, SIGNAL(finished(QNetworkReply*)), this, SLOT(replyFinished(QNetworkReply*)));
    connect(downloadManager, SIGNAL(finished(QNetworkReply*)), this,
            SLOT(replyFinished2(QNetworkReply*)));

    Globals::StatusLabel = ui->statusMsg;
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

    ui->handlerStatus->setVisible(true);
    ui->statusMsg->setVisible(true);
    ui->statusMsg->setText(kTextWaitRequest);
    movie->start();
}

void XModemUpdate::replyFinished(QNetworkReply* answer) {
    answer->deleteLater();
    const QString text = replyText(answer);
    movie->stop();
    qCDebug(lcPages).noquote() << text;
    const QString failure = versionCheckFailure(answer, text);
    if (!failure.isEmpty()) {
        qCWarning(lcPages).noquote() << "version check failed:" << failure << "("
                                     << answer->errorString() << ")";
        showFailure(failure);
        return;
    }

    // The decision is read back from the stored answer; an answer that could
    // not be stored is taken as no update, never the answer stored before.
    if (!ConfigDAL::WriteConfig(JsonParser::ParseCheckVersion(text),
                                Globals::AppPath + kUpdateBrandFile)) {
        qCDebug(lcPages).noquote()
            << "the service's answer could not be stored: taken as no update";
        emit ServiceAnswered(false);
        if (!checkOnly)
            AddControl(new InitPage());
        return;
    }
    const bool updateNeeded =
        ConfigDAL::GetUpdateBrand(QStringLiteral("isneedupdate")).toLower() == QLatin1String("true");
    emit ServiceAnswered(updateNeeded);
    if (checkOnly)
        return;
    if (!updateNeeded) {
        AddControl(new InitPage());
        return;
    }
    qCDebug(lcPages).noquote() << " AddControl(new XModemUpdate());";

    // Without a checksum to compare with, no file could ever be accepted:
    // nothing is downloaded and the earlier file stays as it is.
    const QString expected = ConfigDAL::GetUpdateBrand(QStringLiteral("fileCRCSize"));
    if (!XModemDAL::ChecksumValue(expected)) {
        qCDebug(lcPages).noquote()
            << "the answer carries no checksum to check the firmware by:" << expected;
        rejectUpdate();
        return;
    }

    const QString url = ConfigDAL::GetUpdateBrand(QStringLiteral("updateurl"));
    const QUrl downloadUrl(url, QUrl::TolerantMode);
    const QString scheme = downloadUrl.scheme().toLower();
    if (!downloadUrl.isValid() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        qCDebug(lcPages).noquote() << "refusing update url that is not http(s):" << url;
        rejectUpdate();
        return;
    }

    file = new QSaveFile(filePath);
    if (!file->open(QIODevice::WriteOnly)) {
        qCDebug(lcPages).noquote() << "文件无法打开" << filePath << file->errorString();
        delete file;
        file = nullptr;
        rejectUpdate();
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
    ui->handlerStatus->setVisible(true);
    ui->statusMsg->setVisible(true);
    ui->statusMsg->setText(kTextDownloading);
    movie->start();

    connect(reply, SIGNAL(readyRead()), this, SLOT(httpReadyRead()));
    connect(reply, SIGNAL(downloadProgress(qint64, qint64)), this,
            SLOT(updateProgress(qint64, qint64)));
    connect(reply, SIGNAL(finished()), this, SLOT(httpFinished()));
}

void XModemUpdate::replyFinished2(QNetworkReply* answer) {
    const QString text = replyText(answer);
    movie->stop();
    qCDebug(lcPages).noquote() << text;
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
    ui->statusMsg->setText(kTextProgress + Utility::Int64ToStr(bytesRead / 1024) + "/" +
                           Utility::Int64ToStr(totalBytes / 1024) + " kb");
}

void XModemUpdate::httpFinished() {
    ui->handlerStatus->hide();
    ui->statusMsg->show();

    const QString expected = ConfigDAL::GetUpdateBrand(QStringLiteral("fileCRCSize"));
    const bool kept = keepDownload(expected);
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
        rejectUpdate();
        return;
    }
    // The bytes now in Latest.bin, already checked against the expected sum.
    XModemDAL::FileData = downloaded;
    downloaded.clear();
    Globals::UpdateFilePath = filePath;
    Globals::FileCrc = downloadedSum;
    ui->statusMsg->setText(kTextAccepted);
    XModemDAL::BeginUpdate();
}

bool XModemUpdate::keepDownload(const QString& expected) {
    if (!file || !reply)
        return false;
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
        qCDebug(lcPages).noquote() << "checksum" << sum << "expected" << expected;
        if (!XModemDAL::ChecksumEquals(expected, sum))
            failure = QStringLiteral("checksum %1 is not the expected %2").arg(sum).arg(expected);
    }
    if (failure.isEmpty() && !file->commit())
        failure = "the file could not be put in place: " + file->errorString();
    if (failure.isEmpty())
        return true;
    file->cancelWriting();
    qCDebug(lcPages).noquote() << "download failed, the earlier firmware file is kept:" << failure;
    return false;
}

void XModemUpdate::showFailure(const QString& text) {
    movie->stop();
    ui->handlerStatus->hide();
    ui->statusMsg->show();
    ShowWrapped(ui->statusMsg, text);
    emit ServiceFailed(text);
    QTimer::singleShot(kFailureShownMs, this, [] {
        qCDebug(lcPages).noquote() << "back to the device information page";
        AddControl(new InitPage());
    });
}

void XModemUpdate::rejectUpdate() {
    qCDebug(lcPages).noquote() << "文件下载异常情况";
    ui->handlerStatus->hide();
    ui->statusMsg->show();
    ui->statusMsg->setText(kTextRejected);
    emit DownloadFailed();
}
