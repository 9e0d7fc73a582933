#include "pages/initpage.h"

#include "app/mainwindow.h"
#include "device/xmodemdal.h"

#include "pages/focusring.h"
#include "ui_initpage.h"

#include <QKeyEvent>
#include <QLabel>
#include <QShortcut>

namespace {
const QRect kResultGeometry(20, 3, 499, 24);
const char kResultStyle[] = "background:none;\nfont: bold 12pt \"Arial\";\ncolor:#1b6e2c;";
// Each value is read with its caption.
const char* const kVersionName = QT_TRANSLATE_NOOP("InitPage", "Version: %1");
const char* const kNumberName = QT_TRANSLATE_NOOP("InitPage", "D/N: %1");
const char* const kFirmwareName = QT_TRANSLATE_NOOP("InitPage", "Firmware: %1");
const char* const kUpdateHelp = QT_TRANSLATE_NOOP(
    "InitPage", "Asks the update service for new firmware and sends it to the device (Alt+1)");
const char* const kResetHelp =
    QT_TRANSLATE_NOOP("InitPage", "Restarts the device, after asking first (Alt+2)");
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

    // For a screen reader: each value with its caption, read in the order of
    // the page (the form creates its widgets in another order).
    ui->LbVersion->setAccessibleName(tr(kVersionName).arg(Device::VersionInfo));
    ui->LbDN->setAccessibleName(tr(kNumberName).arg(Device::WatchId));
    ui->LbFirmware->setAccessibleName(tr(kFirmwareName).arg(Device::DeviceInfo));
    ui->label->setBuddy(ui->LbVersion);
    ui->label_2->setBuddy(ui->LbDN);
    ui->label_3->setBuddy(ui->LbFirmware);
    ui->BtnUpdate->setAccessibleDescription(tr(kUpdateHelp));
    ui->BtnReset->setAccessibleDescription(tr(kResetHelp));
    for (QWidget* widget :
         {static_cast<QWidget*>(result), static_cast<QWidget*>(ui->label),
          static_cast<QWidget*>(ui->LbVersion), static_cast<QWidget*>(ui->label_2),
          static_cast<QWidget*>(ui->LbDN), static_cast<QWidget*>(ui->label_3),
          static_cast<QWidget*>(ui->LbFirmware), static_cast<QWidget*>(ui->BtnUpdate),
          static_cast<QWidget*>(ui->BtnReset)})
        widget->raise();

    // The keyboard: Tab in the order of reading, Return and Enter press the
    // button that has the focus (Space does already), Alt+1 and Alt+2 the
    // numbered buttons, and a ring shows where the focus is.
    setTabOrder(ui->BtnUpdate, ui->BtnReset);
    for (QPushButton* button : {ui->BtnUpdate, ui->BtnReset})
        button->installEventFilter(this);
    auto* first = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_1), this);
    connect(first, &QShortcut::activated, ui->BtnUpdate, [this] { ui->BtnUpdate->animateClick(); });
    auto* second = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_2), this);
    connect(second, &QShortcut::activated, ui->BtnReset, [this] { ui->BtnReset->animateClick(); });
    new FocusRing(this);
}

QWidget* InitPage::mainButton() const {
    return ui->BtnUpdate;
}

bool InitPage::eventFilter(QObject* watched, QEvent* event) {
    auto* button = qobject_cast<QPushButton*>(watched);
    if (button && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) &&
            !static_cast<QKeyEvent*>(event)->isAutoRepeat()) {
            button->animateClick();
            return true;
        }
    }
    return BaseUI::eventFilter(watched, event);
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
