#include "ui/AnimationThread.h"

#include <QColor>
#include <QPainter>
#include <array>

#include "engine/Clock.h"
#include "engine/Codes.h"
#include "engine/FlashJob.h"

namespace {
// Frame order of the gear bitmaps (there is no 137).
constexpr std::array<int, 9> kFrameIds = {136, 138, 139, 140, 141, 142, 143, 144, 145};

QImage loadFrame(int id) {
    QImage image(QStringLiteral(":/bitmaps/%1.png").arg(id));
    return image.convertToFormat(QImage::Format_ARGB32);
}

// Pure white is the frames' transparent colour.
QImage withWhiteTransparent(QImage frame) {
    for (int y = 0; y < frame.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(frame.scanLine(y));
        for (int x = 0; x < frame.width(); ++x) {
            if ((line[x] & 0x00FFFFFFu) == 0x00FFFFFFu) line[x] = 0;
        }
    }
    return frame;
}
}  // namespace

AnimationThread::~AnimationThread() { join(); }

int AnimationThread::frameDelayMs(int linkKind, int baudRate) {
    if (linkKind == rw::LINK_SERIAL && baudRate == 19200) return 50;
    if (linkKind == rw::LINK_SERIAL && baudRate != 38400) return 100;
    return 25;
}

bool AnimationThread::isRunning() const { return !done_.load(std::memory_order_acquire); }

void AnimationThread::join() {
    if (thread_.joinable()) thread_.join();
}

void AnimationThread::start(const rw::FlashJob& job, FrameSink sink, rw::Clock* clock) {
    join();
    done_.store(false, std::memory_order_release);
    rw::Clock* sleeper = clock != nullptr ? clock : &rw::engineClock();
    thread_ = std::thread([this, &job, sink = std::move(sink), sleeper] {
        std::vector<QImage> frames;
        for (int id : kFrameIds) frames.push_back(withWhiteTransparent(loadFrame(id)));
        const QSize size = frames.front().size();
        if (!size.isEmpty()) {
            QImage composed(size, QImage::Format_ARGB32);
            while (job.running.load()) {
                const QColor background = QColor(240, 240, 240);
                const int delayMs = frameDelayMs(job.linkKind, job.baudRate);
                for (const QImage& frame : frames) {
                    if (!job.running.load()) break;
                    composed.fill(background);
                    QPainter painter(&composed);
                    painter.drawImage(0, 0, frame);
                    painter.end();
                    if (sink) sink(composed);
                    sleeper->sleepMs(delayMs);
                }
            }
        }
        done_.store(true, std::memory_order_release);
    });
}
