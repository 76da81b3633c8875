// The shipped sound schemes hold every file the sequence plays, as the short
// 16-bit mono PCM the player takes.
#include <gtest/gtest.h>

#include "support/TestEnv.h"

namespace rwtest {
namespace {

TEST(SoundFilesTest, EverySchemeHasEverySoundAsShortMonoPcm) {
    for (const char* scheme : {"Classic", "Chimes"}) {
        for (const char* name : {"start", "erase", "loop", "error", "done", "fail"}) {
            const std::string d = readFile(std::string(ROMWRIGHT_SOURCE_DIR) + "/res/sounds/" +
                                           scheme + "/" + name + ".wav");
            SCOPED_TRACE(std::string(scheme) + "/" + name);
            ASSERT_GT(d.size(), 44u);
            // RIFF, WAVE, a 16-byte fmt chunk: PCM, mono, 22050 Hz, 16 bits; then the data.
            EXPECT_EQ(d.substr(0, 4) + d.substr(8, 20) + d.substr(34, 6),
                      std::string("RIFFWAVEfmt \x10\0\0\0\x01\0\x01\0\x22\x56\0\0\x10\0data", 30));
            EXPECT_LE(d.size(), 44u + 22050 * 3);  // at most 1.5 s
        }
    }
}

}  // namespace
}  // namespace rwtest
