// The busy animation on its own thread: frame order and composition, the frame
// delay per link taken every cycle, the background refresh, and its end after
// the job's running flag is cleared. Sleeps go to fake clocks: nothing waits.
#include <gtest/gtest.h>

#include <QImage>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "engine/Codes.h"
#include "engine/FlashJob.h"
#include "fakes/FakeClock.h"
#include "ui/AnimationThread.h"
#include "ui/Artwork.h"

namespace {

struct Recorder {
    std::vector<QImage> frames;
    // Called with the number of frames so far, on the animation thread.
    std::function<void(size_t)> onFrame;
    AnimationThread::FrameSink sink() {
        return [this](const QImage& frame) {
            frames.push_back(frame.copy());
            if (onFrame) onFrame(frames.size());
        };
    }
};

std::unique_ptr<rw::FlashJob> runningJob(int linkKind, int baudRate) {
    auto job = std::make_unique<rw::FlashJob>();
    job->linkKind = linkKind;
    job->baudRate = baudRate;
    job->running = 1;
    return job;
}

// What the window must see for bitmap id on background: the bitmap, with every
// pure white pixel replaced by the background.
QImage expectedFrame(int id, QColor background) {
    initArtwork();
    QImage bitmap = QImage(bitmapPath(id)).convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < bitmap.height(); ++y) {
        for (int x = 0; x < bitmap.width(); ++x) {
            if ((bitmap.pixel(x, y) & 0xFFFFFFu) == 0xFFFFFFu)
                bitmap.setPixel(x, y, background.rgb());
        }
    }
    return bitmap;
}

bool samePixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return false;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if ((a.pixel(x, y) & 0xFFFFFFu) != (b.pixel(x, y) & 0xFFFFFFu)) return false;
        }
    }
    return true;
}

struct DelayCase {
    const char* name;
    int linkKind;
    int baudRate;
    int64_t delayMs;
};

class AnimationDelay : public ::testing::TestWithParam<DelayCase> {};

TEST_P(AnimationDelay, EveryFrameOfACycleSleepsTheLinksDelay) {
    const DelayCase& c = GetParam();
    auto job = runningJob(c.linkKind, c.baudRate);
    rwtest::FakeClock clock;
    Recorder recorder;
    recorder.onFrame = [&](size_t n) {
        if (n == 9) job->running = 0;
    };
    AnimationThread animation;
    animation.start(*job, recorder.sink(), QColor(240, 240, 240), &clock);
    animation.join();
    EXPECT_EQ(recorder.frames.size(), 9u);
    EXPECT_EQ(clock.sleeps(), std::vector<int64_t>(9, c.delayMs));
    EXPECT_FALSE(animation.isRunning());
}

INSTANTIATE_TEST_SUITE_P(Links, AnimationDelay,
                         ::testing::Values(DelayCase{"Serial38400", rw::LINK_SERIAL, 38400, 25},
                                           DelayCase{"Serial19200", rw::LINK_SERIAL, 19200, 50},
                                           DelayCase{"Serial9600", rw::LINK_SERIAL, 9600, 100},
                                           DelayCase{"Serial1200", rw::LINK_SERIAL, 1200, 100},
                                           DelayCase{"Udp19200", rw::LINK_UDP, 19200, 25},
                                           DelayCase{"Tcp1200", rw::LINK_TCP, 1200, 25}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Animation, SpeedChangeTakesEffectAtTheNextCycle) {
    auto job = runningJob(rw::LINK_SERIAL, 19200);
    rwtest::FakeClock clock;
    Recorder recorder;
    recorder.onFrame = [&](size_t n) {
        if (n == 5) job->baudRate = 1200;  // mid-cycle: this cycle keeps 50 ms
        if (n == 11) job->running = 0;
    };
    AnimationThread animation;
    animation.start(*job, recorder.sink(), QColor(240, 240, 240), &clock);
    animation.join();
    std::vector<int64_t> expected(9, 50);
    expected.push_back(100);
    expected.push_back(100);
    EXPECT_EQ(clock.sleeps(), expected);
}

TEST(Animation, FramesComeInResourceOrderOnTheBackgroundAndLoop) {
    const QColor face(212, 208, 200);
    auto job = runningJob(rw::LINK_UDP, 0);
    rwtest::FakeClock clock;
    Recorder recorder;
    recorder.onFrame = [&](size_t n) {
        if (n == 10) job->running = 0;
    };
    AnimationThread animation;
    animation.start(*job, recorder.sink(), face, &clock);
    animation.join();
    ASSERT_EQ(recorder.frames.size(), 10u);
    for (size_t i = 0; i < recorder.frames.size(); ++i) {
        const int id = AnimationThread::kFrameIds[i % 9];
        EXPECT_EQ(recorder.frames[i].size(), QSize(33, 30)) << "frame " << i;
        EXPECT_TRUE(samePixels(recorder.frames[i], expectedFrame(id, face))) << "frame " << i;
    }
    // Consecutive frames differ: the gears do turn.
    EXPECT_FALSE(samePixels(recorder.frames[0], recorder.frames[1]));
    // The corner is transparent in every frame, so it shows the background.
    EXPECT_EQ(recorder.frames[0].pixel(0, 0) & 0xFFFFFFu, face.rgb() & 0xFFFFFFu);
}

TEST(Animation, BackgroundChangeShowsFromTheNextCycle) {
    const QColor before(240, 240, 240);
    const QColor after(30, 60, 90);
    auto job = runningJob(rw::LINK_TCP, 0);
    rwtest::FakeClock clock;
    Recorder recorder;
    AnimationThread animation;
    recorder.onFrame = [&](size_t n) {
        if (n == 3) animation.setBackground(after);
        if (n == 10) job->running = 0;
    };
    animation.start(*job, recorder.sink(), before, &clock);
    animation.join();
    ASSERT_EQ(recorder.frames.size(), 10u);
    EXPECT_EQ(recorder.frames[8].pixel(0, 0) & 0xFFFFFFu, before.rgb() & 0xFFFFFFu);
    EXPECT_EQ(recorder.frames[9].pixel(0, 0) & 0xFFFFFFu, after.rgb() & 0xFFFFFFu);
}

TEST(Animation, NotRunningAtStartDrawsNothing) {
    auto job = runningJob(rw::LINK_SERIAL, 1200);
    job->running = 0;
    rwtest::FakeClock clock;
    Recorder recorder;
    AnimationThread animation;
    animation.start(*job, recorder.sink(), QColor(Qt::gray), &clock);
    animation.join();
    EXPECT_TRUE(recorder.frames.empty());
    EXPECT_TRUE(clock.sleeps().empty());
}

// A sleeper that holds the animation inside its sleep until the test lets go.
class GateClock : public rw::Clock {
  public:
    int64_t nowMs() override { return 0; }
    void sleepMs(int64_t ms) override {
        std::unique_lock lock(mutex_);
        sleeps_.push_back(ms);
        changed_.notify_all();
        changed_.wait_for(lock, std::chrono::seconds(20), [&] { return open_; });
    }
    bool waitForSleeps(size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20),
                                 [&] { return sleeps_.size() >= count; });
    }
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    std::vector<int64_t> sleeps() {
        std::lock_guard lock(mutex_);
        return sleeps_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int64_t> sleeps_;
    bool open_ = false;
};

