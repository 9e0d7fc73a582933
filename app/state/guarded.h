#pragma once

#include <mutex>

// A value shared between the GUI thread and the port threads: every read and
// write takes the lock, and reads hand out a copy.
template <typename T> class Guarded {
public:
    explicit Guarded(const T& initial = T()) : value(initial) {}
    Guarded(const Guarded&) = delete;
    Guarded& operator=(const Guarded&) = delete;

    T get() const {
        std::lock_guard<std::mutex> lock(mutex);
        return value;
    }
    void set(const T& newValue) {
        std::lock_guard<std::mutex> lock(mutex);
        value = newValue;
    }
    Guarded& operator=(const T& newValue) {
        set(newValue);
        return *this;
    }
    operator T() const { return get(); }

private:
    mutable std::mutex mutex;
    T value;
};
