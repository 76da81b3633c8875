// The busy animation's frame delay per link, read again every cycle, and its end
// once the job's running flag is cleared. Sleeps go to a fake clock.
#include <gtest/gtest.h>

#include <QImage>

#include "base/Codes.h"
#include "engine/FlashJob.h"
#include "support/FakeClock.h"
#include "ui/AnimationThread.h"

namespace rwtest {
namespace {

TEST(Animation, EveryFrameSleepsTheLinksDelayOfItsCycle) {
    using Sleeps = std::vector<int64_t>;
    const struct {
        int linkKind, baudRate;
        size_t frames;  // the job stops running at this frame (0: before the first)
        size_t slowAt;  // the baud rate drops to 1200 at this frame (0: never)
        Sleeps sleeps;
    } cases[] = {{rw::LINK_SERIAL, 38400, 9, 0, Sleeps(9, 25)},
                 {rw::LINK_SERIAL, 19200, 9, 0, Sleeps(9, 50)},
                 {rw::LINK_SERIAL, 9600, 9, 0, Sleeps(9, 100)},
                 {rw::LINK_UDP, 19200, 9, 0, Sleeps(9, 25)},
                 {rw::LINK_TCP, 1200, 9, 0, Sleeps(9, 25)},
                 {rw::LINK_SERIAL, 19200, 11, 5, {50, 50, 50, 50, 50, 50, 50, 50, 50, 100, 100}},
                 {rw::LINK_SERIAL, 1200, 0, 0, {}}};
    for (const auto& c : cases) {
        rw::FlashJob job;
        job.linkKind = c.linkKind;
        job.baudRate = c.baudRate;
        job.running = c.frames > 0;
        FakeClock clock;
        size_t frames = 0;
        rw::AnimationThread animation;
        animation.start(
            job,
            [&](const QImage&) {
                if (++frames == c.slowAt) job.baudRate = 1200;
                if (frames == c.frames) job.running = 0;
            },
            QColor(240, 240, 240), &clock);
        animation.join();
        EXPECT_FALSE(animation.isRunning());
        EXPECT_EQ(frames, c.frames);
        EXPECT_EQ(clock.sleeps(), c.sleeps) << c.linkKind << " " << c.baudRate;
    }
}

}  // namespace
}  // namespace rwtest
