// romwright-inspect against an independent Intel HEX tool: srec_cat crops the
// model's region, moves it to 0 and writes it as a flat binary (holes as 0x00),
// which must equal the inspector's --dump byte for byte; the CRC the inspector
// prints must be the bitwise CRC-8 of those bytes plus the 0xFF fill.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/DeviceModel.h"
#include "engine/test_hex_records.h"
#include "fakes/TestEnv.h"
#include "tools/RunProcess.h"

namespace {

namespace fs = std::filesystem;
using rwtest::hexRecord;
using rwtest::runProcess;

const std::string SREC_CAT = ROMWRIGHT_SREC_CAT;

std::string hexNumber(int64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<long long>(value));
    return text;
}

std::vector<uint8_t> readBytes(const fs::path& path) {
    std::vector<uint8_t> bytes;
    if (std::FILE* in = std::fopen(path.c_str(), "rb")) {
        int ch;
        while ((ch = std::fgetc(in)) != EOF) bytes.push_back(static_cast<uint8_t>(ch));
        std::fclose(in);
    }
    return bytes;
}

class InspectAgreement : public ::testing::Test {
  protected:
    void SetUp() override {
        if (SREC_CAT.empty() || ::access(SREC_CAT.c_str(), X_OK) != 0) {
            GTEST_SKIP() << "srec_cat not found (install the package srecord)";
        }
    }

    // Compares the inspector with srec_cat for `file` and the model `modelName`.
    void expectAgreement(const std::string& modelName, const fs::path& file) {
        SCOPED_TRACE(modelName + " " + file.filename().string());
        const rw::DeviceModel& model = *rw::findModel(models_, modelName);
        const int64_t first = model.flashStart;
        const int64_t end = int64_t{model.page()} * 65536 + model.flashEnd;
        const fs::path reference = dir_.path() / "reference.bin";
        const fs::path dump = dir_.path() / "dump.bin";
        fs::remove(reference);
        fs::remove(dump);

        auto srec = runProcess({SREC_CAT, "-disable-sequence-warnings", file.string(), "-intel",
                                "-crop", hexNumber(first), hexNumber(end), "-offset",
                                "-" + hexNumber(first), "-o", reference.string(), "-binary"});
        ASSERT_EQ(srec.exitCode, 0) << "srec_cat failed on " << file;
        const std::vector<uint8_t> expected = readBytes(reference);

        auto inspect =
            runProcess({rwtest::inspectPath(), modelName, file.string(), "--dump", dump.string()});
        if (expected.empty()) {
            // Nothing of the file lies in the region: the inspector must refuse it.
            EXPECT_EQ(inspect.exitCode, 1) << inspect.output;
            EXPECT_NE(inspect.output.find("HEX2BIN ERROR"), std::string::npos);
            return;
        }
        ASSERT_EQ(inspect.exitCode, 0) << inspect.output;
        EXPECT_TRUE(readBytes(dump) == expected) << "dump differs from srec_cat";

        const size_t covered = static_cast<size_t>(end - first - 1);
        const size_t fromImage = std::min(expected.size(), covered);
        std::vector<uint8_t> crcBytes(expected.begin(), expected.begin() + fromImage);
        char crcLine[32];
        std::snprintf(crcLine, sizeof crcLine, "CRC8 = %02x hex\n",
                      rwtest::crc8Reference(crcBytes, covered - fromImage));
        EXPECT_NE(inspect.output.find(crcLine), std::string::npos) << inspect.output;
    }

    rwtest::TempDir dir_;
    rw::ModelTable models_ = rw::buildModelTable();
};

