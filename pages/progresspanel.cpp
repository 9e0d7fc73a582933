#include "pages/progresspanel.h"

#include "app/globals.h"

#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QTextDocument>
#include <QTextLayout>
#include <QWidget>

namespace {
const QRect kStepGeometry(20, 26, 499, 24);
const QRect kKeepGeometry(20, 49, 499, 20);
const QRect kBarGeometry(70, 124, 399, 20);
// Under the bar: three lines of what the release brings.
const QRect kNotesGeometry(30, 147, 479, 54);
const int kNotesLines = 3;
const char kNotesStyle[] = "background:none;\nfont: 9pt \"Arial\";\ncolor:#444444;";
const char kStepStyle[] = "background:none;\nfont: 12pt \"Arial\";\ncolor:#444444;";
const char kKeepStyle[] = "background:none;\nfont: bold 11pt \"Arial\";\ncolor:#8a4b00;";
const int kPercent = 100;
// The time left is shown once the transfer has been measured this long, is
// shown anew at most this often, and moves at most this much more than the
// time that passed between two showings.
const qint64 kMeasureMs = 2000;
const qint64 kRefreshMs = 1000;
const int kSteadySeconds = 2;
// From this many seconds the time left is said in minutes.
const int kMinutesFrom = 90;

const char* const kSteps[] = {
    QT_TRANSLATE_NOOP("ProgressPanel", "Asking the update service"),
    QT_TRANSLATE_NOOP("ProgressPanel", "Downloading"),
    QT_TRANSLATE_NOOP("ProgressPanel", "Switching the device to its boot loader"),
    QT_TRANSLATE_NOOP("ProgressPanel", "Sending to the device"),
    QT_TRANSLATE_NOOP("ProgressPanel", "Device checking the firmware"),
    QT_TRANSLATE_NOOP("ProgressPanel", "Restarting the device"),
    QT_TRANSLATE_NOOP("ProgressPanel", "Waiting for the device"),
};
// The bar is named by what progresses.
const char* const kDownloadName = QT_TRANSLATE_NOOP("ProgressPanel", "Downloading the firmware");
const char* const kSendingName = QT_TRANSLATE_NOOP("ProgressPanel", "Sending the firmware");
const char* const kProgressName = QT_TRANSLATE_NOOP("ProgressPanel", "Progress");
// A bar's value is told at most this often.
const qint64 kToldEveryMs = 1000;
// A step line that counts down is renamed for a screen reader at most this often.
const qint64 kRenameStepMs = 10000;
const char* const kKeepText = QT_TRANSLATE_NOOP("ProgressPanel", "Keep the device plugged in");
const char* const kSecondsLeft = QT_TRANSLATE_NOOP("ProgressPanel", "about %1 s left");
const char* const kMinutesLeft = QT_TRANSLATE_NOOP("ProgressPanel", "about %1 min left");
const char* const kStepWithTime = QT_TRANSLATE_NOOP("ProgressPanel", "%1 — %2");
const char* const kDownloadingVersion = QT_TRANSLATE_NOOP("ProgressPanel", "Downloading %1");
const char* const kNotesName = QT_TRANSLATE_NOOP("ProgressPanel", "What the release brings");

// The transfer's measurement, for every page that shows it (a transfer
// shows a new page every 255 packets): since when, from how many bytes; the
// time left shown last, and when.
struct TransferClock {
    QElapsedTimer measured;
    qint64 from = -1;
    int shownLeft = -1;
    QElapsedTimer shownAt;
    QString step;
};
TransferClock& transferClock() {
    static TransferClock clock;
    return clock;
}

// Whether the device is in its boot loader, or on its way there or back.
bool keepPluggedIn(UpdateEvents::Phase phase) {
    if (phase == UpdateEvents::Phase::Recovering)
        return false;
    return phase == UpdateEvents::Phase::Restarting || UpdateEvents::instance()->deviceMidUpdate();
}
} // namespace

