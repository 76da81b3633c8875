#include "support/FakeClock.h"

namespace rwtest {

int64_t FakeClock::nowMs() {
    std::lock_guard lock(mutex_);
    return nowMs_;
}

void FakeClock::sleepMs(int64_t ms) {
    std::lock_guard lock(mutex_);
    sleeps_.push_back(ms);
    if (ms > 0) nowMs_ += ms;
}

void FakeClock::advanceMs(int64_t ms) {
    std::lock_guard lock(mutex_);
    nowMs_ += ms;
}

std::vector<int64_t> FakeClock::sleeps() const {
    std::lock_guard lock(mutex_);
    return sleeps_;
}

int64_t FakeClock::totalSleptMs() const {
    std::lock_guard lock(mutex_);
    int64_t total = 0;
    for (int64_t ms : sleeps_) {
        if (ms > 0) total += ms;
    }
    return total;
}

void FakeClock::clearSleeps() {
    std::lock_guard lock(mutex_);
    sleeps_.clear();
}

}  // namespace rwtest