TEST_F(InspectAgreement, SdccSamples) {
    const fs::path samples = ROMWRIGHT_SAMPLES_DIR;
    if (!fs::exists(samples / "firmware-fd0000.hex")) {
        GTEST_SKIP() << "sample images not built (sdcc or srec_cat missing)";
    }
    const std::pair<const char*, const char*> pairs[] = {
        {"KVTC/1-4400", "firmware-2000.hex"},   {"KVTC/1-3000", "firmware-2000.hex"},
        {"KVTC/1-4255", "firmware-1000.hex"},   {"KVTC/1-4255", "firmware-2000.hex"},
        {"KVTC/1-4400", "firmware-1000.hex"},  // built for another location: refused
        {"KVTC/2-5140", "firmware-fd0000.hex"}, {"KVTC/2-5240", "firmware-fd0000.hex"},
        {"KVTC/2-5140", "firmware-span.hex"},   {"KVTC/2-5240", "firmware-span.hex"},
        {"KVTC/1-4400", "firmware-fd0000.hex"},  // 2-series file on a 1-series model
    };
    for (const auto& [model, sample] : pairs) expectAgreement(model, samples / sample);
}

// A random but valid Intel HEX file around the model's region: chunks that never
// overlap, in shuffled order, some straddling the region's first and last
// bytes, addressed through extended linear or segment records, with start
// address records that must not reach the image.
std::string syntheticFile(const rw::DeviceModel& model, uint32_t seed) {
    std::mt19937 random(seed);
    const int64_t first = model.flashStart;
    const int64_t end = int64_t{model.page()} * 65536 + model.flashEnd;
    const bool paged = model.page() != 0;

    std::vector<std::pair<int64_t, std::vector<uint8_t>>> chunks;
    std::set<int64_t> used;
    auto addChunk = [&](int64_t address, size_t length) {
        if ((address >> 16) != ((address + static_cast<int64_t>(length) - 1) >> 16)) return;
        for (size_t k = 0; k < length; ++k) {
            if (used.count(address + static_cast<int64_t>(k))) return;
        }
        for (size_t k = 0; k < length; ++k) used.insert(address + static_cast<int64_t>(k));
        chunks.emplace_back(address, rwtest::patternBytes(length, random()));
    };
    addChunk(first - 4, 8);
    addChunk(end - 5, 8);
    std::uniform_int_distribution<int64_t> where(first - 0x400, end + 0x400);
    std::uniform_int_distribution<size_t> howLong(1, 40);
    for (int k = 0; k < 60; ++k) addChunk(where(random), howLong(random));
    std::shuffle(chunks.begin(), chunks.end(), random);

    std::string text;
    for (size_t k = 0; k < chunks.size(); ++k) {
        const auto& [address, bytes] = chunks[k];
        int64_t offset = address & 0xFFFF;
        if (paged || k % 3 == 0) {
            text += rwtest::linearRecord(static_cast<int>(address >> 16));
        } else {
            // Same full address through a segment: segment * 16 + offset.
            int64_t segment = std::max<int64_t>(0, (address - 0x8000) >> 4);
            offset = address - segment * 16;
            text += rwtest::segmentRecord(static_cast<int>(segment));
        }
        text += hexRecord(0, static_cast<int>(offset), bytes);
    }
    text += paged ? hexRecord(5, 0, {0x00, 0xFD, 0x00, 0x00})
                  : hexRecord(3, 0, {0x00, 0x00, 0x20, 0x00});
    return text + rwtest::endRecord();
}

TEST_F(InspectAgreement, SyntheticFilesForEveryModel) {
    for (const auto& model : models_) {
        for (uint32_t seed = 1; seed <= 3; ++seed) {
            fs::path file = rwtest::writeFile(dir_.path() / "synthetic.hex",
                                              syntheticFile(*model, seed * 977 + model->code));
            expectAgreement(model->name, file);
        }
    }
}

TEST_F(InspectAgreement, FileOnlyOutsideTheRegionIsRefusedByBoth) {
    for (const auto& model : models_) {
        const int64_t end = int64_t{model->page()} * 65536 + model->flashEnd;
        fs::path file = rwtest::writeFile(
            dir_.path() / "outside.hex",
            rwtest::dataRecords(end, rwtest::patternBytes(64)) + rwtest::endRecord());
        expectAgreement(model->name, file);
    }
}

}  // namespace
