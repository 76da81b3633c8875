#pragma once
#include <QImage>
#include <atomic>
#include <functional>
#include <thread>

namespace rw {
struct FlashJob;
class Clock;
}  // namespace rw

// The busy animation: composes each frame of the turning gears off screen on
// its own thread and hands the finished frame to the window (which shows it at
// pixel (10, 465) in one paint). Ends within one frame delay after the job's
// `running` flag is cleared.
class AnimationThread {
public:
    // Called on the animation thread with each composed frame.
    using FrameSink = std::function<void(const QImage& frame)>;

    AnimationThread() = default;
    ~AnimationThread();  // joins
    AnimationThread(const AnimationThread&) = delete;
    AnimationThread& operator=(const AnimationThread&) = delete;

    // Starts the animation for job; sleeps through clock (null: the engine clock).
    // A previous animation is joined first.
    void start(const rw::FlashJob& job, FrameSink sink, rw::Clock* clock = nullptr);
    // The thread was started and has not ended yet.
    bool isRunning() const;
    void join();

    // Frame delay in ms for a link kind and speed: serial 19200 -> 50,
    // serial other than 19200 and 38400 -> 100, everything else 25.
    static int frameDelayMs(int linkKind, int baudRate);

private:
    std::thread thread_;
    std::atomic<bool> done_{true};
};
