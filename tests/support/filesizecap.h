#pragma once

#include <csignal>
#include <sys/resource.h>

// While it exists, no file of the process may grow beyond the given size, as
// on a full disk: writes past it fail instead of raising SIGXFSZ.
class FileSizeCap {
public:
    explicit FileSizeCap(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved);
        previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit capped = saved;
        capped.rlim_cur = bytes;
        active = setrlimit(RLIMIT_FSIZE, &capped) == 0;
    }
    ~FileSizeCap() {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);
    }
    FileSizeCap(const FileSizeCap&) = delete;
    FileSizeCap& operator=(const FileSizeCap&) = delete;

    bool isActive() const { return active; }

private:
    rlimit saved{};
    void (*previousHandler)(int) = nullptr;
    bool active = false;
};
