#pragma once
#include <cstdint>

namespace rw {

// Monotonic milliseconds and a sleeper. Everything in the engine that waits or
// measures time (pauses after mode requests, the erase wait, back-off between
// failed passes) goes through engineClock(), so tests can run it on a fake clock.
// Links wait on the operating system directly (poll), in real time.
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

// The clock the engine uses; systemClock() unless a test installed another.
Clock& engineClock();
// Installs a clock for the engine; null restores systemClock(). Not thread-safe
// against running jobs: install before starting one.
void setEngineClock(Clock* clock);

// A deadline helper: milliseconds left until `deadlineMs` (never negative).
inline int64_t remainingMs(int64_t deadlineMs, int64_t nowMs) {
    return deadlineMs > nowMs ? deadlineMs - nowMs : 0;
}

}  // namespace rw
