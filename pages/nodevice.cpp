#include "pages/nodevice.h"

#include "app/globals.h"
#include "pages/progresspanel.h"
#include "ui_nodevice.h"

NoDevice::NoDevice(QWidget* parent) : BaseUI(parent), ui(new Ui::NoDevice) {
    ui->setupUi(this);
    pageName = QStringLiteral("NoDevice");
    Globals::StatusLabel = ui->statusMsg;
    Globals::ShowStatus(ui->statusMsg, MessageText(Globals::NoDeviceMessage));
    setGeometry(0, 0, Globals::PageWidth, Globals::PageHeight);
    new ProgressPanel(this);
}

NoDevice::NoDevice(const UserText& text, Globals::StatusKind kind, QWidget* parent)
    : BaseUI(parent), ui(new Ui::NoDevice) {
    ui->setupUi(this);
    pageName = QStringLiteral("NoDevice");
    Globals::StatusLabel = ui->statusMsg;
    setGeometry(0, 0, Globals::PageWidth, Globals::PageHeight);
    SetMessage(text, kind);
    new ProgressPanel(this);
}

NoDevice::~NoDevice() {
    delete ui;
}

UserText NoDevice::MessageText(const QString& message) {
    return UserText::Of("NoDevice", message.toUtf8().constData());
}

QLabel* NoDevice::statusLabel() const {
    return ui->statusMsg;
}

void NoDevice::SetMessage(const UserText& text, Globals::StatusKind kind) {
    ShowWrapped(ui->statusMsg, text, kind);
}
