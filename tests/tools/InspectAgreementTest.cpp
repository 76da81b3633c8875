// romwright-inspect against an independent Intel HEX tool: srec_cat crops the
// model's region, moves it to 0 and writes it as a flat binary (holes as 0x00),
// which must equal the inspector's --dump byte for byte; the CRC the inspector
// prints must be the bitwise CRC-8 of those bytes plus the 0xFF fill; the bytes
// it reports ignored must be those srec_info lists outside the region.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <regex>
#include <set>

#include "engine/DeviceModel.h"
#include "support/ChildProcess.h"
#include "support/TestEnv.h"
#include "support/TestImages.h"

namespace rwtest {
namespace {

namespace fs = std::filesystem;

const std::string kInspect = programPath("romwright-inspect");
const std::string kSrecCat = ROMWRIGHT_SREC_CAT;
const std::string kSrecInfo =
    kSrecCat.empty() ? "" : (fs::path(kSrecCat).parent_path() / "srec_info").string();

std::string hexNumber(int64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<long long>(value));
    return text;
}

// The region's first address and the address after its end.
std::pair<int64_t, int64_t> regionOf(const rw::DeviceModel& model) {
    return {model.flashStart, int64_t{model.page()} * 65536 + model.flashEnd};
}

class InspectAgreement : public ::testing::Test {
  protected:
    void SetUp() override {
        if (kSrecCat.empty() || ::access(kSrecCat.c_str(), X_OK) != 0 ||
            ::access(kSrecInfo.c_str(), X_OK) != 0)
            GTEST_SKIP() << "srec_cat or srec_info not found (install the package srecord)";
    }

    // The inspector's ignored-bytes line against srec_info's listing of the data
    // outside [first, end): the byte count, the first four ranges, the rest counted.
    void expectIgnoredReport(const fs::path& file, int64_t first, int64_t end,
                             const std::string& output) {
        using Ranges = std::vector<std::pair<int64_t, int64_t>>;
        auto rangesIn = [](const std::string& text, const std::regex& pattern) {
            Ranges ranges;
            for (std::sregex_iterator it(text.begin(), text.end(), pattern), none; it != none;
                 ++it) {
                const int64_t low = std::stoll((*it)[1], nullptr, 16);
                ranges.emplace_back(low,
                                    (*it)[2].matched ? std::stoll((*it)[2], nullptr, 16) : low);
            }
            return ranges;
        };
        const auto info = runProcess({kSrecInfo, "-disable-sequence-warnings", file.string(),
                                      "-intel", "-exclude", hexNumber(first), hexNumber(end)});
        const Ranges outside = rangesIn(info.output, std::regex("([0-9A-F]+) - ([0-9A-F]+)"));
        int64_t count = 0;
        for (const auto& [low, high] : outside) count += high - low + 1;

        std::smatch line;
        const bool reported = std::regex_search(
            output, line, std::regex("\n(\\d+) bytes? outside the region \\S+ ignored: (.*)\n"));
        ASSERT_EQ(reported, count > 0) << info.output << output;
        if (!reported) return;
        EXPECT_EQ(std::stoll(line[1]), count);
        const std::string list = line[2];
        const size_t shown = std::min<size_t>(outside.size(), 4);
        EXPECT_EQ(rangesIn(list, std::regex("0x([0-9A-F]+)(?:-0x([0-9A-F]+))?")),
                  Ranges(outside.begin(), outside.begin() + long(shown)));
        EXPECT_EQ(list.find(" and " + std::to_string(outside.size() - shown) + " more ") !=
                      std::string::npos,
                  outside.size() > shown)
            << list;
    }

    void expectAgreement(const rw::DeviceModel& model, const fs::path& file) {
        SCOPED_TRACE(model.name + std::string(" ") + file.filename().string());
        const auto [first, end] = regionOf(model);
        const std::string reference = (dir_.path() / "reference.bin").string();
        const std::string dump = (dir_.path() / "dump.bin").string();
        fs::remove(reference);
        fs::remove(dump);
        ASSERT_EQ(runProcess({kSrecCat, "-disable-sequence-warnings", file.string(), "-intel",
                              "-crop", hexNumber(first), hexNumber(end), "-offset",
                              "-" + hexNumber(first), "-o", reference, "-binary"})
                      .exitCode,
                  0);
        const std::string expected = readFile(reference);

        const auto inspect = runProcess({kInspect, model.name, file.string(), "--dump", dump});
        expectIgnoredReport(file, first, end, inspect.output);
        const size_t covered = static_cast<size_t>(end - first - 1);
        const size_t fromImage = std::min(expected.size(), covered);
        const uint8_t crc = crc8Reference({expected.begin(), expected.begin() + long(fromImage)},
                                          covered - fromImage);
        // Refused: nothing of the file lies in the region, or data at the CRC byte
        // that is neither erased nor the CRC itself.
        const uint8_t last = expected.size() > covered ? uint8_t(expected.back()) : 0xFF;
        if (expected.empty() || (last != 0xFF && last != crc)) {
            EXPECT_EQ(inspect.exitCode, 1) << inspect.output;
            EXPECT_NE(inspect.output.find("HEX2BIN ERROR"), std::string::npos);
            return;
        }
        ASSERT_EQ(inspect.exitCode, 0) << inspect.output;
        EXPECT_TRUE(readFile(dump) == expected) << "dump differs from srec_cat";
        char crcLine[32];
        std::snprintf(crcLine, sizeof crcLine, "CRC8 = %02x hex\n", crc);
        EXPECT_NE(inspect.output.find(crcLine), std::string::npos) << inspect.output;
    }

