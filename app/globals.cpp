#include "app/globals.h"

namespace Globals {
MainWindow* MainWin = nullptr;
ThreadComPort* ComPortThread = nullptr;
QPointer<QLabel> StatusLabel;
int RestartPauseMs = 3000;

void SetStatusText(const QString& text) {
    if (StatusLabel)
        StatusLabel->setText(text);
}
} // namespace Globals
