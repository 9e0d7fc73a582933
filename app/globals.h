#pragma once

#include "app/state/state.h"
#include "app/state/usertext.h"

#include <QLabel>
#include <QPointer>

class MainWindow;
class ThreadComPort;

// The window-related part of the process-wide state.
namespace Globals {
// The one main window.
extern MainWindow* MainWin;
// The port-search thread, created on the first search and restarted after.
extern ThreadComPort* ComPortThread;
// Status label of the page constructed last; a guarded pointer, so a text
// written after that page is gone is dropped.
extern QPointer<QLabel> StatusLabel;
// Milliseconds the GUI thread pauses while the device restarts during an update.
extern int RestartPauseMs;
// What the last action did to the device plugged in now ("Updated from 1.2.7
// to 1.3.0"); the device information page shows it in a line of its own.
// Empty once that device has gone.
extern QString ResultLine;
// What the last press came to when it installed nothing ("Your device is up
// to date (1.2.7)"): the device page says it where it says what is offered,
// until the next press or until the device goes.
extern QString AnswerLine;
// When the device shown was last updated here, and from what to what, as the
// update history has it; "" for a device it has no update of.
extern QString LastUpdateLine;
// What the last attempt failed at, when, and the way on; the device
// information page shows it in a line of its own until the next attempt
// starts or the device goes.
extern QString FailureLine;

// How a status text is announced to screen readers: a failure, or a result
// the user waited for, as an alert.
enum class StatusKind { Normal, Alert };

// Writes text into a page's status label. A screen reader is told of the new
// text once; when the label is the current status label the text (in
// English) is also the run's status (UpdateEvents::StatusText).
void ShowStatus(QLabel* label, const UserText& text, StatusKind kind = StatusKind::Normal);
// The same for a text that counts its way to a total: a screen reader is
// told at each tenth of the way, at most once a second, and at the end.
void ShowProgress(QLabel* label, const UserText& text, qint64 done, qint64 total);

// Writes a text into the status label when that label still exists.
void SetStatusText(const UserText& text);
void SetProgressText(const UserText& text, qint64 done, qint64 total);
} // namespace Globals
