#include "RecordingSoundPlayer.h"

namespace rwtest {

void RecordingSoundPlayer::record(RecordedSound::Kind kind, const std::string& path) {
    std::lock_guard lock(mutex_);
    calls_.push_back({kind, path});
}

void RecordingSoundPlayer::playOnce(const std::string& path) {
    record(RecordedSound::Kind::Once, path);
}

void RecordingSoundPlayer::playLooping(const std::string& path) {
    record(RecordedSound::Kind::Looping, path);
}

void RecordingSoundPlayer::playEndSound(const std::string& path) {
    record(RecordedSound::Kind::End, path);
}

std::vector<RecordedSound> RecordingSoundPlayer::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::vector<std::string> RecordingSoundPlayer::fileNames() const {
    std::vector<std::string> names;
    for (const RecordedSound& call : calls()) {
        size_t slash = call.path.find_last_of('/');
        names.push_back(slash == std::string::npos ? call.path : call.path.substr(slash + 1));
    }
    return names;
}

}  // namespace rwtest
