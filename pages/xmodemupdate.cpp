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

#include <QFile>
#include <QMovie>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

namespace {
const QString kLoadingGif = QStringLiteral(":/btn/Btn/loading.gif");
const QString kFirmwareFile = QStringLiteral("/Latest.bin");
const QString kUpdateBrandFile = QStringLiteral("//cfg//UpdateBrand.xml");
// The version check always asks with this version, so that the service's
// "isneedupdate" alone decides.
const QString kRequestVersion = QStringLiteral("0.1");
const int kStartDelayMs = 2;

const QString kTextWaitRequest = QStringLiteral("wait for update firmware..");
const QString kTextDownloading = QStringLiteral("downloading firmware....");
const QString kTextProgress = QStringLiteral(" downloading firmware  ");
const QString kTextAccepted = QStringLiteral("wait for update firmware...");
const QString kTextRejected = QStringLiteral("update file error");

// The reply body as text, up to the first zero byte.
QString replyText(QNetworkReply* reply) {
    return Utility::Utf8UpToNul(reply->readAll());
}
} // namespace

XModemUpdate::XModemUpdate(QWidget* parent) : BaseUI(parent), ui(new Ui::XModemUpdate) {
    ui->setupUi(this);
    pageName = QStringLiteral("XModemUpdate");
    setGeometry(0, 0, Globals::PageWidth, Globals::PageHeight);

    movie = new QMovie(kLoadingGif, QByteArray(), this);
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
        file->close();
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
    if (answer->error() != QNetworkReply::NoError) {
        qCDebug(lcPages).noquote() << "version check failed:" << answer->errorString();
        return;
    }

    ConfigDAL::WriteConfig(JsonParser::ParseCheckVersion(text),
                           Globals::AppPath + kUpdateBrandFile);
    if (ConfigDAL::GetUpdateBrand(QStringLiteral("isneedupdate")).toLower() !=
        QLatin1String("true")) {
        AddControl(new InitPage());
        return;
    }
    qCDebug(lcPages).noquote() << " AddControl(new XModemUpdate());";

    const QString url = ConfigDAL::GetUpdateBrand(QStringLiteral("updateurl"));
    const QUrl downloadUrl(url, QUrl::TolerantMode);
    const QString scheme = downloadUrl.scheme().toLower();
    if (!downloadUrl.isValid() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        qCDebug(lcPages).noquote() << "refusing update url that is not http(s):" << url;
        rejectUpdate();
        return;
    }

    file = new QFile(filePath);
    if (!file->open(QIODevice::WriteOnly)) {
        qCDebug(lcPages).noquote() << "文件无法打开" << filePath << file->errorString();
        delete file;
        file = nullptr;
        return;
    }

    reply = downloadManager->get(QNetworkRequest(downloadUrl));
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
    if (file && reply)
        file->write(reply->readAll());
}

void XModemUpdate::updateProgress(qint64 bytesRead, qint64 totalBytes) {
    Globals::IsNeedGetUpdateFileAgain = false;
    ui->statusMsg->setText(kTextProgress + Utility::Int64ToStr(bytesRead / 1024) + "/" +
                           Utility::Int64ToStr(totalBytes / 1024) + " kb");
}

void XModemUpdate::httpFinished() {
    ui->handlerStatus->hide();
    ui->statusMsg->show();

    const bool failed = reply && reply->error() != QNetworkReply::NoError;
    if (failed)
        qCDebug(lcPages).noquote() << "download failed:" << reply->errorString();
    if (file) {
        file->flush();
        file->close();
    }
    if (reply) {
        reply->deleteLater();
        reply = nullptr;
    }
    delete file;
    file = nullptr;

    // Always taken from the file just downloaded, never from bytes cached earlier.
    XModemDAL::FileData.clear();
    const int sum = XModemDAL::GetFileCrc(filePath);
    const int expected =
        Utility::StrToInt(ConfigDAL::GetUpdateBrand(QStringLiteral("fileCRCSize")));
    qCDebug(lcPages).noquote() << "正常升级情况"
                               << "checksum" << sum << "expected" << expected;

    // An empty or missing file sums to 0, as does an answer without a checksum:
    // such a file is never taken for firmware.
    const bool haveFirmware = !XModemDAL::FileData.isEmpty();
    if (!haveFirmware)
        qCDebug(lcPages).noquote() << "downloaded firmware file is empty or unreadable";
    if (haveFirmware && sum == expected) {
        Globals::UpdateFilePath = filePath;
        Globals::FileCrc = sum;
        ui->statusMsg->setText(kTextAccepted);
        XModemDAL::BeginUpdate();
        return;
    }
    rejectUpdate();
}

void XModemUpdate::rejectUpdate() {
    qCDebug(lcPages).noquote() << "文件下载异常情况";
    ui->handlerStatus->hide();
    ui->statusMsg->show();
    ui->statusMsg->setText(kTextRejected);
}
