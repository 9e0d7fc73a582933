#include "pages/baseui.h"

#include "app/mainwindow.h"
#include "pages/accessiblepages.h"
#include "ui_baseui.h"
#include "web/webrequest.h"

#include <QFontMetrics>
#include <QLabel>
#include <QNetworkRequest>
#include <QUrl>
#include <QVariant>

namespace {
// Room above and below the lines of a status text that wraps.
const int kWrappedMargin = 6;
} // namespace

BaseUI::BaseUI(QWidget* parent) : QWidget(parent), baseUi(new Ui::BaseUI) {
    AccessiblePages::Install();
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

void BaseUI::ShowWrapped(QLabel* label, const UserText& said, Globals::StatusKind kind) {
    const QString& text = said.shown;
    // The line as the form placed it, before any earlier text wrapped it.
    const char* const baseProperty = "tembraLineGeometry";
    if (!label->property(baseProperty).isValid())
        label->setProperty(baseProperty, label->geometry());
    const QRect line = label->property(baseProperty).toRect();
    Globals::ShowStatus(label, said, kind);
    label->ensurePolished();
    const QFontMetrics metrics(label->font());
    if (metrics.horizontalAdvance(text) <= line.width()) {
        label->setWordWrap(false);
        label->setGeometry(line);
        return;
    }
    // As many lines as the text needs, around the same centre.
    label->setWordWrap(true);
    const int needed =
        metrics.boundingRect(QRect(0, 0, line.width(), 1000), Qt::TextWordWrap, text).height();
    const int height = qMax(line.height(), needed + kWrappedMargin);
    label->setGeometry(line.x(), line.center().y() - height / 2, line.width(), height);
}

QString BaseUI::BalancedLines(const QString& text, const QFont& font, int width) {
    const QFontMetrics metrics(font);
    if (text.contains(QLatin1Char('\n')) || metrics.horizontalAdvance(text) <= width)
        return text;
    int best = -1;
    int bestWidth = width + 1;
    for (int at = text.indexOf(QLatin1Char(' ')); at >= 0;
         at = text.indexOf(QLatin1Char(' '), at + 1)) {
        const int longer = qMax(metrics.horizontalAdvance(text.left(at)),
                                metrics.horizontalAdvance(text.mid(at + 1)));
        if (longer < bestWidth) {
            bestWidth = longer;
            best = at;
        }
    }
    if (best < 0 || bestWidth > width)
        return text;
    return text.left(best) + QLatin1Char('\n') + text.mid(best + 1);
}
