#include "device/threadsleep.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {
std::mutex sleepMutex;
std::condition_variable wakeUp;
} // namespace

void SleepUnlessInterrupted(QThread* thread, unsigned long ms) {
    std::unique_lock<std::mutex> lock(sleepMutex);
    wakeUp.wait_for(lock, std::chrono::milliseconds(ms),
                    [thread] { return thread->isInterruptionRequested(); });
}

void InterruptThread(QThread* thread) {
    if (!thread)
        return;
    {
        // Under the lock: a sleeper between its check and its wait still sees it.
        std::lock_guard<std::mutex> lock(sleepMutex);
        thread->requestInterruption();
    }
    wakeUp.notify_all();
}