TEST(Animation, AbortEndsItAfterTheSleepInProgress) {
    auto job = runningJob(rw::LINK_SERIAL, 1200);
    GateClock clock;
    std::atomic<int> frames{0};
    AnimationThread animation;
    animation.start(
        *job, [&](const QImage&) { ++frames; }, QColor(Qt::gray), &clock);
    ASSERT_TRUE(clock.waitForSleeps(1));
    job->running = 0;  // Abort, while the first frame is on show
    clock.open();
    animation.join();
    EXPECT_EQ(clock.sleeps(), std::vector<int64_t>{100});
    EXPECT_EQ(frames.load(), 1);
    EXPECT_FALSE(animation.isRunning());
}

TEST(Animation, StartingAgainJoinsThePreviousRun) {
    auto first = runningJob(rw::LINK_UDP, 0);
    auto second = runningJob(rw::LINK_SERIAL, 19200);
    GateClock gate;
    AnimationThread animation;
    animation.start(*first, nullptr, QColor(Qt::gray), &gate);
    ASSERT_TRUE(gate.waitForSleeps(1));
    first->running = 0;
    gate.open();
    rwtest::FakeClock clock;
    Recorder recorder;
    recorder.onFrame = [&](size_t n) {
        if (n == 2) second->running = 0;
    };
    animation.start(*second, recorder.sink(), QColor(Qt::gray), &clock);
    animation.join();
    EXPECT_EQ(gate.sleeps().size(), 1u);
    EXPECT_EQ(clock.sleeps(), (std::vector<int64_t>{50, 50}));
}

}  // namespace

namespace {

// Artwork rules the animation and the sound icon rely on: sizes, a transparent
// surround, and no anti-aliased fringe so light that it would glow on the dialog.
TEST(Artwork, BitmapsHaveTheirSizesAndKeyedSurround) {
    initArtwork();
    struct Case {
        int id;
        QSize size;
    };
    std::vector<Case> cases;
    for (int id : AnimationThread::kFrameIds) cases.push_back({id, QSize(33, 30)});
    cases.push_back({146, QSize(18, 18)});
    cases.push_back({147, QSize(18, 18)});
    for (const Case& c : cases) {
        const QImage image = QImage(bitmapPath(c.id)).convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(image.size(), c.size) << c.id;
        EXPECT_EQ(image.pixel(0, 0) & 0xFFFFFFu, 0xFFFFFFu) << c.id;
        int drawn = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor p = image.pixelColor(x, y);
                const bool white = p.rgb() == QColor(Qt::white).rgb();
                drawn += white ? 0 : 1;
                const bool fringe = !white && p.red() >= 248 && p.green() >= 248 && p.blue() >= 248;
                EXPECT_FALSE(fringe) << c.id << " at " << x << "," << y;
            }
        }
        EXPECT_GT(drawn, image.width() * image.height() / 5) << c.id;
    }
    EXPECT_FALSE(QImage(iconPath(130)).isNull());
}

}  // namespace
