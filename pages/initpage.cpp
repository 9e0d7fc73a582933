#include "pages/initpage.h"

#include "app/mainwindow.h"
#include "app/offercheck.h"
#include "device/portlist.h"
#include "device/xmodemdal.h"
#include "pages/xmodemupdate.h"
#include "util/utility.h"

#include "pages/focusring.h"
#include "pages/statusline.h"
#include "ui_initpage.h"

#include <QFileInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QShortcut>
#include <QTextDocument>
#include <QTimer>

namespace {
const QRect kResultGeometry(20, 2, 499, 22);
const char kResultStyle[] = "background:none;\nfont: bold 12pt \"Arial\";\ncolor:#1b6e2c;";
// Under the device's values: what is offered, and which device this is.
const QRect kOfferGeometry(20, 89, 499, 16);
const char kOfferStyle[] = "background:none;\nfont: 10pt \"Arial\";\ncolor:#0b4f6c;";
const QRect kNoteGeometry(20, 105, 499, 13);
const char kNoteStyle[] = "background:none;\nfont: 9pt \"Arial\";\ncolor:#555555;";
// Below the buttons and clear of their focus ring: room for two lines.
const QRect kFailureGeometry(6, 171, 527, 32);
const char kFailureStyle[] = "background:none;\nfont: %1pt \"Arial\";\ncolor:#a40000;";
// The failure line's sizes, largest first: the first in which it fits in two lines.
const int kFailureSizes[] = {10, 9, 8};
// How often the page looks whether other devices are plugged in.
const int kNoteRefreshMs = 2000;
const char* const kOfferAvailable = QT_TRANSLATE_NOOP("InitPage", "Firmware %1 is available");
const char* const kOfferWithNotes = QT_TRANSLATE_NOOP("InitPage", "Firmware %1 is available: %2");
const char* const kOfferUpToDate = QT_TRANSLATE_NOOP("InitPage", "Up to date");
const char* const kOfferUnknown =
    QT_TRANSLATE_NOOP("InitPage", "The update service cannot be reached now");
const char* const kChosenFile =
    QT_TRANSLATE_NOOP("InitPage", "Chosen file: %1 (1.Update Firmware installs it)");
const char* const kOneOther =
    QT_TRANSLATE_NOOP("InitPage", "This is the device on %1; the other device is left alone");
const char* const kOthers =
    QT_TRANSLATE_NOOP("InitPage", "This is the device on %1; the %2 other devices are left alone");
const char* const kPortAndSerial = QT_TRANSLATE_NOOP("InitPage", "%1 (serial %2)");
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
    result = addLine(QStringLiteral("resultMsg"), kResultGeometry, kResultStyle);
    ShowResult(Globals::ResultLine);
    offer = addLine(QStringLiteral("offerMsg"), kOfferGeometry, kOfferStyle);
    ShowOffer();
    note = addLine(QStringLiteral("noteMsg"), kNoteGeometry, kNoteStyle);
    ShowNote();
    auto* notes = new QTimer(this);
    connect(notes, &QTimer::timeout, this, &InitPage::ShowNote);
    notes->start(kNoteRefreshMs);
    failure = new StatusLine(this);
    failure->setObjectName(QStringLiteral("failureMsg"));
    failure->setGeometry(kFailureGeometry);
    failure->setAlignment(Qt::AlignCenter);
    failure->setWordWrap(true);
    failure->setStyleSheet(QString::fromLatin1(kFailureStyle).arg(kFailureSizes[0]));
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
    // Two lines of about one length, not a second line of one word, in the
    // largest size in which two lines hold it.
    const QString shown = Utility::Displayable(text);
    QString lines;
    for (const int size : kFailureSizes) {
        failure->setStyleSheet(QString::fromLatin1(kFailureStyle).arg(size));
        failure->ensurePolished();
        lines = BalancedLines(shown, failure->font(), failure->width());
        if (QFontMetrics(failure->font())
                .boundingRect(QRect(0, 0, failure->width(), 1000),
                              Qt::AlignCenter | Qt::TextWordWrap, lines)
                .height() <= failure->height())
            break;
    }
    if (lines == failure->text())
        return;
    Globals::ShowStatus(failure, UserText(text), Globals::StatusKind::Alert);
    failure->setText(lines);
}

void InitPage::ShowOffer() {
    const ChosenFirmware& chosen = XModemUpdate::Chosen();
    const OfferCheck::Offer& known = OfferCheck::Current();
    QString text;
    QString notes;
    if (chosen.isValid()) {
        text = tr(kChosenFile).arg(Utility::Displayable(QFileInfo(chosen.path).fileName()));
    } else if (!Globals::AnswerLine.isEmpty()) {
        // What the last press came to.
        text = Globals::AnswerLine;
    } else if (known.deviceNumber == Device::WatchId || known.deviceNumber.isEmpty()) {
        switch (known.kind) {
        case OfferCheck::Kind::Available: {
            const QString version = Utility::Displayable(known.version);
            notes = known.notes;
            const QString first = notes.section(QLatin1Char('\n'), 0, 0);
            offer->ensurePolished();
            text = first.isEmpty() ? tr(kOfferAvailable).arg(version)
                                   : QFontMetrics(offer->font())
                                         .elidedText(tr(kOfferWithNotes).arg(version, first),
                                                     Qt::ElideRight, offer->width());
            break;
        }
        case OfferCheck::Kind::UpToDate:
            text = tr(kOfferUpToDate);
            break;
        case OfferCheck::Kind::Unreachable:
            text = tr(kOfferUnknown);
            break;
        case OfferCheck::Kind::None:
        case OfferCheck::Kind::Asking:
            break;
        }
    }
    offer->setVisible(!text.isEmpty());
    offer->setToolTip(notes.isEmpty() ? QString() : Qt::convertFromPlainText(notes));
    offer->setAccessibleDescription(notes);
    if (offer->text() == text)
        return;
    offer->setAccessibleName(text);
    offer->setText(text);
}

void InitPage::ShowNote() {
    // As the monitor saw them last: the window never lists the ports itself.
    const QStringList ports = PortList::Plugged();
    QString text;
    if (ports.size() > 1) {
        const QString port = Globals::PortName;
        KnownDevice device;
        PortList::Following(&device);
        const QString serial = Utility::Displayable(device.port.serial);
        const QString shown = serial.isEmpty() ? port : tr(kPortAndSerial).arg(port, serial);
        text = ports.size() == 2 ? tr(kOneOther).arg(shown)
                                 : tr(kOthers).arg(shown).arg(ports.size() - 1);
    } else {
        // When this device was last updated here, as the history has it.
        text = Globals::LastUpdateLine;
    }
    note->setVisible(!text.isEmpty());
    if (note->text() == text)
        return;
    note->setAccessibleName(text);
    note->setText(text);
}

void InitPage::ShowResult(const QString& text) {
    result->setVisible(!text.isEmpty());
    if (text == result->text())
        return;
    // Read out by a screen reader as soon as it appears.
    Globals::ShowStatus(result, text, Globals::StatusKind::Alert);
}

QLabel* InitPage::addLine(const QString& name, const QRect& geometry, const char* style) {
    auto* line = new QLabel(this);
    line->setObjectName(name);
    line->setGeometry(geometry);
    line->setAlignment(Qt::AlignCenter);
    line->setStyleSheet(QLatin1String(style));
    line->setTextFormat(Qt::PlainText);
    return line;
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
