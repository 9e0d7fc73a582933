#include "app/state/bounds.h"

#include <QString>
#include <QtGlobal>

namespace Bounds {
namespace {
const int kDeviceSilenceMs = 10000;
const int kNotAnsweringMs = 10000;
const int kNotAnsweringExitMs = 30000;
const int kLostReturnMs = 60000;
const int kFailureShownMs = 3000;
const int kRestartPauseMs = 3000;
const int kSwitchBackMs = 10000;
const int kUpdateStartAnswerMs = 5000;
const double kSmallestScale = 0.01;

double scale() {
    static const double factor = [] {
        bool ok = false;
        const double value = qEnvironmentVariable("TEMBRA_TEST_TIME_SCALE").toDouble(&ok);
        return ok ? qBound(kSmallestScale, value, 1.0) : 1.0;
    }();
    return factor;
}
} // namespace

int Scaled(int ms) {
    return qRound(ms * scale());
}

int DeviceSilenceMs() {
    return Scaled(kDeviceSilenceMs);
}
int NotAnsweringMs() {
    return Scaled(kNotAnsweringMs);
}
int NotAnsweringExitMs() {
    return Scaled(kNotAnsweringExitMs);
}
int LostReturnMs() {
    return Scaled(kLostReturnMs);
}
int FailureShownMs() {
    return Scaled(kFailureShownMs);
}
int RestartPauseMs() {
    return Scaled(kRestartPauseMs);
}
int SwitchBackMs() {
    return Scaled(kSwitchBackMs);
}
int UpdateStartAnswerMs() {
    return Scaled(kUpdateStartAnswerMs);
}

} // namespace Bounds
