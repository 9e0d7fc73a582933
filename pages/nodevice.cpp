#include "pages/nodevice.h"

#include "app/globals.h"
#include "ui_nodevice.h"

#include <QFontMetrics>

namespace {
// Extra height of the status line when its text wraps onto a second line.
const int kWrappedExtraHeight = 30;
} // namespace

NoDevice::NoDevice(QWidget* parent) : BaseUI(parent), ui(new Ui::NoDevice) {
    ui->setupUi(this);
    pageName = QStringLiteral("NoDevice");
    Globals::StatusLabel = ui->statusMsg;
    ui->statusMsg->setText(Globals::NoDeviceMessage);
    setGeometry(0, 0, Globals::PageWidth, Globals::PageHeight);
}

NoDevice::~NoDevice() {
    delete ui;
}

QLabel* NoDevice::statusLabel() const {
    return ui->statusMsg;
}

void NoDevice::SetMessage(const QString& text) {
    QLabel* label = ui->statusMsg;
    label->setText(text);
    label->ensurePolished();
    if (QFontMetrics(label->font()).horizontalAdvance(text) <= label->width())
        return;
    label->setWordWrap(true);
    const QRect line = label->geometry();
    label->setGeometry(line.x(), line.y() - kWrappedExtraHeight / 2, line.width(),
                       line.height() + kWrappedExtraHeight);
}
