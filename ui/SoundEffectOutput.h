#pragma once
#include <QSoundEffect>

#include "ui/SoundOutput.h"

// SoundOutput on one QSoundEffect, which lives on the window thread.
class SoundEffectOutput : public SoundOutput {
public:
    SoundEffectOutput();
    bool hasDevice() const override { return hasDevice_; }
    void play(const QString& path, bool looping) override;
    void stop() override;
    void beep() override;

private:
    QSoundEffect effect_;
    bool hasDevice_ = false;
};
