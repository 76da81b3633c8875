// The stall limit's arithmetic: when an unattended job counts as stalled.
#include <gtest/gtest.h>

#include "control/StallWatch.h"

namespace rwtest {
namespace {

TEST(StallWatch, CountsFromTheWritePhaseAfterTheEraseWaitAndRestartsOnProgress) {
    struct Status {
        int64_t atMs;
        bool logged;
        int32_t bytesWritten;
    };
    const struct {
        const char* name;
        int limitSeconds;
        int eraseWaitSeconds;
        std::vector<Status> statuses;
        int64_t checkAtMs;
        bool expired;
    } cases[] = {
        {"before the write phase", 5, 0, {{0, true, 0}}, 60000, false},
        {"silent since the write phase", 5, 0, {{0, true, 0}, {1000, false, 0}}, 6000, true},
        {"just inside the limit", 5, 0, {{1000, false, 0}}, 5999, false},
        {"erase wait is not a stall", 5, 20, {{1000, false, 0}}, 25999, false},
        {"stalled after the erase wait", 5, 20, {{1000, false, 0}}, 26000, true},
        {"a block restarts the count", 5, 0, {{1000, false, 0}, {4000, false, 128}}, 8999, false},
        {"the same count is no progress",
         5,
         0,
         {{1000, false, 128}, {4000, false, 128}},
         6000,
         true},
        {"no limit", 0, 0, {{1000, false, 0}}, 999999, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rw::StallWatch watch(c.limitSeconds);
        watch.jobStarted(0);
        for (const Status& s : c.statuses) {
            watch.status(s.logged, s.bytesWritten, c.eraseWaitSeconds, s.atMs);
        }
        EXPECT_EQ(watch.expired(c.checkAtMs), c.expired);
    }
}

}  // namespace
}  // namespace rwtest
