#pragma once

#include <QMutex>
#include <QMutexLocker>

// A value shared between the GUI thread and the port threads: every read and
// write takes the lock, and reads hand out a copy.
template <typename T> class Guarded {
public:
    explicit Guarded(const T& initial = T()) : value(initial) {}
    Guarded(const Guarded&) = delete;
    Guarded& operator=(const Guarded&) = delete;

    T get() const {
        QMutexLocker lock(&mutex);
        return value;
    }
    void set(const T& newValue) {
        QMutexLocker lock(&mutex);
        value = newValue;
    }
    Guarded& operator=(const T& newValue) {
        set(newValue);
        return *this;
    }
    operator T() const { return get(); }

private:
    mutable QMutex mutex;
    T value;
};
