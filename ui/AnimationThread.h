#pragma once
#include <QColor>
#include <QImage>
#include <array>
#include <atomic>
#include <functional>
#include <thread>

namespace rw {

class Clock;
struct FlashJob;

// The busy animation: the nine gear frames, each composed off screen (button-face
// background, then the frame with pure white left out) on the animation's own
// thread and handed finished to the window, which shows it in one paint. Of the job it reads only
// `running`, `linkKind` and `baudRate`; it ends within one frame delay after `running` is cleared.
class AnimationThread {
  public:
    // Called on the animation thread with each composed frame; the window
    // queues it to its own thread (widgets are never painted from here).
    using FrameSink = std::function<void(const QImage& frame)>;

    // Bitmap resource numbers in frame order (there is no 137).
    static constexpr std::array<int, 9> kFrameIds = {136, 138, 139, 140, 141, 142, 143, 144, 145};

    AnimationThread() = default;
    ~AnimationThread();  // joins
    AnimationThread(const AnimationThread&) = delete;
    AnimationThread& operator=(const AnimationThread&) = delete;

    // Starts the animation for job, composing on background (the button-face
    // colour, read on the window thread) and sleeping through clock (null: the
    // engine clock). `ended` runs on the animation thread as its last act. A
    // previous animation is joined first, so there is never more than one. job
    // must outlive the thread: join() before freeing it.
    void start(const FlashJob& job, FrameSink sink, QColor background, Clock* clock = nullptr,
               std::function<void()> ended = {});
    // The thread was started and has not ended yet.
    bool isRunning() const;
    // Waits for the thread to end; returns at once when none was started.
    void join();

    // Frame delay in ms for a link kind and speed: serial 19200 -> 50,
    // serial other than 19200 and 38400 -> 100, everything else 25.
    static int frameDelayMs(int linkKind, int baudRate);

  private:
    static void run(const FlashJob& job, const FrameSink& sink, QColor background, Clock& sleeper);

    std::thread thread_;
    std::atomic<bool> done_{true};
};

}  // namespace rw
