#pragma once

#include <QThread>

// Sleeps for ms milliseconds and returns early once the thread is asked to
// stop through InterruptThread, so that shutting down never waits for a whole
// poll period. It sleeps in one wait, not in short steps: the port threads
// sleep for the life of the tool, and every wake-up costs CPU time.
void SleepUnlessInterrupted(QThread* thread, unsigned long ms);

// Asks thread to stop at its next safe point and wakes it from its sleep.
void InterruptThread(QThread* thread);
