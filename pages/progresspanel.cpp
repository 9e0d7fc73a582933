#include "pages/progresspanel.h"

#include "app/globals.h"

#include <QLabel>
#include <QProgressBar>

namespace {
const QRect kStepGeometry(20, 26, 499, 24);
const QRect kBarGeometry(70, 124, 399, 20);
const char kStepStyle[] = "background:none;\nfont: 12pt \"Arial\";\ncolor:#444444;";
const int kPercent = 100;

const char* const kSteps[] = {
    QT_TRANSLATE_NOOP("ProgressPanel", "Asking the update service"),
    QT_TRANSLATE_NOOP("ProgressPanel", "Downloading"),
    QT_TRANSLATE_NOOP("ProgressPanel", "Switching the device to its boot loader"),
    QT_TRANSLATE_NOOP("ProgressPanel", "Sending to the device"),
    QT_TRANSLATE_NOOP("ProgressPanel", "Device checking the firmware"),
    QT_TRANSLATE_NOOP("ProgressPanel", "Restarting"),
    QT_TRANSLATE_NOOP("ProgressPanel", "Waiting for the device"),
};
const char* const kProgressName = QT_TRANSLATE_NOOP("ProgressPanel", "Progress");
} // namespace

QString ProgressPanel::StepText(UpdateEvents::Phase phase) {
    switch (phase) {
    case UpdateEvents::Phase::Idle:
        return QString();
    case UpdateEvents::Phase::Checking:
        return tr(kSteps[0]);
    case UpdateEvents::Phase::Downloading:
        return tr(kSteps[1]);
    case UpdateEvents::Phase::Switching:
        return tr(kSteps[2]);
    case UpdateEvents::Phase::Transferring:
        return tr(kSteps[3]);
    case UpdateEvents::Phase::Verifying:
        return tr(kSteps[4]);
    case UpdateEvents::Phase::Restarting:
        return tr(kSteps[5]);
    case UpdateEvents::Phase::Recovering:
        return tr(kSteps[6]);
    }
    return QString();
}

ProgressPanel::ProgressPanel(QWidget* page) : QWidget(page) {
    setObjectName(QStringLiteral("progressPanel"));
    // Drags and clicks go to the page beneath, as if the panel were not there.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setGeometry(0, 0, Globals::PageWidth, Globals::PageHeight);
    step = new QLabel(this);
    step->setObjectName(QStringLiteral("stepMsg"));
    step->setGeometry(kStepGeometry);
    step->setAlignment(Qt::AlignCenter);
    step->setStyleSheet(QLatin1String(kStepStyle));
    bar = new QProgressBar(this);
    bar->setObjectName(QStringLiteral("progressBar"));
    bar->setGeometry(kBarGeometry);
    bar->setRange(0, kPercent);
    bar->setFormat(QStringLiteral("%p%"));
    bar->setAlignment(Qt::AlignCenter);
    bar->setAccessibleName(tr(kProgressName));
    bar->hide();

    UpdateEvents* events = UpdateEvents::instance();
    connect(events, &UpdateEvents::PhaseChanged, this, &ProgressPanel::onPhase);
    connect(events, &UpdateEvents::DownloadProgress, this, [this](qint64 bytes, qint64 total) {
        onProgress(UpdateEvents::Phase::Downloading, bytes, total);
    });
    connect(events, &UpdateEvents::TransferProgress, this, [this](qint64 bytes, qint64 total) {
        onProgress(UpdateEvents::Phase::Transferring, bytes, total);
    });
    onPhase(events->phase());
}

void ProgressPanel::onPhase(UpdateEvents::Phase phase) {
    const QString text = StepText(phase);
    step->setText(text);
    step->setAccessibleName(text);
    setVisible(!text.isEmpty());
    switch (phase) {
    case UpdateEvents::Phase::Downloading:
    case UpdateEvents::Phase::Transferring:
        bar->setRange(0, kPercent);
        bar->setValue(0);
        bar->setTextVisible(true);
        bar->show();
        return;
    case UpdateEvents::Phase::Verifying:
        // Everything has gone out; the device checks it in a moment.
        bar->setRange(0, kPercent);
        bar->setValue(kPercent);
        bar->setTextVisible(true);
        bar->show();
        return;
    case UpdateEvents::Phase::Switching:
    case UpdateEvents::Phase::Restarting:
        // The device works on its own for a while: a busy bar.
        bar->setRange(0, 0);
        bar->setTextVisible(false);
        bar->show();
        return;
    default:
        bar->hide();
        return;
    }
}

void ProgressPanel::onProgress(UpdateEvents::Phase phase, qint64 bytes, qint64 total) {
    if (UpdateEvents::instance()->phase() != phase || total <= 0)
        return;
    const int percent = int(qBound(qint64(0), bytes * kPercent / total, qint64(kPercent)));
    // A transfer that starts again from its first packet goes back to 0.
    bar->setValue(percent);
}

void ProgressPanel::ShowDetail(const QString& text) {
    step->setText(text);
    step->setAccessibleName(text);
    step->setWordWrap(true);
    bar->hide();
    show();
}