    TempDir dir_;
    rw::ModelTable models_ = rw::buildModelTable();
};

TEST_F(InspectAgreement, SdccSamples) {
    const fs::path samples = ROMWRIGHT_SAMPLES_DIR;
    if (!fs::exists(samples / "firmware-fd0000.hex"))
        GTEST_SKIP() << "sample images not built (sdcc or srec_cat missing)";
    const std::pair<const char*, const char*> pairs[] = {
        {"KVTC/1-4400", "firmware-2000.hex"},   {"KVTC/1-3000", "firmware-2000.hex"},
        {"KVTC/1-4255", "firmware-1000.hex"},   {"KVTC/1-4255", "firmware-2000.hex"},
        {"KVTC/1-4400", "firmware-1000.hex"},  // built for another location: refused
        {"KVTC/2-5140", "firmware-fd0000.hex"}, {"KVTC/2-5240", "firmware-fd0000.hex"},
        {"KVTC/2-5140", "firmware-span.hex"},   {"KVTC/2-5240", "firmware-span.hex"},
        {"KVTC/1-4400", "firmware-fd0000.hex"},  // 2-series file on a 1-series model
    };
    for (const auto& [model, sample] : pairs)
        expectAgreement(*rw::findModel(models_, model), samples / sample);
}

// A random but valid Intel HEX file around the model's region: chunks that never
// overlap, in shuffled order, some straddling the region's first and last
// bytes, addressed through extended linear or segment records, with start
// address records that must not reach the image. The region's last byte (the
// CRC byte) holds 0xFF when `erasedCrcByte`, else a pattern byte.
std::string syntheticFile(const rw::DeviceModel& model, uint32_t seed, bool erasedCrcByte) {
    std::mt19937 random(seed);
    const auto [first, end] = regionOf(model);
    const bool paged = model.page() != 0;
    std::vector<std::pair<int64_t, std::vector<uint8_t>>> chunks;
    std::set<int64_t> used;
    auto addChunk = [&](int64_t address, int64_t length) {
        if ((address >> 16) != ((address + length - 1) >> 16)) return;
        for (int64_t k = 0; k < length; ++k)
            if (used.count(address + k)) return;
        for (int64_t k = 0; k < length; ++k) used.insert(address + k);
        chunks.emplace_back(address, patternBytes(size_t(length), static_cast<uint32_t>(random())));
    };
    addChunk(first - 4, 8);
    addChunk(end - 5, 8);
    if (erasedCrcByte) chunks.back().second[4] = 0xFF;
    std::uniform_int_distribution<int64_t> where(first - 0x400, end + 0x400), howLong(1, 40);
    for (int k = 0; k < 60; ++k) addChunk(where(random), howLong(random));
    std::shuffle(chunks.begin(), chunks.end(), random);

    std::string text;
    for (size_t k = 0; k < chunks.size(); ++k) {
        const auto& [address, bytes] = chunks[k];
        // Every third chunk of a 1-series file goes through a segment: segment * 16 + offset.
        const int64_t segment =
            paged || k % 3 == 0 ? -1 : std::max<int64_t>(0, (address - 0x8000) >> 4);
        text += segment < 0 ? linearRecord(int(address >> 16)) : segmentRecord(int(segment));
        text += hexRecord(0, int(segment < 0 ? address & 0xFFFF : address - segment * 16), bytes);
    }
    text += paged ? hexRecord(5, 0, {0x00, 0xFD, 0x00, 0x00})
                  : hexRecord(3, 0, {0x00, 0x00, 0x20, 0x00});
    return text + endRecord();
}

TEST_F(InspectAgreement, SyntheticFilesForEveryModel) {
    for (const auto& model : models_) {
        for (uint32_t seed = 1; seed <= 3; ++seed)
            expectAgreement(*model,
                            writeFile(dir_.path() / "synthetic.hex",
                                      syntheticFile(*model, seed * 977 + model->code, seed != 3)));
    }
}

}  // namespace
}  // namespace rwtest
