#include "app/globals.h"

#include "app/logging.h"
#include "app/state/bounds.h"
#include "app/state/updateevents.h"
#include "util/utility.h"

#include <QAccessible>
#include <QElapsedTimer>
#include <QVariant>

namespace Globals {
MainWindow* MainWin = nullptr;
ThreadComPort* ComPortThread = nullptr;
QPointer<QLabel> StatusLabel;
int RestartPauseMs = Bounds::RestartPauseMs();
QString ResultLine;
QString AnswerLine;
QString LastUpdateLine;
QString FailureLine;

namespace {
// How often a text that counts its way is told to a screen reader, at most.
const qint64 kProgressToldMs = 1000;
const char* const kToldAt = "tembraToldAt";
const char* const kToldTenth = "tembraToldTenth";

QElapsedTimer& clock() {
    static QElapsedTimer timer;
    if (!timer.isValid())
        timer.start();
    return timer;
}

// The label's name is what a screen reader reads: changed, it is told once
// (the toolkit says a changed name itself; a label whose name is its text
// would also be told of every new text).
void tell(QLabel* label, const QString& text, StatusKind kind) {
    // A status line is an alert while it says what failed.
    label->setProperty("tembraAlerting", kind == StatusKind::Alert);
    if (label->accessibleName() != text)
        label->setAccessibleName(text);
    if (kind == StatusKind::Alert) {
        QAccessibleEvent alert(label, QAccessible::Alert);
        QAccessible::updateAccessibility(&alert);
    }
}

void reportStatus(QLabel* label, const UserText& text) {
    if (label == StatusLabel.data())
        UpdateEvents::instance()->statusText(text.english);
}
} // namespace

void ShowStatus(QLabel* label, const UserText& text, StatusKind kind) {
    if (!label)
        return;
    // A status holds words from outside (the service's, a port's, a file's
    // name): always text, never markup, and nothing that acts instead of showing.
    const QString shown = Utility::Displayable(text.shown);
    label->setTextFormat(Qt::PlainText);
    tell(label, shown, kind);
    label->setText(shown);
    label->setProperty(kToldTenth, QVariant());
    reportStatus(label, text);
}

void ShowProgress(QLabel* label, const UserText& text, qint64 done, qint64 total) {
    if (!label)
        return;
    const qint64 now = clock().elapsed();
    const int tenth = total > 0 ? int(qBound(qint64(0), done * 10 / total, qint64(10))) : -1;
    const QVariant toldTenth = label->property(kToldTenth);
    const bool due = !toldTenth.isValid() || tenth == 10 ||
                     (tenth != toldTenth.toInt() &&
                      now - label->property(kToldAt).toLongLong() >= kProgressToldMs);
    if (due) {
        tell(label, text.shown, StatusKind::Normal);
        label->setProperty(kToldAt, now);
        label->setProperty(kToldTenth, tenth);
    } else if (label->accessibleName().isEmpty()) {
        // Named, so that a new text alone tells nothing.
        label->setAccessibleName(label->text());
    }
    label->setTextFormat(Qt::PlainText);
    label->setText(text.shown);
    reportStatus(label, text);
}

void SetStatusText(const UserText& text) {
    QLabel* label = StatusLabel.data();
    // The transfer sets its text after every packet; it changes once a KB.
    if (label && label->text() == text.shown)
        return;
    qCDebug(lcApp).noquote() << "status text:" << text.english;
    ShowStatus(label, text);
}

void SetProgressText(const UserText& text, qint64 done, qint64 total) {
    QLabel* label = StatusLabel.data();
    if (label && label->text() == text.shown)
        return;
    qCDebug(lcApp).noquote() << "status text:" << text.english;
    ShowProgress(label, text, done, total);
}
} // namespace Globals
