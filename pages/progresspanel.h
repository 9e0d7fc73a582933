#pragma once

#include "app/state/updateevents.h"

#include <QWidget>

class QLabel;
class QProgressBar;

// What an update is doing, beside a page's own status line: a short line
// naming the step, and a progress bar with a percentage while the firmware
// downloads or goes out to the device, or a busy bar while the device
// restarts. It follows the run's events, covers its page without taking its
// mouse events, and shows only while an update is under way.
class ProgressPanel : public QWidget {
    Q_OBJECT
public:
    explicit ProgressPanel(QWidget* page);

    QLabel* stepLine() const { return step; }
    QProgressBar* progressBar() const { return bar; }
    // A line of its own in place of the step's name (a failure's detail).
    void ShowDetail(const QString& text);

    // The step's name for a phase; "" for none.
    static QString StepText(UpdateEvents::Phase phase);

private:
    void onPhase(UpdateEvents::Phase phase);
    void onProgress(UpdateEvents::Phase phase, qint64 bytes, qint64 total);

    QLabel* step;
    QProgressBar* bar;
};
