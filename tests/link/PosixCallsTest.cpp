// The deadline helpers of the POSIX links: the time left rounds up to whole
// milliseconds, so a wait never ends just before its deadline, and a time-out
// too large for poll() is clamped instead of turning into "wait forever".
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdint>

#include "link/posix/PosixCalls.h"

namespace rwtest {
namespace {

using std::chrono::microseconds;

TEST(PosixCalls, PollTimeOutIsClampedAndTimeLeftRoundsUp) {
    // 0xFFFFFFFF and 0x100000000 cut to 32 bits would wait forever or not at all.
    // clang-format off
    const std::pair<int64_t, int> clamped[] = {
        {0, 0}, {1, 1}, {-1, 0}, {INT64_MIN, 0}, {INT_MAX, INT_MAX}, {0xFFFFFFFF, INT_MAX},
        {0x100000000, INT_MAX}, {INT64_MAX, INT_MAX}};
    // clang-format on
    for (const auto& [timeoutMs, pollMs] : clamped)
        EXPECT_EQ(rw::posix::toPollMs(timeoutMs), pollMs);
    // {time to the deadline, whole ms left}, while less than 0.4 ms passes
    // between the two clock reads; a slower attempt proves nothing and is repeated.
    // clang-format off
    const std::pair<microseconds, int64_t> left[] = {
        {microseconds(500), 1}, {microseconds(1500), 2}, {microseconds(-500), 0},
        {microseconds(-1500), -1}, {microseconds(3'600'000'500), 3'600'001}};
    // clang-format on
    for (const auto& [ahead, expected] : left) {
        bool conclusive = false;
        for (int attempt = 0; attempt < 20 && !conclusive; ++attempt) {
            const auto start = std::chrono::steady_clock::now();
            const int64_t leftMs = rw::posix::msUntil(start + ahead);
            conclusive = std::chrono::steady_clock::now() - start < microseconds(400);
            if (conclusive) {
                EXPECT_EQ(leftMs, expected) << ahead.count() << " us";
            }
        }
        EXPECT_TRUE(conclusive) << "the machine was too busy to read the clock twice in time";
    }
}

}  // namespace
}  // namespace rwtest
