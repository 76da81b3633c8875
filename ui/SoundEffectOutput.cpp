#include "ui/SoundEffectOutput.h"

#include <QApplication>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QUrl>

namespace rw {

bool SoundEffectOutput::hasDevice() const {
    if (!hasDevice_) hasDevice_ = !QMediaDevices::audioOutputs().isEmpty();
    return *hasDevice_;
}

void SoundEffectOutput::play(const QString& path, bool looping) {
    if (!effect_) effect_ = std::make_unique<QSoundEffect>();
    effect_->stop();
    effect_->setSource(QUrl::fromLocalFile(path));
    effect_->setLoopCount(looping ? QSoundEffect::Infinite : 1);
    effect_->play();
}

void SoundEffectOutput::stop() {
    if (effect_) effect_->stop();
}

void SoundEffectOutput::beep() {
    QApplication::beep();
}

}  // namespace rw
