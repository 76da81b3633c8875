// The simulator's measure of the programmer: turnarounds and job time.
#include <gtest/gtest.h>

#include "sim/TurnaroundLog.h"

namespace rwtest {
namespace {

using rw::sim::TurnaroundLog;

TEST(TurnaroundLog, MeasuresFromEachReplyToTheNextRequestOnly) {
    TurnaroundLog log;
    constexpr int64_t us = 1000;
    log.requestArrived(0);  // the first request follows no reply
    log.replySent(100 * us);
    log.requestArrived(130 * us);  // 30 us
    log.requestArrived(140 * us);  // a second request without a reply between: not a turnaround
    log.replySent(200 * us);
    log.replySent(210 * us);       // the later reply counts
    log.requestArrived(260 * us);  // 50 us
    for (int i = 0; i < 98; ++i) {
        log.replySent((1000 + i * 100) * us);
        log.requestArrived((1000 + i * 100 + 10) * us);  // 10 us
    }
    log.replySent(20000 * us);
    EXPECT_EQ(log.samples(), 100u);
    EXPECT_EQ(log.quantileNs(0.5), 10 * us);
    EXPECT_EQ(log.quantileNs(0.99), 30 * us);
    EXPECT_EQ(log.quantileNs(1.0), 50 * us);
    EXPECT_EQ(log.summary(),
              "timing: 100 turnarounds, p50 10 us, p99 30 us, max 50 us; first request to last "
              "reply 0.020 s\n");
    EXPECT_EQ(TurnaroundLog().quantileNs(0.5), 0);
}

}  // namespace
}  // namespace rwtest
