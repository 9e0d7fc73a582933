#include "pages/focusring.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPainter>

namespace {
// How far the ring reaches beyond the button's edge, and its two bands.
const int kOutside = 3;
const int kBand = 2;
const QColor kOuterColour(0x11, 0x11, 0x11);
const QColor kInnerColour(0xFF, 0xD4, 0x00);
} // namespace

FocusRing::FocusRing(QWidget* page) : QWidget(page) {
    setObjectName(QStringLiteral("focusRing"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    hide();
    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget*, QWidget* now) { follow(now); });
}

void FocusRing::follow(QWidget* focused) {
    auto* button = qobject_cast<QAbstractButton*>(focused);
    if (!button || button->parentWidget() != parentWidget()) {
        around = nullptr;
        hide();
        return;
    }
    around = button;
    setGeometry(button->geometry().adjusted(-kOutside, -kOutside, kOutside, kOutside));
    raise();
    show();
}

void FocusRing::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    const QRectF outer =
        QRectF(rect()).adjusted(kBand / 2.0, kBand / 2.0, -kBand / 2.0, -kBand / 2.0);
    painter.setPen(QPen(kOuterColour, kBand));
    painter.drawRoundedRect(outer, 4, 4);
    painter.setPen(QPen(kInnerColour, kBand));
    painter.drawRoundedRect(outer.adjusted(kBand, kBand, -kBand, -kBand), 3, 3);
}
