#pragma once
#include <cstdint>

namespace rw {

// Monotonic milliseconds and a sleeper. Whatever waits or measures time in the
// engine (pauses after mode requests, the erase wait, back-off between failed
// passes) takes a Clock, so tests run it on a fake one. Links wait on the
// operating system directly (poll), in real time.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual int64_t nowMs() = 0;
    virtual void sleepMs(int64_t ms) = 0;
    // Whole seconds of the same monotonic clock: a wall-clock change cannot
    // stretch or skip the erase wait.
    int64_t nowSeconds() { return nowMs() / 1000; }
};

// The real monotonic clock (std::chrono::steady_clock).
Clock& systemClock();

// Milliseconds left until `deadlineMs` (never negative).
inline int64_t remainingMs(int64_t deadlineMs, int64_t nowMs) {
    return deadlineMs > nowMs ? deadlineMs - nowMs : 0;
}

}  // namespace rw
