#pragma once
// A clock for tests: time stands still until something sleeps or a test advances
// it, so waits of seconds take no real time and every pause is recorded.
#include <cstdint>
#include <mutex>
#include <vector>

#include "base/Clock.h"

namespace rwtest {

class FakeClock : public rw::Clock {
  public:
    explicit FakeClock(int64_t startMs = 0) : nowMs_(startMs) {}

    int64_t nowMs() override {
        std::lock_guard lock(mutex_);
        return nowMs_;
    }
    // Records the pause and advances the clock by it (negative pauses count as 0).
    void sleepMs(int64_t ms) override {
        std::lock_guard lock(mutex_);
        sleeps_.push_back(ms);
        nowMs_ += ms > 0 ? ms : 0;
    }
    void advanceMs(int64_t ms) {
        std::lock_guard lock(mutex_);
        nowMs_ += ms;
    }
    // Every sleepMs argument, in call order.
    std::vector<int64_t> sleeps() const {
        std::lock_guard lock(mutex_);
        return sleeps_;
    }

  private:
    mutable std::mutex mutex_;
    int64_t nowMs_;
    std::vector<int64_t> sleeps_;
};

}  // namespace rwtest
