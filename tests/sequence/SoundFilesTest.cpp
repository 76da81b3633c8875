// The shipped sound schemes: every file the sequence plays exists in each
// scheme, in the format the player expects, short, and the repeating ones join
// end to start without a click.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace rwtest {
namespace {

TEST(SoundFilesTest, EverySchemeHasEverySoundAsShortMonoPcmWithoutClicks) {
    for (const char* scheme : {"Classic", "Chimes"}) {
        for (std::string name : {"start", "erase", "loop", "error", "done", "fail"}) {
            std::string path =
                std::string(ROMWRIGHT_SOURCE_DIR) + "/res/sounds/" + scheme + "/" + name + ".wav";
            SCOPED_TRACE(path);
            std::ifstream in(path, std::ios::binary);
            std::vector<char> d((std::istreambuf_iterator<char>(in)), {});
            ASSERT_GT(d.size(), 44u);
            auto le = [&d](size_t at, int bytes) {
                uint32_t value = 0;
                for (int i = bytes - 1; i >= 0; --i)
                    value = value << 8 | uint8_t(d[at + size_t(i)]);
                return value;
            };
            // A plain header: a 16-byte fmt chunk for 16-bit mono PCM at 22050 Hz, then the data.
            EXPECT_EQ(std::string(&d[0], 4) + std::string(&d[8], 8) + std::string(&d[36], 4),
                      "RIFFWAVEfmt data");
            EXPECT_EQ(le(16, 4), 16u);
            EXPECT_EQ(le(20, 2), 1u);  // PCM
            EXPECT_EQ(le(22, 2), 1u);  // mono
            EXPECT_EQ(le(24, 4), 22050u);
            EXPECT_EQ(le(34, 2), 16u);
            EXPECT_EQ(le(40, 4), d.size() - 44);
            std::vector<int> s;
            for (size_t at = 44; at + 1 < d.size(); at += 2) s.push_back(int16_t(le(at, 2)));
            EXPECT_LE(s.size(), 22050u * 3 / 2);
            EXPECT_GE(s.size(), 22050u / 10);
            if (name == "erase" || name == "loop") {
                // The wrap from the last sample to the first is no larger than
                // the largest step inside the sound.
                int step = 0;
                for (size_t i = 1; i < s.size(); ++i)
                    step = std::max(step, std::abs(s[i] - s[i - 1]));
                EXPECT_LE(std::abs(s.front() - s.back()), step);
            } else {
                // One-shot sounds start and end in silence.
                EXPECT_LE(std::max(std::abs(s.front()), std::abs(s.back())), 64);
            }
        }
    }
}

}  // namespace
}  // namespace rwtest
