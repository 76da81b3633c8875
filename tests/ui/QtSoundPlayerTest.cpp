// The Qt sound player's decisions, seen through a recording output just below
// QSoundEffect and a fake clock for its waits.
#include <gtest/gtest.h>

#include <QFileInfo>

#include "support/FakeClock.h"
#include "support/TestEnv.h"
#include "ui/QtSoundPlayer.h"
#include "ui/SoundOutput.h"

namespace rwtest {
namespace {

using Calls = std::vector<std::string>;

struct RecordingOutput : rw::SoundOutput {
    explicit RecordingOutput(bool present) : device(present) {}
    bool hasDevice() const override {
        ++probes;
        return device;
    }
    void play(const QString& path, bool looping) override {
        calls.push_back((looping ? "loop " : "once ") + QFileInfo(path).fileName().toStdString());
    }
    void stop() override { calls.push_back("stop"); }
    void beep() override { calls.push_back("beep"); }
    bool device;
    mutable int probes = 0;
    Calls calls;
};

// A mono 16-bit PCM WAV at 8000 bytes per second lasting ms.
std::string wav(uint32_t ms) {
    std::string bytes;
    auto put = [&](const char* tag, std::initializer_list<std::pair<uint32_t, int>> fields) {
        bytes += tag;
        for (auto [value, count] : fields)
            for (int i = 0; i < count; ++i) bytes.push_back(static_cast<char>(value >> (8 * i)));
    };
    put("RIFF", {{36 + ms * 8, 4}});
    put("WAVEfmt ", {{16, 4}, {1, 2}, {1, 2}, {4000, 4}, {8000, 4}, {2, 2}, {16, 2}});
    put("data", {{ms * 8, 4}});
    return bytes + std::string(ms * 8, '\0');
}

TEST(QtSoundPlayer, OnceWaitsTheSoundsLengthAndMissingSoundsStopOrBeep) {
    const struct {
        bool device;
        bool playFiles;  // false: only a missing end sound (sounds off, no file)
        Calls calls;
        std::vector<int64_t> sleeps;
        int probes;
    } cases[] = {
        {true,
         true,
         {"once start.wav", "loop erase.wav", "once done.wav", "stop", "stop", "stop", "beep"},
         {300, 120},
         1},
        {false, true, {"stop", "stop", "beep"}, {}, 1},  // a silent system: the bell
        // Until a sound file is played the audio system is not even asked.
        {true, false, {"stop", "beep"}, {}, 0}};
    TempDir dir;
    auto sound = [&](const char* name, uint32_t ms) {
        return writeFile(dir.path() / name, wav(ms)).string();
    };
    const std::string missing = (dir.path() / "missing.wav").string();
    for (const auto& c : cases) {
        RecordingOutput output(c.device);
        FakeClock clock;
        rw::QtSoundPlayer player(output, &clock);
        if (c.playFiles) {
            player.playOnce(sound("start.wav", 300));
            player.playLooping(sound("erase.wav", 1000));
            player.playEndSound(sound("done.wav", 120));
            // Missing files play nothing but end the repeating sound.
            player.playOnce(missing);
            if (c.device) player.playLooping(missing);
        }
        player.playEndSound(missing);  // the default sound instead
        EXPECT_EQ(output.calls, c.calls) << c.device;
        EXPECT_EQ(clock.sleeps(), c.sleeps) << c.device;
        EXPECT_EQ(output.probes, c.probes);
    }
}

}  // namespace
}  // namespace rwtest
