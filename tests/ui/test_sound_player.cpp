// The Qt sound player's decisions, seen through a recording output just below
// QSoundEffect and a fake clock for its waits.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <thread>

#include <cstdint>
#include <string>
#include <vector>

#include "fakes/FakeClock.h"
#include "fakes/TestEnv.h"
#include "ui/QtSoundPlayer.h"
#include "ui/SoundOutput.h"
#include "ui/WavInfo.h"

namespace {

class RecordingOutput : public SoundOutput {
public:
    explicit RecordingOutput(bool device) : device_(device) {}
    bool hasDevice() const override {
        ++asked;
        return device_;
    }
    void play(const QString& path, bool looping) override {
        calls.push_back((looping ? "loop " : "once ") + QFileInfo(path).fileName().toStdString());
    }
    void stop() override { calls.push_back("stop"); }
    void beep() override { calls.push_back("beep"); }
    std::vector<std::string> calls;
    mutable int asked = 0;

private:
    bool device_;
};

void putLe(std::string& bytes, uint32_t value, int count) {
    for (int i = 0; i < count; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// A PCM WAV of dataBytes at byteRate; claimedBytes is what its header says.
std::string wav(uint32_t byteRate, uint32_t dataBytes, uint32_t claimedBytes,
                bool extraChunk = false) {
    std::string bytes = "RIFF";
    putLe(bytes, 36 + dataBytes, 4);
    bytes += "WAVE";
    if (extraChunk) {
        bytes += "LIST";
        putLe(bytes, 3, 4);
        bytes += std::string(4, 'x');  // odd size plus its pad byte
    }
    bytes += "fmt ";
    putLe(bytes, 16, 4);
    putLe(bytes, 1, 2);  // PCM
    putLe(bytes, 1, 2);  // mono
    putLe(bytes, byteRate / 2, 4);
    putLe(bytes, byteRate, 4);
    putLe(bytes, 2, 2);
    putLe(bytes, 16, 2);
    bytes += "data";
    putLe(bytes, claimedBytes, 4);
    bytes += std::string(dataBytes, '\0');
    return bytes;
}

struct WavCase {
    const char* name;
    std::string bytes;
    std::optional<int> durationMs;
};

class WavDuration : public ::testing::TestWithParam<WavCase> {};

TEST_P(WavDuration, ComesFromTheHeaderAndTheBytesPresent) {
    rwtest::TempDir dir;
    const auto path = rwtest::writeFile(dir.path() / "s.wav", GetParam().bytes);
    EXPECT_EQ(wavDurationMs(QString::fromStdString(path.string())), GetParam().durationMs);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WavDuration,
    ::testing::Values(WavCase{"quarterSecond", wav(8000, 2000, 2000), 250},
                      WavCase{"afterAnOddChunk", wav(8000, 4000, 4000, true), 500},
                      WavCase{"truncatedData", wav(8000, 800, 8000), 100},
                      WavCase{"hugeClaimIsBounded", wav(1, 70000, 70000), 60000},
                      WavCase{"notRiff", "RIFX" + std::string(40, '\0'), std::nullopt},
                      WavCase{"tooShort", "RIFF", std::nullopt},
                      WavCase{"noByteRate", wav(0, 10, 10), std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WavDuration, MissingFileHasNone) {
    EXPECT_EQ(wavDurationMs("/no/such/sound.wav"), std::nullopt);
}

class QtSoundPlayerTest : public ::testing::Test {
protected:
    std::string sound(const char* name, uint32_t ms) {
        return rwtest::writeFile(dir_.path() / name, wav(8000, ms * 8, ms * 8)).string();
    }
    std::string missing() const { return (dir_.path() / "missing.wav").string(); }

    rwtest::TempDir dir_;
    rwtest::FakeClock clock_;
};

TEST_F(QtSoundPlayerTest, OnceWaitsTheSoundsLengthLoopingDoesNotWait) {
    RecordingOutput output(true);
    QtSoundPlayer player(output, &clock_);
    player.probeDevice();
    player.playOnce(sound("start.wav", 300));
    player.playLooping(sound("erase.wav", 1000));
    player.playEndSound(sound("done.wav", 120));
    EXPECT_EQ(output.calls,
              (std::vector<std::string>{"once start.wav", "loop erase.wav", "once done.wav"}));
    EXPECT_EQ(clock_.sleeps(), (std::vector<int64_t>{300, 120}));
}

TEST_F(QtSoundPlayerTest, MissingFilesPlayNothingButEndTheRepeatingSound) {
    RecordingOutput output(true);
    QtSoundPlayer player(output, &clock_);
    player.probeDevice();
    player.playOnce(missing());
    player.playLooping(missing());
    EXPECT_EQ(output.calls, (std::vector<std::string>{"stop", "stop"}));
    EXPECT_TRUE(clock_.sleeps().empty());
}

TEST_F(QtSoundPlayerTest, MissingEndSoundFallsBackToTheDefaultSound) {
    for (bool device : {true, false}) {
        RecordingOutput output(device);
        QtSoundPlayer player(output, &clock_);
        player.probeDevice();
        player.playEndSound(missing());
        EXPECT_EQ(output.calls, (std::vector<std::string>{"stop", "beep"})) << device;
    }
    EXPECT_TRUE(clock_.sleeps().empty());
}

TEST_F(QtSoundPlayerTest, WithoutAnAudioDeviceEverythingReturnsAtOnce) {
    RecordingOutput output(false);
    QtSoundPlayer player(output, &clock_);
    player.probeDevice();
    player.playOnce(sound("start.wav", 300));
    player.playLooping(sound("loop.wav", 300));
    player.playEndSound(sound("done.wav", 300));
    EXPECT_TRUE(output.calls.empty());
    EXPECT_TRUE(clock_.sleeps().empty());
}

TEST_F(QtSoundPlayerTest, TheDeviceIsAskedForOnlyOnceProbed) {
    RecordingOutput output(true);
    QtSoundPlayer player(output, &clock_);
    player.playOnce(sound("start.wav", 300));
    player.playEndSound(missing());
    EXPECT_EQ(output.asked, 0);
    EXPECT_EQ(output.calls, (std::vector<std::string>{"stop", "beep"}));
    player.probeDevice();
    player.probeDevice();
    player.playOnce(sound("start.wav", 300));
    EXPECT_EQ(output.asked, 1);
    EXPECT_EQ(output.calls.back(), "once start.wav");
}

TEST_F(QtSoundPlayerTest, CallsFromAWorkerReachTheOutputOnTheWindowThread) {
    RecordingOutput output(true);
    QtSoundPlayer player(output, &clock_);
    player.probeDevice();
    const std::string path = sound("loop.wav", 50);
    std::thread worker([&] { player.playLooping(path); });
    worker.join();
    EXPECT_TRUE(output.calls.empty());  // queued, not run on the worker
    QCoreApplication::processEvents();
    EXPECT_EQ(output.calls, (std::vector<std::string>{"loop loop.wav"}));
}

}  // namespace
