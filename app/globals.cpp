#include "app/globals.h"

#include "app/logging.h"

namespace Globals {
MainWindow* MainWin = nullptr;
ThreadComPort* ComPortThread = nullptr;
QPointer<QLabel> StatusLabel;
int RestartPauseMs = 3000;

void SetStatusText(const QString& text) {
    qCDebug(lcApp).noquote() << "status text:" << text;
    if (StatusLabel)
        StatusLabel->setText(text);
}
} // namespace Globals
