#pragma once

#include <QThread>

// Sleeps for ms milliseconds in short steps and returns early once the thread
// is asked to stop, so that shutting down never waits for a whole poll period.
inline void SleepUnlessInterrupted(QThread* thread, unsigned long ms) {
    const unsigned long step = 10;
    for (unsigned long slept = 0; slept < ms; slept += step) {
        QThread::msleep(qMin(step, ms - slept));
        if (thread->isInterruptionRequested())
            return;
    }
}
