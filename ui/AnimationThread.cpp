#include "ui/AnimationThread.h"

#include <QPainter>
#include <vector>

#include "base/Clock.h"
#include "base/Codes.h"
#include "engine/FlashJob.h"
#include "ui/Artwork.h"

namespace rw {

namespace {

// Pure white is the frames' transparent colour; every other pixel is opaque.
QImage loadKeyedFrame(int id) {
    QImage frame = QImage(bitmapPath(id)).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < frame.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(frame.scanLine(y));
        for (int x = 0; x < frame.width(); ++x) {
            line[x] = (line[x] & 0x00FFFFFFu) == 0x00FFFFFFu ? 0u : (line[x] | 0xFF000000u);
        }
    }
    return frame;
}

bool jobRunning(const FlashJob& job) {
    return job.running.load() != 0;
}

}  // namespace

AnimationThread::~AnimationThread() {
    join();
}

int AnimationThread::frameDelayMs(int linkKind, int baudRate) {
    if (linkKind == LINK_SERIAL && baudRate == 19200) return 50;
    if (linkKind == LINK_SERIAL && baudRate != 38400) return 100;
    return 25;
}

bool AnimationThread::isRunning() const {
    return !done_.load(std::memory_order_acquire);
}

void AnimationThread::join() {
    if (thread_.joinable()) thread_.join();
}

void AnimationThread::start(const FlashJob& job, FrameSink sink, QColor background, Clock* clock,
                            std::function<void()> ended) {
    join();
    initArtwork();
    done_.store(false, std::memory_order_release);
    Clock* sleeper = clock != nullptr ? clock : &systemClock();
    thread_ = std::thread(
        [this, &job, sink = std::move(sink), background, sleeper, ended = std::move(ended)] {
            run(job, sink, background, *sleeper);
            done_.store(true, std::memory_order_release);
            if (ended) ended();
        });
}

void AnimationThread::run(const FlashJob& job, const FrameSink& sink, QColor background,
                          Clock& sleeper) {
    std::vector<QImage> frames;
    for (int id : kFrameIds) frames.push_back(loadKeyedFrame(id));
    const QSize size = frames.front().size();
    if (size.isEmpty()) return;

    QImage composed(size, QImage::Format_RGB32);
    while (jobRunning(job)) {
        // Taken afresh every cycle: a speed change shows from the next one.
        const int delayMs = frameDelayMs(job.linkKind, job.baudRate);
        for (const QImage& frame : frames) {
            composed.fill(background);
            QPainter painter(&composed);
            painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
            painter.drawImage(QRect(QPoint(0, 0), size), frame, QRect(QPoint(0, 0), size));
            painter.end();
            if (sink) sink(composed);
            sleeper.sleepMs(delayMs);
            if (!jobRunning(job)) break;
        }
    }
}

}  // namespace rw
