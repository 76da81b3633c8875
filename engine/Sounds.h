#pragma once
#include <string>

namespace rw {

class SoundPlayer;

// Process-wide data folder (always ending in '/') that holds the log file and the
// `Sounds` folder; set once at start-up.
const std::string& dataFolder();
void setDataFolder(const std::string& folder);  // appends '/' when missing

// The selected sound scheme (a sub-folder of dataFolder() + "Sounds"); empty =
// sounds off. Written by the window thread, read by the programming thread:
// both go through a lock and copy the text.
std::string soundScheme();
void setSoundScheme(const std::string& scheme);

// dataFolder() + "Sounds/" + soundScheme() + "/": the folder of the current scheme.
std::string schemeFolder();

constexpr int kSoundOnce = 0;     // play once, return when it has ended
constexpr int kSoundLooping = 9;  // start repeating in the background, return at once

// Plays path through player unless the scheme is empty at the moment of the call.
// Never falls back to a default sound.
void playSchemeSound(SoundPlayer& player, const std::string& path, int flags);

}  // namespace rw
