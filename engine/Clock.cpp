#include "engine/Clock.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace rw {

namespace {
class SteadyClock final : public Clock {
public:
    int64_t nowMs() override {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
    void sleepMs(int64_t ms) override {
        if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
};

std::atomic<Clock*> installedClock{nullptr};
}  // namespace

Clock& systemClock() {
    static SteadyClock clock;
    return clock;
}

Clock& engineClock() {
    Clock* clock = installedClock.load(std::memory_order_acquire);
    return clock != nullptr ? *clock : systemClock();
}

void setEngineClock(Clock* clock) { installedClock.store(clock, std::memory_order_release); }

}  // namespace rw
