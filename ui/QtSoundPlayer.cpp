#include "ui/QtSoundPlayer.h"

#include <QThread>
#include <algorithm>

#include "base/Clock.h"
#include "ui/SoundOutput.h"
#include "ui/WavInfo.h"

namespace rw {

namespace {
// While the output thread has not yet said whether there is a device, a wait
// for a sound looks again after this long.
constexpr int kWaitStepMs = 20;
}  // namespace

QtSoundPlayer::QtSoundPlayer(SoundOutput& output, Clock* sleeper)
    : output_(output), sleeper_(sleeper) {}

void QtSoundPlayer::onOutputThread(std::function<void()> fn) {
    if (QThread::currentThread() == context_.thread()) {
        fn();
    } else {
        QMetaObject::invokeMethod(&context_, std::move(fn), Qt::QueuedConnection);
    }
}

void QtSoundPlayer::sleepMs(int ms) {
    Clock& clock = sleeper_ != nullptr ? *sleeper_ : systemClock();
    clock.sleepMs(ms);
}

void QtSoundPlayer::play(const std::string& path, bool looping, int lengthMs) {
    if (device_.load(std::memory_order_acquire) == 0) return;
    const QString file = QString::fromStdString(path);
    onOutputThread([this, file, looping] {
        if (device_.load(std::memory_order_acquire) < 0) {
            device_.store(output_.hasDevice() ? 1 : 0, std::memory_order_release);
        }
        if (device_.load(std::memory_order_acquire) == 1) output_.play(file, looping);
    });
    if (looping) return;
    for (int waitedMs = 0; waitedMs < lengthMs;) {
        if (device_.load(std::memory_order_acquire) == 0) return;
        const int stepMs = device_.load(std::memory_order_acquire) == 1
                               ? lengthMs - waitedMs
                               : std::min(kWaitStepMs, lengthMs - waitedMs);
        sleepMs(stepMs);
        waitedMs += stepMs;
    }
}

void QtSoundPlayer::playOnce(const std::string& path) {
    const std::optional<int> lengthMs = wavDurationMs(QString::fromStdString(path));
    if (!lengthMs) {
        // Nothing plays, but like any new sound the attempt ends a repeating one.
        onOutputThread([this] { output_.stop(); });
        return;
    }
    play(path, false, *lengthMs);
}

void QtSoundPlayer::playLooping(const std::string& path) {
    if (!wavDurationMs(QString::fromStdString(path))) {
        onOutputThread([this] { output_.stop(); });
        return;
    }
    play(path, true, 0);
}

void QtSoundPlayer::playEndSound(const std::string& path) {
    const std::optional<int> lengthMs = wavDurationMs(QString::fromStdString(path));
    if (!lengthMs) {
        // The default sound is the system bell, which needs no audio output.
        onOutputThread([this] {
            output_.stop();
            output_.beep();
        });
        return;
    }
    play(path, false, *lengthMs);
}

}  // namespace rw
