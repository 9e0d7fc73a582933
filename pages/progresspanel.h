#pragma once

#include "app/state/updateevents.h"

#include <QElapsedTimer>
#include <QObject>

class QFont;
class QLabel;
class QProgressBar;
class QWidget;

// What an update is doing, beside a page's own status line: a short line
// naming the step (with the time left while the firmware goes out to the
// device, and while it restarts what not to do), a progress bar with a
// percentage while the firmware downloads or goes out, or a busy bar while
// the device restarts, and from the switch to the boot loader until the
// device is identified again a line that says to keep it plugged in. It
// follows the run's events; its widgets are the page's own (so that a screen
// reader reads them in the page's order) and take no mouse events.
class ProgressPanel : public QObject {
    Q_OBJECT
public:
    explicit ProgressPanel(QWidget* page);

    QLabel* stepLine() const { return step; }
    QProgressBar* progressBar() const { return bar; }
    QLabel* keepLine() const { return keep; }
    QLabel* notesLine() const { return notes; }
    // text, laid out in lines of width in font, as at most maxLines lines:
    // the last one cut with "…" when more is left.
    static QString FirstLines(const QString& text, const QFont& font, int width, int maxLines);
    // A line of its own in place of the step's name (a failure's detail).
    void ShowDetail(const QString& text);

    // The step's name for a phase; "" for none.
    static QString StepText(UpdateEvents::Phase phase);
    // "about 20 s left", "about 3 min left".
    static QString TimeLeftText(int seconds);

private:
    // changed: the run's phase changed now, rather than a page was made.
    void onPhase(UpdateEvents::Phase phase, bool changed);
    void onProgress(UpdateEvents::Phase phase, qint64 bytes, qint64 total);
    void showStep(const QString& text);
    // The time left of the transfer, from the bytes acknowledged so far.
    void estimate(qint64 bytes, qint64 total);

    QLabel* step;
    QProgressBar* bar;
    QLabel* keep;
    QLabel* notes;
};