QString ProgressPanel::StepText(UpdateEvents::Phase phase) {
    switch (phase) {
    case UpdateEvents::Phase::Idle:
        return QString();
    case UpdateEvents::Phase::Checking:
        return tr(kSteps[0]);
    case UpdateEvents::Phase::Downloading: {
        // The version that is fetched.
        const QString version = UpdateEvents::instance()->offeredVersion();
        return version.isEmpty() ? tr(kSteps[1]) : tr(kDownloadingVersion).arg(version);
    }
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

QString ProgressPanel::TimeLeftText(int seconds) {
    if (seconds >= kMinutesFrom)
        return tr(kMinutesLeft).arg((seconds + 30) / 60);
    return tr(kSecondsLeft).arg(qMax(1, seconds));
}

ProgressPanel::ProgressPanel(QWidget* page) : QObject(page) {
    setObjectName(QStringLiteral("progressPanel"));
    step = new QLabel(page);
    step->setObjectName(QStringLiteral("stepMsg"));
    step->setGeometry(kStepGeometry);
    step->setAlignment(Qt::AlignCenter);
    step->setStyleSheet(QLatin1String(kStepStyle));
    step->setTextFormat(Qt::PlainText);
    bar = new TenthsBar(page);
    bar->setObjectName(QStringLiteral("progressBar"));
    bar->setGeometry(kBarGeometry);
    bar->setRange(0, kPercent);
    bar->setFormat(QStringLiteral("%p%"));
    bar->setAlignment(Qt::AlignCenter);
    // Named for what progresses before the page is shown (onPhase, below).
    bar->setAccessibleName(
        UpdateEvents::instance()->phase() == UpdateEvents::Phase::Downloading ? tr(kDownloadName)
        : UpdateEvents::instance()->phase() == UpdateEvents::Phase::Transferring ||
                UpdateEvents::instance()->phase() == UpdateEvents::Phase::Verifying
            ? tr(kSendingName)
            : tr(kProgressName));
    keep = new QLabel(page);
    keep->setObjectName(QStringLiteral("keepMsg"));
    keep->setGeometry(kKeepGeometry);
    keep->setAlignment(Qt::AlignCenter);
    keep->setStyleSheet(QLatin1String(kKeepStyle));
    // Named first: a label named by its text alone tells of every new text.
    keep->setAccessibleName(tr(kKeepText));
    keep->setText(tr(kKeepText));
    notes = new QLabel(page);
    notes->setObjectName(QStringLiteral("notesMsg"));
    notes->setGeometry(kNotesGeometry);
    notes->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    notes->setStyleSheet(QLatin1String(kNotesStyle));
    // Whatever the service sends is text, never markup.
    notes->setTextFormat(Qt::PlainText);
    notes->setAccessibleName(tr(kNotesName));
    // Drags and clicks go to the page beneath, as if these were not there.
    for (QWidget* widget : {static_cast<QWidget*>(step), static_cast<QWidget*>(bar),
                            static_cast<QWidget*>(keep), static_cast<QWidget*>(notes)}) {
        widget->setAttribute(Qt::WA_TransparentForMouseEvents);
        widget->hide();
    }

    UpdateEvents* events = UpdateEvents::instance();
    connect(events, &UpdateEvents::PhaseChanged, this,
            [this](UpdateEvents::Phase phase) { onPhase(phase, true); });
    connect(events, &UpdateEvents::DownloadProgress, this, [this](qint64 bytes, qint64 total) {
        onProgress(UpdateEvents::Phase::Downloading, bytes, total);
    });
    connect(events, &UpdateEvents::TransferProgress, this, [this](qint64 bytes, qint64 total) {
        onProgress(UpdateEvents::Phase::Transferring, bytes, total);
    });
    onPhase(events->phase(), false);
}

void TenthsBar::setShown(int percent) {
    if (percent == drawn && value() >= 0)
        return;
    drawn = percent;
    const int tenth = maximum() > minimum() ? percent / 10 * 10 : percent;
    // Back to the start (a transfer begun again) and the end at once; the
    // tenths between at most once a second.
    const bool due = tenth < value() || tenth >= maximum() || !moved.isValid() ||
                     moved.elapsed() >= kToldEveryMs;
    if (value() != tenth && due) {
        setValue(tenth);
        moved.start();
    }
    update();
}

QString TenthsBar::text() const {
    if (maximum() <= minimum())
        return QString();
    return QStringLiteral("%1%").arg(drawn);
}

void ProgressPanel::showStep(const QString& text, bool counting) {
    if (step->text() != text) {
        // A new step is named at once; the time left of the same step at
        // most every few seconds (the label shows every second of it).
        if (!counting || !stepNamed.isValid() || stepNamed.elapsed() >= kRenameStepMs) {
            step->setAccessibleName(text);
            stepNamed.start();
        }
        step->setText(text);
    }
    step->setVisible(!text.isEmpty());
}

void ProgressPanel::onPhase(UpdateEvents::Phase phase, bool changed) {
    TransferClock& clock = transferClock();
    if (changed)
        clock = TransferClock();
    showStep(phase == UpdateEvents::Phase::Transferring && !clock.step.isEmpty() ? clock.step
                                                                                 : StepText(phase));
    keep->setVisible(keepPluggedIn(phase));
    // On the transfer page, what the release brings: three lines, the whole
    // text for the tooltip and a screen reader.
    const QString brings = UpdateEvents::instance()->offeredNotes();
    const bool transferPage =
        phase == UpdateEvents::Phase::Transferring || phase == UpdateEvents::Phase::Verifying;
    if (transferPage && !brings.isEmpty() && notes->accessibleDescription() != brings) {
        notes->ensurePolished(); // its style sheet's font, before the page is shown
        notes->setText(FirstLines(brings, notes->font(), notes->width(), kNotesLines));
        // A tooltip guesses its format: given as text made into markup, it shows the text.
        notes->setToolTip(Qt::convertFromPlainText(brings));
        notes->setAccessibleDescription(brings);
    }
    notes->setVisible(transferPage && !brings.isEmpty());
    switch (phase) {
    case UpdateEvents::Phase::Downloading:
    case UpdateEvents::Phase::Transferring:
        bar->setAccessibleName(
            tr(phase == UpdateEvents::Phase::Downloading ? kDownloadName : kSendingName));
        bar->setRange(0, kPercent);
        bar->setShown(0);
        bar->setTextVisible(true);
        bar->show();
        return;
    case UpdateEvents::Phase::Verifying:
        // Everything has gone out; the device checks it in a moment.
        bar->setAccessibleName(tr(kSendingName));
        bar->setRange(0, kPercent);
        bar->setShown(kPercent);
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
    bar->setShown(percent);
    if (phase == UpdateEvents::Phase::Transferring)
        estimate(bytes, total);
}

void ProgressPanel::estimate(qint64 bytes, qint64 total) {
    TransferClock& clock = transferClock();
    // A transfer that starts again is measured anew.
    if (clock.from < 0 || bytes < clock.from) {
        clock = TransferClock();
        clock.measured.start();
        clock.from = bytes;
        showStep(StepText(UpdateEvents::Phase::Transferring));
        return;
    }
    const qint64 elapsed = clock.measured.elapsed();
    if (elapsed < kMeasureMs || bytes <= clock.from) {
        showStep(clock.step.isEmpty() ? StepText(UpdateEvents::Phase::Transferring) : clock.step,
                 true);
        return;
    }
    if (clock.shownLeft >= 0 && clock.shownAt.elapsed() < kRefreshMs) {
        showStep(clock.step, true);
        return;
    }
    const double rate = double(bytes - clock.from) / double(elapsed); // bytes per ms
    int left = int(double(total - bytes) / rate / 1000.0 + 0.999);
    // Steady: it runs down with the time, give or take a little.
    if (clock.shownLeft >= 0) {
        const int expected = clock.shownLeft - int(clock.shownAt.elapsed() / 1000);
        left = qBound(expected - kSteadySeconds, left, expected + kSteadySeconds);
    }
    clock.shownLeft = qMax(1, left);
    clock.shownAt.start();
    clock.step =
        tr(kStepWithTime)
            .arg(StepText(UpdateEvents::Phase::Transferring), TimeLeftText(clock.shownLeft));
    showStep(clock.step, true);
}

void ProgressPanel::ShowDetail(const QString& text) {
    step->setWordWrap(true);
    showStep(text);
    bar->hide();
    keep->hide();
}

QString ProgressPanel::FirstLines(const QString& text, const QFont& font, int width, int maxLines) {
    const QFontMetrics metrics(font);
    const QStringList paragraphs = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QStringList lines;
    for (int p = 0; p < paragraphs.size(); ++p) {
        const QString& paragraph = paragraphs.at(p);
        QTextLayout layout(paragraph, font);
        // A word longer than the line is broken too, not left to overflow.
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            if (int(lines.size()) + 1 == maxLines) {
                // The last line: all that is left, cut to fit.
                QString rest = paragraph.mid(line.textStart());
                for (int q = p + 1; q < paragraphs.size(); ++q)
                    rest += QLatin1Char(' ') + paragraphs.at(q);
                lines << metrics.elidedText(rest.simplified(), Qt::ElideRight, width);
                layout.endLayout();
                return lines.join(QLatin1Char('\n'));
            }
            lines << paragraph.mid(line.textStart(), line.textLength()).trimmed();
        }
        layout.endLayout();
    }
    return lines.join(QLatin1Char('\n'));
}
