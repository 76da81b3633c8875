#pragma once
#include <QSoundEffect>
#include <memory>
#include <optional>

#include "ui/SoundOutput.h"

namespace rw {

// SoundOutput on one QSoundEffect, which lives on the window thread. The audio
// system is opened only when a sound first needs it, so a run with sounds off
// never connects to the sound server.
class SoundEffectOutput : public SoundOutput {
  public:
    bool hasDevice() const override;
    void play(const QString& path, bool looping) override;
    void stop() override;
    void beep() override;

  private:
    std::unique_ptr<QSoundEffect> effect_;
    mutable std::optional<bool> hasDevice_;
};

}  // namespace rw
