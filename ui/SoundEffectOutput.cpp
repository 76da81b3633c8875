#include "ui/SoundEffectOutput.h"

#include <QApplication>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QUrl>

SoundEffectOutput::SoundEffectOutput() : hasDevice_(!QMediaDevices::audioOutputs().isEmpty()) {}

void SoundEffectOutput::play(const QString& path, bool looping) {
    effect_.stop();
    effect_.setSource(QUrl::fromLocalFile(path));
    effect_.setLoopCount(looping ? QSoundEffect::Infinite : 1);
    effect_.play();
}

void SoundEffectOutput::stop() {
    effect_.stop();
}

void SoundEffectOutput::beep() {
    QApplication::beep();
}
