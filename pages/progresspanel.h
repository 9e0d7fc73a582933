#pragma once

#include "app/state/updateevents.h"

#include <QElapsedTimer>
#include <QObject>

#include <QElapsedTimer>
#include <QProgressBar>

class QFont;
class QLabel;
class QWidget;

// A progress bar that draws every percent but moves its value, which a
// screen reader reads and is told of, at each tenth of the way only, at
// most once a second, and at the end.
class TenthsBar : public QProgressBar {
    Q_OBJECT
public:
    using QProgressBar::QProgressBar;
    // The percent drawn; the value follows it to the tenth.
    void setShown(int percent);
    int shown() const { return drawn; }
    QString text() const override;

private:
    int drawn = 0;
    QElapsedTimer moved;
};

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
    TenthsBar* progressBar() const { return bar; }
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
    // counting: the same step with its time left, renamed for a screen
    // reader at most every few seconds.
    void showStep(const QString& text, bool counting = false);
    // The time left of the transfer, from the bytes acknowledged so far.
    void estimate(qint64 bytes, qint64 total);

    QLabel* step;
    TenthsBar* bar;
    QElapsedTimer stepNamed;
    QLabel* keep;
    QLabel* notes;
};
