#include "pages/initpage.h"

#include "app/mainwindow.h"
#include "device/xmodemdal.h"
#include "ui_initpage.h"

InitPage::InitPage(QWidget* parent) : BaseUI(parent), ui(new Ui::InitPage) {
    ui->setupUi(this);
    ui->LbDN->setText(Device::WatchId);
    ui->LbFirmware->setText(Device::DeviceInfo);
    ui->LbVersion->setText(Device::VersionInfo);
    Globals::StatusLabel = ui->LbDN;
}

InitPage::~InitPage() {
    delete ui;
}

void InitPage::on_BtnUpdate_clicked() {
    if (Globals::MainWin)
        Globals::MainWin->StartUpdate();
}

void InitPage::on_BtnReset_clicked() {
    XModemDAL::ResetDevice();
}
