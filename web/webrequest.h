#pragma once

#include <QHash>
#include <QString>

// One request to the update service, described as a plain value: absolute URL,
// form-encoded body, raw headers, and the Content-Type under its first key.
struct WebRequest {
    WebRequest() = default;
    WebRequest(const QString& url, const QString& params, const QHash<QString, QString>& rawHeaders,
               const QHash<QString, QString>& knownHeaders);

    QString url;
    QString params;
    QHash<QString, QString> rawHeaders;
    QHash<QString, QString> knownHeaders;
};
