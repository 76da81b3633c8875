// The busy animation on its own thread: frame order and composition, the frame
// delay per link taken every cycle, the background refresh, and its end after the
// job's running flag is cleared. Sleeps go to fake clocks: nothing waits.
#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <functional>
#include <vector>

#include "engine/Codes.h"
#include "engine/FlashJob.h"
#include "fakes/FakeClock.h"
#include "ui/AnimationThread.h"
#include "ui/Artwork.h"

namespace {

const QColor kGray(240, 240, 240);

std::unique_ptr<rw::FlashJob> runningJob(int linkKind, int baudRate) {
    auto job = std::make_unique<rw::FlashJob>();
    job->linkKind = linkKind;
    job->baudRate = baudRate;
    job->running = 1;
    return job;
}

// Runs the animation to its end; onFrame sees the number of frames so far.
std::vector<QImage> animate(rw::FlashJob& job, rw::Clock& clock, QColor background,
                            const std::function<void(size_t, AnimationThread&)>& onFrame) {
    std::vector<QImage> frames;
    AnimationThread animation;
    animation.start(
        job,
        [&](const QImage& frame) {
            frames.push_back(frame.copy());
            onFrame(frames.size(), animation);
        },
        background, &clock);
    animation.join();
    EXPECT_FALSE(animation.isRunning());
    return frames;
}

QRgb rgb(QRgb pixel) { return pixel & 0xFFFFFFu; }

// The bitmap with every pure white pixel replaced by the background.
QImage expectedFrame(int id, QColor background) {
    initArtwork();
    QImage bitmap = QImage(bitmapPath(id)).convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < bitmap.height(); ++y)
        for (int x = 0; x < bitmap.width(); ++x)
            if (rgb(bitmap.pixel(x, y)) == 0xFFFFFFu) bitmap.setPixel(x, y, background.rgb());
    return bitmap;
}

bool samePixels(const QImage& a, const QImage& b) {
    return a.convertToFormat(QImage::Format_RGB32) == b.convertToFormat(QImage::Format_RGB32);
}

// Every frame sleeps its link's delay, read again at the start of each cycle.
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
                 {rw::LINK_SERIAL, 1200, 9, 0, Sleeps(9, 100)},
                 {rw::LINK_UDP, 19200, 9, 0, Sleeps(9, 25)},
                 {rw::LINK_TCP, 1200, 9, 0, Sleeps(9, 25)},
                 {rw::LINK_SERIAL, 19200, 11, 5, {50, 50, 50, 50, 50, 50, 50, 50, 50, 100, 100}},
                 {rw::LINK_SERIAL, 1200, 0, 0, {}}};
    for (const auto& c : cases) {
        auto job = runningJob(c.linkKind, c.baudRate);
        job->running = c.frames > 0;
        rwtest::FakeClock clock;
        const auto frames = animate(*job, clock, kGray, [&](size_t n, AnimationThread&) {
            if (n == c.slowAt) job->baudRate = 1200;
            if (n == c.frames) job->running = 0;
        });
        EXPECT_EQ(frames.size(), c.frames);
        EXPECT_EQ(clock.sleeps(), c.sleeps) << c.linkKind << " " << c.baudRate;
    }
}

TEST(Animation, FramesComeInResourceOrderAndABackgroundChangeShowsFromTheNextCycle) {
    const QColor after(30, 60, 90);
    auto job = runningJob(rw::LINK_TCP, 0);
    rwtest::FakeClock clock;
    const auto frames = animate(*job, clock, kGray, [&](size_t n, AnimationThread& animation) {
        if (n == 3) animation.setBackground(after);
        if (n == 10) job->running = 0;
    });
    ASSERT_EQ(frames.size(), 10u);
    for (size_t i = 0; i < frames.size(); ++i) {
        const QColor background = i < 9 ? kGray : after;
        const int id = AnimationThread::kFrameIds[i % 9];
        EXPECT_TRUE(samePixels(frames[i], expectedFrame(id, background))) << "frame " << i;
    }
    EXPECT_FALSE(samePixels(frames[0], frames[1]));  // the gears do turn
    EXPECT_EQ(rgb(frames[9].pixel(0, 0)), rgb(after.rgb()));
}

TEST(Animation, StartingAgainJoinsThePreviousRun) {
    auto first = runningJob(rw::LINK_UDP, 0);
    auto second = runningJob(rw::LINK_SERIAL, 19200);
    rwtest::FakeClock firstClock, secondClock;
    int frames = 0;
    AnimationThread animation;
    animation.start(*first, [&](const QImage&) { first->running = 0; }, kGray, &firstClock);
    // No join in between: a thread left joinable here would end the program.
    animation.start(
        *second, [&](const QImage&) { second->running = ++frames < 2; }, kGray, &secondClock);
    animation.join();
    EXPECT_EQ(firstClock.sleeps(), std::vector<int64_t>{25});
    EXPECT_EQ(secondClock.sleeps(), (std::vector<int64_t>{50, 50}));
}

// The animation frames and the sound icons: their sizes, a keyed white surround,
// and no anti-aliased fringe so light that it would glow on the dialog.
TEST(Artwork, BitmapsHaveTheirSizesAndKeyedSurround) {
    initArtwork();
    std::vector<std::pair<int, QSize>> cases = {{146, QSize(18, 18)}, {147, QSize(18, 18)}};
    for (int id : AnimationThread::kFrameIds) cases.push_back({id, QSize(33, 30)});
    for (const auto& [id, size] : cases) {
        const QImage image = QImage(bitmapPath(id)).convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(image.size(), size) << id;
        EXPECT_EQ(rgb(image.pixel(0, 0)), 0xFFFFFFu) << id;
        int drawn = 0, fringe = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor p = image.pixelColor(x, y);
                if (rgb(p.rgb()) == 0xFFFFFFu) continue;
                ++drawn;
                fringe += std::min({p.red(), p.green(), p.blue()}) >= 248;
            }
        }
        EXPECT_EQ(fringe, 0) << id;
        EXPECT_GT(drawn, image.width() * image.height() / 5) << id;
    }
    EXPECT_FALSE(QImage(iconPath(130)).isNull());
}

}  // namespace
