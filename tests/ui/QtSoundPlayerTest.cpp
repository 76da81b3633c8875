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

// Records the output's uses as "once NAME, loop NAME, stop, beep" and how often
// the audio system was asked for a device.
struct RecordingOutput : rw::SoundOutput {
    explicit RecordingOutput(bool present) : device(present) {}
    bool hasDevice() const override { return ++probes, device; }
    void play(const QString& path, bool looping) override {
        add((looping ? "loop " : "once ") + QFileInfo(path).fileName().toStdString());
    }
    void stop() override { add("stop"); }
    void beep() override { add("beep"); }
    void add(const std::string& call) { calls += (calls.empty() ? "" : ", ") + call; }
    bool device;
    mutable int probes = 0;
    std::string calls;
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
        bool device, playFiles;  // playFiles false: only a missing end sound
        const char* calls;
        std::vector<int64_t> sleeps;
        int probes;
    } cases[] = {{true, true, "once a.wav, loop b.wav, once c.wav, stop, beep", {300, 120}, 1},
                 {false, true, "stop, beep", {}, 1},   // a silent system: the bell
                 {true, false, "stop, beep", {}, 0}};  // no file played: no device asked
    TempDir dir;
    for (const auto& c : cases) {
        RecordingOutput output(c.device);
        FakeClock clock;
        rw::QtSoundPlayer player(output, &clock);
        if (c.playFiles) {
            player.playOnce(writeFile(dir.path() / "a.wav", wav(300)));
            player.playLooping(writeFile(dir.path() / "b.wav", wav(1000)));
            player.playEndSound(writeFile(dir.path() / "c.wav", wav(120)));
        }
        player.playEndSound(dir.str() + "/missing.wav");  // the default sound instead
        EXPECT_EQ(std::make_tuple(output.calls, output.probes, clock.sleeps()),
                  std::make_tuple(std::string(c.calls), c.probes, c.sleeps));
    }
}

}  // namespace
}  // namespace rwtest
