#include "ui/QtSoundPlayer.h"

#include <QThread>

#include "engine/Clock.h"
#include "ui/SoundOutput.h"
#include "ui/WavInfo.h"

QtSoundPlayer::QtSoundPlayer(SoundOutput& output, rw::Clock* sleeper)
    : output_(output), sleeper_(sleeper) {}

void QtSoundPlayer::probeDevice() {
    if (device_.load(std::memory_order_acquire) < 0) {
        device_.store(output_.hasDevice() ? 1 : 0, std::memory_order_release);
    }
}

void QtSoundPlayer::onOutputThread(std::function<void()> fn) {
    if (QThread::currentThread() == context_.thread()) {
        fn();
    } else {
        QMetaObject::invokeMethod(&context_, std::move(fn), Qt::QueuedConnection);
    }
}

void QtSoundPlayer::sleepMs(int ms) {
    rw::Clock& clock = sleeper_ != nullptr ? *sleeper_ : rw::engineClock();
    clock.sleepMs(ms);
}

void QtSoundPlayer::playOnce(const std::string& path) {
    if (!hasDevice()) return;
    const QString file = QString::fromStdString(path);
    const std::optional<int> lengthMs = wavDurationMs(file);
    if (!lengthMs) {
        // Nothing plays, but like any new sound the attempt ends a repeating one.
        onOutputThread([this] { output_.stop(); });
        return;
    }
    onOutputThread([this, file] { output_.play(file, false); });
    sleepMs(*lengthMs);
}

void QtSoundPlayer::playLooping(const std::string& path) {
    if (!hasDevice()) return;
    const QString file = QString::fromStdString(path);
    if (!wavDurationMs(file)) {
        onOutputThread([this] { output_.stop(); });
        return;
    }
    onOutputThread([this, file] { output_.play(file, true); });
}

void QtSoundPlayer::playEndSound(const std::string& path) {
    const QString file = QString::fromStdString(path);
    const std::optional<int> lengthMs = wavDurationMs(file);
    if (!lengthMs) {
        // The default sound is the system bell, which needs no audio output.
        onOutputThread([this] {
            output_.stop();
            output_.beep();
        });
        return;
    }
    if (!hasDevice()) return;
    onOutputThread([this, file] { output_.play(file, false); });
    sleepMs(*lengthMs);
}
