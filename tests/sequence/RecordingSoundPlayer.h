#pragma once
// A sound player for tests: records every call with its kind and path, plays nothing.
#include <mutex>
#include <string>
#include <vector>

#include "engine/SoundPlayer.h"

namespace rwtest {

struct RecordedSound {
    enum class Kind { Once, Looping, End };
    Kind kind = Kind::Once;
    std::string path;
    bool operator==(const RecordedSound&) const = default;
};

class RecordingSoundPlayer : public rw::SoundPlayer {
  public:
    void playOnce(const std::string& path) override;
    void playLooping(const std::string& path) override;
    void playEndSound(const std::string& path) override;

    std::vector<RecordedSound> calls() const;
    // The file names only ("start.wav"), in order.
    std::vector<std::string> fileNames() const;

  private:
    void record(RecordedSound::Kind kind, const std::string& path);

    mutable std::mutex mutex_;
    std::vector<RecordedSound> calls_;
};

}  // namespace rwtest
