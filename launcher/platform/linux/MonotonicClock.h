#pragma once
// The agent's one clock: seconds since an arbitrary start, never set back.

#include <ctime>

namespace velto::launcher {

inline double monotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace velto::launcher
