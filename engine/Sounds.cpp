#include "engine/Sounds.h"

#include <mutex>

#include "engine/SoundPlayer.h"

namespace rw {

namespace {
// The data folder is set once at start-up, before any job thread exists, so
// readers take it without a lock. The scheme changes while jobs run.
std::string& dataFolderText() {
    static std::string folder;
    return folder;
}

std::mutex& schemeMutex() {
    static std::mutex mutex;
    return mutex;
}

std::string& schemeText() {
    static std::string scheme;
    return scheme;
}
}  // namespace

const std::string& dataFolder() {
    return dataFolderText();
}

void setDataFolder(const std::string& folder) {
    std::string& text = dataFolderText();
    text = folder;
    if (text.empty() || text.back() != '/') text.push_back('/');
}

std::string soundScheme() {
    std::lock_guard lock(schemeMutex());
    return schemeText();
}

void setSoundScheme(const std::string& scheme) {
    std::lock_guard lock(schemeMutex());
    schemeText() = scheme;
}

std::string schemeFolder() {
    return dataFolder() + "Sounds/" + soundScheme() + "/";
}

void playSchemeSound(SoundPlayer& player, const std::string& path, int flags) {
    if (soundScheme().empty()) return;
    if (flags == kSoundLooping) {
        player.playLooping(path);
    } else {
        player.playOnce(path);
    }
}

}  // namespace rw
