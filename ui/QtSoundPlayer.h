#pragma once
#include <QObject>
#include <atomic>
#include <functional>
#include <string>

#include "engine/SoundPlayer.h"

class SoundOutput;

namespace rw {
class Clock;
}

// The engine's sound player on Qt. The programming thread calls it; every use of
// the output is carried over to the thread this player was built on (the window
// thread, where QSoundEffect lives), and the waits happen on the calling thread
// against the length in the WAV header, so a busy window never holds the worker.
class QtSoundPlayer : public rw::SoundPlayer {
public:
    // output: used on this thread only. sleeper: null = the engine clock.
    explicit QtSoundPlayer(SoundOutput& output, rw::Clock* sleeper = nullptr);

    // Asks the output, once, whether the system has an audio device; on this
    // player's thread, whenever a sound scheme is selected. Until then the player
    // treats the system as silent, so a run with sounds off never opens the
    // audio system (which only complains when there is no sound server).
    void probeDevice();

    void playOnce(const std::string& path) override;
    void playLooping(const std::string& path) override;
    void playEndSound(const std::string& path) override;

private:
    // Runs fn on the output's thread: at once when already there, else queued.
    void onOutputThread(std::function<void()> fn);
    void sleepMs(int ms);

    SoundOutput& output_;
    rw::Clock* sleeper_;
    QObject context_;
    std::atomic<int> device_{-1};  // -1 not asked yet, 0 none, 1 present
    bool hasDevice() const { return device_.load(std::memory_order_acquire) == 1; }
};
