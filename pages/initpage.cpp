#include "pages/initpage.h"

#include "app/mainwindow.h"
#include "device/xmodemdal.h"

#include "ui_initpage.h"
#include <QLabel>

namespace {
const QRect kResultGeometry(20, 3, 499, 24);
const char kResultStyle[] = "background:none;\nfont: bold 12pt \"Arial\";\ncolor:#1b6e2c;";
} // namespace

InitPage::InitPage(QWidget* parent) : BaseUI(parent), ui(new Ui::InitPage) {
    ui->setupUi(this);
    ui->LbDN->setText(Device::WatchId);
    ui->LbFirmware->setText(Device::DeviceInfo);
    ui->LbVersion->setText(Device::VersionInfo);
    Globals::StatusLabel = ui->LbDN;
    result = new QLabel(this);
    result->setObjectName(QStringLiteral("resultMsg"));
    result->setGeometry(kResultGeometry);
    result->setAlignment(Qt::AlignCenter);
    result->setStyleSheet(QLatin1String(kResultStyle));
    ShowResult(Globals::ResultLine);
}

void InitPage::ShowResult(const QString& text) {
    result->setVisible(!text.isEmpty());
    if (text == result->text())
        return;
    // Read out by a screen reader as soon as it appears.
    Globals::ShowStatus(result, text, Globals::StatusKind::Alert);
}

InitPage::~InitPage() {
    delete ui;
}

void InitPage::on_BtnUpdate_clicked() {
    if (Globals::MainWin)
        Globals::MainWin->StartUpdate();
}

void InitPage::on_BtnReset_clicked() {
    if (Globals::MainWin)
        Globals::MainWin->AskReset();
}
