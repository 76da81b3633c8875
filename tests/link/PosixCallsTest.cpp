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
using std::chrono::steady_clock;

TEST(PosixCalls, PollTimeOutIsClampedToWhatPollTakes) {
    const std::pair<int64_t, int> cases[] = {
        {0, 0},
        {1, 1},
        {-1, 0},
        {INT64_MIN, 0},
        {INT_MAX, INT_MAX},
        {int64_t{INT_MAX} + 1, INT_MAX},
        {0xFFFFFFFF, INT_MAX},   // cut to 32 bits: -1, forever
        {0x100000000, INT_MAX},  // cut to 32 bits: 0, no wait at all
        {INT64_MAX, INT_MAX}};
    for (const auto& [timeoutMs, pollMs] : cases)
        EXPECT_EQ(rw::posix::toPollMs(timeoutMs), pollMs) << timeoutMs;
}

TEST(PosixCalls, TimeLeftRoundsUpToWholeMilliseconds) {
    // {time to the deadline, whole ms left}: the expected values hold while less
    // than 0.4 ms passes between taking the deadline and reading the time left.
    const std::pair<microseconds, int64_t> cases[] = {
        {microseconds(500), 1},       {microseconds(1500), 2},
        {microseconds(100'500), 101}, {microseconds(-500), 0},
        {microseconds(-1500), -1},    {microseconds(3'600'000'500), 3'600'001}};
    for (const auto& [ahead, expected] : cases) {
        // A loaded machine may pause this thread between the two clock reads; such
        // an attempt proves nothing and is repeated (a few times at most).
        bool conclusive = false;
        for (int attempt = 0; attempt < 20 && !conclusive; ++attempt) {
            const auto start = steady_clock::now();
            const int64_t left = rw::posix::msUntil(start + ahead);
            conclusive = steady_clock::now() - start < microseconds(400);
            if (conclusive) {
                EXPECT_EQ(left, expected) << ahead.count() << " us";
            }
        }
        EXPECT_TRUE(conclusive) << "the machine was too busy to read the clock twice in time";
    }
}

}  // namespace
}  // namespace rwtest
