// The Qt sound player's decisions, seen through a recording output just below
// QSoundEffect and a fake clock for its waits.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "fakes/FakeClock.h"
#include "fakes/TestEnv.h"
#include "ui/QtSoundPlayer.h"
#include "ui/SoundOutput.h"
#include "ui/WavInfo.h"

namespace {

using Calls = std::vector<std::string>;

struct RecordingOutput : SoundOutput {
    explicit RecordingOutput(bool present) : device(present) {}
    bool hasDevice() const override { return ++asked, device; }
    void play(const QString& path, bool looping) override {
        calls.push_back((looping ? "loop " : "once ") + QFileInfo(path).fileName().toStdString());
    }
    void stop() override { calls.push_back("stop"); }
    void beep() override { calls.push_back("beep"); }
    bool device;
    Calls calls;
    mutable int asked = 0;
};

void putLe(std::string& bytes, uint32_t value, int count) {
    for (int i = 0; i < count; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// A mono 16-bit PCM WAV of dataBytes at byteRate; claimedBytes is what its header says.
std::string wav(uint32_t byteRate, uint32_t dataBytes, uint32_t claimedBytes,
                bool extraChunk = false) {
    std::string bytes = "RIFF";
    putLe(bytes, 36 + dataBytes, 4);
    bytes += "WAVE";
    if (extraChunk) bytes += std::string("LIST\x03\0\0\0xxxx", 12);  // odd size plus its pad
    bytes += "fmt ";
    for (auto [value, count] : {std::pair{16u, 4}, {1u, 2}, {1u, 2}, {byteRate / 2, 4},
                                {byteRate, 4}, {2u, 2}, {16u, 2}})
        putLe(bytes, value, count);
    bytes += "data";
    putLe(bytes, claimedBytes, 4);
    return bytes + std::string(dataBytes, '\0');
}

TEST(WavDuration, ComesFromTheHeaderAndTheBytesPresent) {
    const std::pair<std::string, std::optional<int>> cases[] = {
        {wav(8000, 2000, 2000), 250},
        {wav(8000, 4000, 4000, true), 500},  // after an odd-sized chunk
        {wav(8000, 800, 8000), 100},         // data cut short
        {wav(1, 70000, 70000), 60000},       // a huge claim is bounded
        {"RIFX" + std::string(40, '\0'), std::nullopt},
        {"RIFF", std::nullopt},
        {wav(0, 10, 10), std::nullopt}};  // no byte rate
    rwtest::TempDir dir;
    int index = 0;
    for (const auto& [bytes, duration] : cases) {
        const auto path = rwtest::writeFile(dir.path() / "s.wav", bytes);
        EXPECT_EQ(wavDurationMs(QString::fromStdString(path.string())), duration) << index++;
    }
    EXPECT_EQ(wavDurationMs("/no/such/sound.wav"), std::nullopt);
}

class QtSoundPlayerTest : public ::testing::Test {
protected:
    std::string sound(const char* name, uint32_t ms) {
        return rwtest::writeFile(dir_.path() / name, wav(8000, ms * 8, ms * 8)).string();
    }
    std::string missing() const { return (dir_.path() / "missing.wav").string(); }
    rwtest::TempDir dir_;
};

TEST_F(QtSoundPlayerTest, OnceWaitsTheSoundsLengthAndMissingSoundsStopOrBeep) {
    const struct {
        bool device;
        Calls calls;
        std::vector<int64_t> sleeps;
    } cases[] = {{true,
                  {"once start.wav", "loop erase.wav", "once done.wav", "stop", "stop", "stop",
                   "beep"},
                  {300, 120}},
                 {false, {"stop", "beep"}, {}}};  // silent system: only the default sound
    for (const auto& c : cases) {
        RecordingOutput output(c.device);
        rwtest::FakeClock clock;
        QtSoundPlayer player(output, &clock);
        player.probeDevice();
        player.playOnce(sound("start.wav", 300));
        player.playLooping(sound("erase.wav", 1000));
        player.playEndSound(sound("done.wav", 120));
        if (c.device) {  // missing files play nothing but end the repeating sound
            player.playOnce(missing());
            player.playLooping(missing());
        }
        player.playEndSound(missing());  // the default sound instead
        EXPECT_EQ(output.calls, c.calls) << c.device;
        EXPECT_EQ(clock.sleeps(), c.sleeps) << c.device;
    }
}

TEST_F(QtSoundPlayerTest, TheDeviceIsAskedForOnlyOnceProbed) {
    RecordingOutput output(true);
    rwtest::FakeClock clock;
    QtSoundPlayer player(output, &clock);
    player.playOnce(sound("start.wav", 300));
    player.playEndSound(missing());
    EXPECT_EQ(output.asked, 0);
    EXPECT_EQ(output.calls, (Calls{"stop", "beep"}));
    player.probeDevice();
    player.probeDevice();
    player.playOnce(sound("start.wav", 300));
    EXPECT_EQ(output.asked, 1);
    EXPECT_EQ(output.calls.back(), "once start.wav");
}

TEST_F(QtSoundPlayerTest, CallsFromAWorkerReachTheOutputOnTheWindowThread) {
    RecordingOutput output(true);
    QtSoundPlayer player(output);
    player.probeDevice();
    const std::string path = sound("loop.wav", 50);
    std::thread([&] { player.playLooping(path); }).join();
    EXPECT_TRUE(output.calls.empty());  // queued, not run on the worker
    QCoreApplication::processEvents();
    EXPECT_EQ(output.calls, Calls{"loop loop.wav"});
}

}  // namespace
