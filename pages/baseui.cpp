#include "pages/baseui.h"

#include "app/mainwindow.h"
#include "ui_baseui.h"
#include "web/webrequest.h"

#include <QFontMetrics>
#include <QLabel>
#include <QNetworkRequest>
#include <QUrl>

namespace {
// Extra height of a status line when its text wraps onto a second line.
const int kWrappedExtraHeight = 30;
} // namespace

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

void BaseUI::ShowWrapped(QLabel* label, const QString& text, Globals::StatusKind kind) {
    Globals::ShowStatus(label, text, kind);
    label->ensurePolished();
    if (label->wordWrap() || QFontMetrics(label->font()).horizontalAdvance(text) <= label->width())
        return;
    label->setWordWrap(true);
    const QRect line = label->geometry();
    label->setGeometry(line.x(), line.y() - kWrappedExtraHeight / 2, line.width(),
                       line.height() + kWrappedExtraHeight);
}
