#pragma once
#include <QObject>
#include <atomic>
#include <functional>
#include <string>

#include "engine/SoundPlayer.h"

namespace rw {

class Clock;
class SoundOutput;

// The engine's sound player on Qt. The programming thread calls it; every use of
// the output is carried over to the thread this player was built on (the window
// thread, where QSoundEffect lives), and the waits happen on the calling thread
// against the length in the WAV header, so a busy window never holds the worker.
// The audio system is first asked for a device when a sound file is actually
// played: a run that plays none never opens it (it only complains when there is
// no sound server).
class QtSoundPlayer : public SoundPlayer {
  public:
    // output: used on this thread only. sleeper: null = the engine clock.
    explicit QtSoundPlayer(SoundOutput& output, Clock* sleeper = nullptr);

    void playOnce(const std::string& path) override;
    void playLooping(const std::string& path) override;
    void playEndSound(const std::string& path) override;

  private:
    // Runs fn on the output's thread: at once when already there, else queued.
    void onOutputThread(std::function<void()> fn);
    // Plays the file on the output's thread when the system has an audio device
    // (asking it the first time); waits at most lengthMs for a sound played once,
    // less as soon as it is known that nothing plays.
    void play(const std::string& path, bool looping, int lengthMs);
    void sleepMs(int ms);

    SoundOutput& output_;
    Clock* sleeper_;
    QObject context_;
    std::atomic<int> device_{-1};  // -1 not asked yet, 0 none, 1 present
};

}  // namespace rw
