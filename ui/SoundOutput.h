#pragma once
#include <QString>

namespace rw {

// The audio device as the sound player sees it, one level above QSoundEffect.
// Used only on the window thread. Starting a sound stops the one still playing.
class SoundOutput {
  public:
    virtual ~SoundOutput() = default;
    // False when the system has no audio output at all.
    virtual bool hasDevice() const = 0;
    virtual void play(const QString& path, bool looping) = 0;
    virtual void stop() = 0;
    // The system's default sound.
    virtual void beep() = 0;
};

}  // namespace rw
