#include "web/webrequest.h"

#include "web/weblog.h"

WebRequest::WebRequest(const QString& url, const QString& params,
                       const QHash<QString, QString>& rawHeaders,
                       const QHash<QString, QString>& knownHeaders)
    : url(url), params(params), rawHeaders(rawHeaders), knownHeaders(knownHeaders) {
    qCDebug(lcWeb).noquote() << "请求地址URL:" + url + "   参数：" + params;
}
