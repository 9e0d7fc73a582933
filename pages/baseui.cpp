#include "pages/baseui.h"

#include "app/mainwindow.h"
#include "ui_baseui.h"
#include "web/webrequest.h"

#include <QNetworkRequest>
#include <QUrl>

BaseUI::BaseUI(QWidget* parent) : QWidget(parent), baseUi(new Ui::BaseUI) {
    baseUi->setupUi(this);
}

BaseUI::~BaseUI() {
    delete baseUi;
}

void BaseUI::mousePressEvent(QMouseEvent* event) {
    if (Globals::MainWin)
        Globals::MainWin->mousePressEvent(event);
}

void BaseUI::mouseMoveEvent(QMouseEvent* event) {
    if (Globals::MainWin)
        Globals::MainWin->mouseMoveEvent(event);
}

bool BaseUI::PrepareRequest(QNetworkRequest& request, WebRequest req) {
    if (!Globals::HasDevicePort())
        return false;
    request.setUrl(QUrl(req.url, QUrl::TolerantMode));
    if (!req.rawHeaders.isEmpty()) {
        const QList<QString> keys = req.rawHeaders.keys();
        for (const QString& key : keys)
            request.setRawHeader(key.toUtf8(), req.rawHeaders.value(key).toUtf8());
    }
    if (!req.knownHeaders.isEmpty()) {
        const QString first = req.knownHeaders.keys().first();
        request.setHeader(QNetworkRequest::ContentTypeHeader, req.knownHeaders.value(first));
    }
    return true;
}
