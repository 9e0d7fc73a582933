#include "app/globals.h"

#include "app/logging.h"
#include "app/state/bounds.h"
#include "app/state/updateevents.h"

#include <QAccessible>

namespace Globals {
MainWindow* MainWin = nullptr;
ThreadComPort* ComPortThread = nullptr;
QPointer<QLabel> StatusLabel;
int RestartPauseMs = Bounds::RestartPauseMs();
QString ResultLine;

void ShowStatus(QLabel* label, const QString& text, StatusKind kind) {
    if (!label)
        return;
    label->setText(text);
    // A label named for screen readers (a value with its caption) is named
    // by what it now shows.
    if (!label->accessibleName().isEmpty())
        label->setAccessibleName(text);
    // The label's accessible name is its text: a changed name on a label
    // that has no focus is not read out, so the change is announced.
    QAccessibleEvent changed(label, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&changed);
    if (kind == StatusKind::Alert) {
        QAccessibleEvent alert(label, QAccessible::Alert);
        QAccessible::updateAccessibility(&alert);
    }
    if (label == StatusLabel.data())
        UpdateEvents::instance()->statusText(text);
}

void SetStatusText(const QString& text) {
    QLabel* label = StatusLabel.data();
    // The transfer sets its text after every packet; it changes once a KB.
    if (label && label->text() == text)
        return;
    qCDebug(lcApp).noquote() << "status text:" << text;
    ShowStatus(label, text);
}
} // namespace Globals
