#pragma once
#include <string>

namespace rw {

// Plays sound files for the engine. Every new sound stops the one still playing.
// The window supplies the real player; tests record the calls.
class SoundPlayer {
  public:
    virtual ~SoundPlayer() = default;
    // Plays the file once and returns when it has ended (at most its length).
    // A missing or unreadable file plays nothing.
    virtual void playOnce(const std::string& path) = 0;
    // Starts the file repeating in the background and returns at once.
    virtual void playLooping(const std::string& path) = 0;
    // The end-of-job sound: plays once and waits; when the file is missing the
    // system's default sound plays instead.
    virtual void playEndSound(const std::string& path) = 0;
};

}  // namespace rw
