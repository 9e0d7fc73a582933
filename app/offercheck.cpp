#include "app/offercheck.h"

#include "app/logging.h"
#include "app/state/state.h"
#include "app/state/updateevents.h"
#include "util/utility.h"
#include "web/jsonparser.h"
#include "web/webdal.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

namespace {
// The version the check asks with, as the update's own check does.
const QString kRequestVersion = QStringLiteral("0.1");
// How much of the release notes is kept, as the update keeps it.
const int kNotesChars = 4096;

OfferCheck::Offer& current() {
    static OfferCheck::Offer offer;
    return offer;
}
} // namespace

OfferCheck::OfferCheck(QObject* parent)
    : QObject(parent), manager(new QNetworkAccessManager(this)) {
    connect(manager, &QNetworkAccessManager::finished, this, &OfferCheck::onAnswer);
    // After a failed try the service is asked again: what it offers may
    // have changed (a release withdrawn, a file fixed).
    connect(UpdateEvents::instance(), &UpdateEvents::RunFailed, this,
            [] { current().answer.clear(); });
}

const OfferCheck::Offer& OfferCheck::Current() {
    return current();
}

QHash<QString, QString> OfferCheck::OfferedTo(const QString& deviceNumber) {
    const Offer& offer = current();
    if (offer.kind != Kind::Available || deviceNumber.isEmpty() ||
        offer.deviceNumber != deviceNumber)
        return {};
    return offer.answer;
}

void OfferCheck::ask(const QString& deviceNumber, const QString& version) {
    if (asking) {
        disconnect(asking, nullptr, this, nullptr);
        asking->abort();
        asking->deleteLater();
        asking = nullptr;
    }
    if (!Globals::HasDevicePort())
        return;
    current() = Offer();
    current().kind = Kind::Asking;
    current().deviceNumber = deviceNumber;
    askedVersion = version;
    const WebRequest req = WebDAL::CheckVersionRequest(Globals::DeviceModel, kRequestVersion);
    QNetworkRequest request(QUrl(req.url, QUrl::TolerantMode));
    for (auto it = req.rawHeaders.constBegin(); it != req.rawHeaders.constEnd(); ++it)
        request.setRawHeader(it.key().toUtf8(), it.value().toUtf8());
    if (!req.knownHeaders.isEmpty())
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          req.knownHeaders.constBegin().value());
    request.setTransferTimeout(WebDAL::TransferTimeoutMs());
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    qCDebug(lcPages).noquote() << "asking in the background what is offered to the device";
    asking = manager->post(request, req.params.toUtf8());
    emit Changed();
}

void OfferCheck::forget() {
    if (asking) {
        disconnect(asking, nullptr, this, nullptr);
        asking->abort();
        asking->deleteLater();
        asking = nullptr;
    }
    current() = Offer();
    emit Changed();
}

void OfferCheck::onAnswer(QNetworkReply* reply) {
    reply->deleteLater();
    if (reply != asking)
        return;
    asking = nullptr;
    Offer& offer = current();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QString body = Utility::Utf8UpToNul(reply->readAll());
    const QHash<QString, QString> answer = JsonParser::ParseCheckVersion(body);
    if (reply->error() != QNetworkReply::NoError || status >= 300 || !JsonParser::IsAnswer(body) ||
        !JsonParser::IsSuccess(answer.value(QStringLiteral("result")))) {
        // Said quietly: the update itself asks again, and says why it fails.
        qCInfo(lcPages).noquote() << "what is offered cannot be known now:"
                                  << (status >= 300 ? QStringLiteral("HTTP %1").arg(status)
                                                    : Utility::Printable(reply->errorString()));
        offer.kind = Kind::Unreachable;
        emit Changed();
        return;
    }
    offer.version = answer.value(QStringLiteral("version"));
    offer.notes = JsonParser::PlainText(answer.value(QStringLiteral("updatemessage")), kNotesChars);
    const bool needed =
        answer.value(QStringLiteral("isneedupdate")).toLower() == QLatin1String("true");
    offer.kind = needed && !UpdateEvents::SameVersion(askedVersion, offer.version) ? Kind::Available
                                                                                   : Kind::UpToDate;
    offer.answer = answer;
    qCInfo(lcPages).noquote() << "offered to the device:"
                              << (offer.kind == Kind::Available ? Utility::Printable(offer.version)
                                                                : QStringLiteral("nothing new"));
    emit Changed();
}
