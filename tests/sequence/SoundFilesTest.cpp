// The shipped sound schemes: every file the sequence plays exists in each
// scheme, in the format the player expects, short, and the repeating ones join
// end to start without a click.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Wav {
    uint16_t format = 0;
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint16_t bits = 0;
    std::vector<int16_t> samples;
};

uint32_t le32(const std::vector<char>& d, size_t at) {
    return uint32_t(uint8_t(d[at])) | uint32_t(uint8_t(d[at + 1])) << 8 |
           uint32_t(uint8_t(d[at + 2])) << 16 | uint32_t(uint8_t(d[at + 3])) << 24;
}
uint16_t le16(const std::vector<char>& d, size_t at) {
    return static_cast<uint16_t>(uint8_t(d[at]) | uint8_t(d[at + 1]) << 8);
}

// Reads the fmt and data chunks; false when the file is not a RIFF WAVE file.
bool readWav(const std::string& path, Wav& wav) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> d((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (d.size() < 12 || std::memcmp(d.data(), "RIFF", 4) != 0 ||
        std::memcmp(&d[8], "WAVE", 4) != 0)
        return false;
    for (size_t at = 12; at + 8 <= d.size();) {
        uint32_t size = le32(d, at + 4);
        if (at + 8 + size > d.size()) return false;
        if (std::memcmp(&d[at], "fmt ", 4) == 0 && size >= 16) {
            wav.format = le16(d, at + 8);
            wav.channels = le16(d, at + 10);
            wav.rate = le32(d, at + 12);
            wav.bits = le16(d, at + 22);
        } else if (std::memcmp(&d[at], "data", 4) == 0) {
            for (size_t i = 0; i + 1 < size; i += 2) {
                wav.samples.push_back(static_cast<int16_t>(le16(d, at + 8 + i)));
            }
        }
        at += 8 + size + (size & 1);
    }
    return !wav.samples.empty();
}

int largestStep(const std::vector<int16_t>& s) {
    int step = 0;
    for (size_t i = 1; i < s.size(); ++i) step = std::max(step, std::abs(s[i] - s[i - 1]));
    return step;
}

TEST(SoundFilesTest, EverySchemeHasEverySoundInTheExpectedFormat) {
    for (const char* scheme : {"Classic", "Chimes"}) {
        for (const char* name : {"start", "erase", "loop", "error", "done", "fail"}) {
            std::string path =
                std::string(ROMWRIGHT_SOURCE_DIR) + "/res/sounds/" + scheme + "/" + name + ".wav";
            SCOPED_TRACE(path);
            Wav wav;
            ASSERT_TRUE(readWav(path, wav));
            EXPECT_EQ(wav.format, 1);  // PCM
            EXPECT_EQ(wav.channels, 1);
            EXPECT_EQ(wav.rate, 22050u);
            EXPECT_EQ(wav.bits, 16);
            EXPECT_LE(wav.samples.size(), 22050u * 3 / 2);
            EXPECT_GE(wav.samples.size(), 22050u / 10);
            bool repeating = std::string(name) == "erase" || std::string(name) == "loop";
            if (repeating) {
                // The wrap from the last sample to the first is no larger than
                // the largest step inside the sound.
                int wrap = std::abs(wav.samples.front() - wav.samples.back());
                EXPECT_LE(wrap, largestStep(wav.samples));
            } else {
                // One-shot sounds start and end in silence.
                EXPECT_LE(std::abs(wav.samples.front()), 64);
                EXPECT_LE(std::abs(wav.samples.back()), 64);
            }
        }
    }
}

}  // namespace
