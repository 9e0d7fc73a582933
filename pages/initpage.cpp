#include "pages/initpage.h"

#include "app/mainwindow.h"
#include "device/xmodemdal.h"
#include "util/utility.h"

#include "pages/focusring.h"
#include "pages/statusline.h"
#include "ui_initpage.h"

#include <QKeyEvent>
#include <QLabel>
#include <QShortcut>
#include <QTextDocument>

namespace {
const QRect kResultGeometry(20, 3, 499, 24);
const char kResultStyle[] = "background:none;\nfont: bold 12pt \"Arial\";\ncolor:#1b6e2c;";
// Below the buttons: room for two lines.
const QRect kFailureGeometry(6, 175, 527, 28);
const char kFailureStyle[] = "background:none;\nfont: 9pt \"Arial\";\ncolor:#a40000;";
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
    // For a screen reader: each value with its caption, named before the
    // value is shown, so that each is told once.
    // What the device says of itself is shown as text, whatever it sent.
    const QString version = Utility::Displayable(Device::VersionInfo);
    const QString number = Utility::Displayable(Device::WatchId);
    const QString firmware = Utility::Displayable(Device::DeviceInfo);
    ui->LbVersion->setAccessibleName(tr(kVersionName).arg(version));
    ui->LbDN->setAccessibleName(tr(kNumberName).arg(number));
    ui->LbFirmware->setAccessibleName(tr(kFirmwareName).arg(firmware));
    for (QLabel* value : {ui->LbVersion, ui->LbDN, ui->LbFirmware})
        value->setTextFormat(Qt::PlainText);
    ui->LbDN->setText(number);
    ui->LbFirmware->setText(firmware);
    ui->LbVersion->setText(version);
    Globals::StatusLabel = ui->LbDN;
    result = new QLabel(this);
    result->setObjectName(QStringLiteral("resultMsg"));
    result->setGeometry(kResultGeometry);
    result->setAlignment(Qt::AlignCenter);
    result->setStyleSheet(QLatin1String(kResultStyle));
    ShowResult(Globals::ResultLine);
    failure = new StatusLine(this);
    failure->setObjectName(QStringLiteral("failureMsg"));
    failure->setGeometry(kFailureGeometry);
    failure->setAlignment(Qt::AlignCenter);
    failure->setWordWrap(true);
    failure->setStyleSheet(QLatin1String(kFailureStyle));
    ShowFailure(Globals::FailureLine);

    ui->label->setBuddy(ui->LbVersion);
    ui->label_2->setBuddy(ui->LbDN);
    ui->label_3->setBuddy(ui->LbFirmware);
    ui->BtnUpdate->setAccessibleDescription(tr(kUpdateHelp));
    ui->BtnReset->setAccessibleDescription(tr(kResetHelp));
    // The caption labels are read with their values, not on their own.
    for (QLabel* caption : {ui->label, ui->label_2, ui->label_3})
        caption->setProperty("tembraCaption", true);

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

void InitPage::ShowFailure(const QString& text) {
    failure->setVisible(!text.isEmpty());
    // A tooltip guesses its format: given as text made into markup, it shows the text.
    failure->setToolTip(text.isEmpty() ? QString()
                                       : Qt::convertFromPlainText(Utility::Displayable(text)));
    if (text == failure->text())
        return;
    Globals::ShowStatus(failure, text, Globals::StatusKind::Alert);
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
