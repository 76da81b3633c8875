#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/DeviceModel.h"
#include "engine/FlashJob.h"
#include "engine/HexImage.h"
#include "engine/test_hex_records.h"
#include "fakes/TestEnv.h"

namespace {

using rwtest::dataRecords;
using rwtest::endRecord;
using rwtest::hexRecord;
using rwtest::linearRecord;
using rwtest::segmentRecord;

class HexLoad : public ::testing::Test {
  protected:
    // Loads `text` for the model named `modelName` into a fresh job.
    bool load(const std::string& modelName, const std::string& text) {
        job = std::make_unique<rw::FlashJob>();
        job->model = rw::findModel(models, modelName);
        EXPECT_NE(job->model, nullptr) << modelName;
        auto path = rwtest::writeFile(dir.path() / "image.hex", text);
        std::strncpy(job->imagePath, path.c_str(), sizeof job->imagePath - 1);
        return rw::loadHexImage(*job);
    }

    std::vector<uint8_t> image() const {
        return {job->image.get(), job->image.get() + job->imageLength};
    }

    rwtest::TempDir dir;
    rw::ModelTable models = rw::buildModelTable();
    std::unique_ptr<rw::FlashJob> job;
};

TEST(HexDigitValue, MapsDigitsOfBothCasesAndRejectsEverythingElse) {
    const std::string digits = "0123456789ABCDEF";
    for (int value = 0; value < 16; ++value) {
        EXPECT_EQ(rw::hexDigitValue(digits[value]), value);
        EXPECT_EQ(rw::hexDigitValue(std::tolower(digits[value])), value);
    }
    for (int ch :
         std::vector<int>{'G', 'g', ' ', ':', '/', '@', '`', '\r', '\n', 0, -1, 0x130, 0xC1}) {
        EXPECT_EQ(rw::hexDigitValue(ch), -1) << "character " << ch;
    }
}

TEST_F(HexLoad, ExampleRegionOf256BytesAt0x2000) {
    auto bytes = rwtest::patternBytes(0x100);
    ASSERT_TRUE(load("KVTC/1-4400", dataRecords(0x2000, bytes) + endRecord()));
    EXPECT_EQ(job->imageLength, 0x100);
    EXPECT_EQ(image(), bytes);
}

TEST_F(HexLoad, LowerAndUpperCaseLoadTheSameImage) {
    auto bytes = rwtest::patternBytes(0x40);
    std::string upper = dataRecords(0x2000, bytes) + endRecord();
    std::string lower = upper;
    for (char& ch : lower) ch = static_cast<char>(std::tolower(ch));
    ASSERT_NE(upper, lower);
    ASSERT_TRUE(load("KVTC/1-3000", lower));
    EXPECT_EQ(image(), bytes);
}

TEST_F(HexLoad, GapsStayZeroAndLaterBytesReplaceEarlierOnes) {
    std::string text = hexRecord(0, 0x2010, {0x11, 0x22}) + hexRecord(0, 0x2000, {0x33}) +
                       hexRecord(0, 0x2011, {0x44}) + endRecord();
    ASSERT_TRUE(load("KVTC/1-4400", text));
    std::vector<uint8_t> expected(0x12, 0x00);
    expected[0x00] = 0x33;
    expected[0x10] = 0x11;
    expected[0x11] = 0x44;
    EXPECT_EQ(image(), expected);
}

TEST_F(HexLoad, LineEndsBlanksAndTextBetweenRecordsAreSkipped) {
    std::string text = "built by hand\r\n  " + hexRecord(0, 0x2000, {1, 2}) + "\r\n\t;x\n" +
                       hexRecord(0, 0x2002, {3}) + endRecord();
    ASSERT_TRUE(load("KVTC/1-4400", text));
    EXPECT_EQ(image(), (std::vector<uint8_t>{1, 2, 3}));
}

// The region edges per model: below lo is shifted out, past flashEnd is dropped.
struct RegionCase {
    const char* model;
    int64_t firstAddress;  // full address of the region's first byte
    int64_t lastAddress;   // full address of the region's last byte (the CRC byte)
    int32_t largestLength;
};

class HexRegion : public HexLoad, public ::testing::WithParamInterface<RegionCase> {};

TEST_P(HexRegion, BytesOutsideTheRegionAreDroppedAndTheLastByteIsKept) {
    const RegionCase& c = GetParam();
    std::string text = dataRecords(c.firstAddress - 1, {0xA5, 0x01}) +
                       dataRecords(c.lastAddress, {0x02, 0x5A}) + endRecord();
    ASSERT_TRUE(load(c.model, text));
    ASSERT_EQ(job->imageLength, c.largestLength);
    std::vector<uint8_t> got = image();
    EXPECT_EQ(got.front(), 0x01);
    EXPECT_EQ(got.back(), 0x02);
    EXPECT_EQ(std::count(got.begin() + 1, got.end() - 1, 0), c.largestLength - 2);
}

INSTANTIATE_TEST_SUITE_P(AllModels, HexRegion,
                         ::testing::Values(RegionCase{"KVTC/1-4400", 0x2000, 0x79FF, 0x5A00},
                                           RegionCase{"KVTC/1-4255", 0x1000, 0x79FF, 0x6A00},
                                           RegionCase{"KVTC/1-3000", 0x2000, 0x79FF, 0x5A00},
                                           RegionCase{"KVTC/2-5140", 0xFD0000, 0xFEFEFF, 0x1FF00},
                                           RegionCase{"KVTC/2-5240", 0xFD0000, 0xFEFEFF, 0x1FF00}));

TEST_F(HexLoad, TwoSeriesPlacesBytesByExtendedLinearAddress) {
    std::string text = hexRecord(0, 0x0000, {0x10}) +  // before any 04: page 0xFD
                       linearRecord(0xFE) + hexRecord(0, 0x0001, {0x20}) + linearRecord(0xFC) +
                       hexRecord(0, 0xFFFF, {0x30}) +  // below the page
                       linearRecord(0xFD) + hexRecord(0, 0x0002, {0x40}) + endRecord();
    ASSERT_TRUE(load("KVTC/2-5140", text));
    ASSERT_EQ(job->imageLength, 0x10002);
    EXPECT_EQ(job->image[0], 0x10);
    EXPECT_EQ(job->image[2], 0x40);
    EXPECT_EQ(job->image[0x10001], 0x20);
}

TEST_F(HexLoad, ExtendedLinearRecordReadsFourDigitsWhateverItsCount) {
    std::string text =
        hexRecord(4, 0, {0x00, 0xFE}, 1) + hexRecord(0, 0x0000, {0x77}) + endRecord();
    ASSERT_TRUE(load("KVTC/2-5240", text));
    EXPECT_EQ(job->imageLength, 0x10001);
    EXPECT_EQ(job->image[0x10000], 0x77);
}

TEST_F(HexLoad, ZeroLengthRecordEndsTheLoadAndNothingAfterItIsRead) {
    for (const std::string& end : {endRecord(), hexRecord(0, 0x2000, {})}) {
        std::string text = hexRecord(0, 0x2000, {0xAB}) + end + ":not even a record" +
                           hexRecord(0, 0x3000, {0xCD});
        ASSERT_TRUE(load("KVTC/1-4400", text)) << end;
        EXPECT_EQ(image(), (std::vector<uint8_t>{0xAB})) << end;
    }
}

TEST_F(HexLoad, EndRecordAloneGivesTheEmptyImage) {
    ASSERT_TRUE(load("KVTC/1-4255", endRecord()));
    EXPECT_EQ(job->imageLength, 0);
    ASSERT_NE(job->image, nullptr);
}

TEST_F(HexLoad, MissingFileFailsWithoutABuffer) {
    job = std::make_unique<rw::FlashJob>();
    job->model = models[0].get();
    std::strncpy(job->imagePath, (dir.str() + "/absent.hex").c_str(), sizeof job->imagePath - 1);
    EXPECT_FALSE(rw::loadHexImage(*job));
    EXPECT_EQ(job->image, nullptr);
}

TEST_F(HexLoad, UnterminatedPathFailsWithoutReadingPastTheField) {
    job = std::make_unique<rw::FlashJob>();
    job->model = models[0].get();
    std::memset(job->imagePath, 'x', sizeof job->imagePath);
    EXPECT_FALSE(rw::loadHexImage(*job));
    EXPECT_EQ(job->image, nullptr);
}

// Malformed files: each must fail, keep the buffer for the worker to free, and
// leave imageLength alone.
struct BadFile {
    const char* name;
    std::string text;
};

class HexBadFile : public HexLoad, public ::testing::WithParamInterface<BadFile> {};

TEST_P(HexBadFile, FailsAndKeepsTheBuffer) {
    EXPECT_FALSE(load("KVTC/1-4400", GetParam().text));
    EXPECT_NE(job->image, nullptr);
    EXPECT_EQ(job->imageLength, 0);
}

std::string withChecksumByte(std::string record, int checksum) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X", checksum & 0xFF);
    record.replace(record.size() - 3, 2, text);
    return record;
}

// Replaces the digit at `position` with `ch`; the old digit mapping read 'G' and
// 'g' as 0 and ' ' as 9, so these files used to pass their checksums.
std::string damaged(std::string record, size_t position, char ch) {
    record[position] = ch;
    return record;
}

// One record each, with a character that is not a hex digit where a digit is due.
std::vector<BadFile> nonDigitRecords() {
    return {
        {"LetterGInCount", damaged(hexRecord(0, 0x2000, {1}), 1, 'G')},
        {"LetterGInAddress", damaged(hexRecord(0, 0x2000, {1}), 4, 'G')},
        {"LetterGInType", damaged(hexRecord(0, 0x2000, {1}), 7, 'g')},
        {"LetterGInData", damaged(hexRecord(0, 0x2000, {0x01}), 9, 'G')},
        {"BlankInData", damaged(hexRecord(0, 0x2000, {0x99}), 9, ' ')},
        {"LetterGInChecksum", damaged(hexRecord(0, 0x2000, {0xDF}), 12, 'G')},
    };
}

std::vector<BadFile> malformedFiles() {
    std::vector<BadFile> files = {
        {"Empty", ""},
        {"NoRecord", "no records here\n"},
        {"NoEndRecord", hexRecord(0, 0x2000, {1, 2, 3})},
        {"EndsInsideRecord", hexRecord(0, 0x2000, {1, 2, 3}).substr(0, 12)},
        {"EndsBeforeChecksum", ":0120000001"},
        {"BadChecksum", withChecksumByte(hexRecord(0, 0x2000, {1}), 0xDD) + endRecord()},
        {"BadEndChecksum", hexRecord(0, 0x2000, {1}) + ":00000001FE\n"},
        {"LineEndInsideRecord", ":01200\n00001DE\n" + endRecord()},
        // Types above 05 are not Intel HEX.
        {"Type06", hexRecord(6, 0x2000, {1}) + endRecord()},
        {"TypeFF", hexRecord(0xFF, 0x2000, {1}) + endRecord()},
        // Data, but none of it inside the region: built for another code location.
        {"DataAboveRegion", hexRecord(0, 0x7A00, {1, 2}) + endRecord()},
        {"DataOnlyBelowRegion", hexRecord(0, 0x1FF0, {1, 2}) + endRecord()},
        {"DataOnOtherPage", linearRecord(1) + hexRecord(0, 0x2000, {1}) + endRecord()},
        {"DataHugelyOffPage", linearRecord(0xFFFF) + hexRecord(0, 0xFFFF, {1, 2}) +
                                  segmentRecord(0xFFFF) + hexRecord(0, 0xFFFF, {3}) + endRecord()},
    };
    for (const BadFile& bad : nonDigitRecords())
        files.push_back({bad.name, bad.text + endRecord()});
    return files;
}

INSTANTIATE_TEST_SUITE_P(Malformed, HexBadFile, ::testing::ValuesIn(malformedFiles()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HexDamage, DamagedRecordsWouldPassTheOldDigitMapping) {
    // Guards the table above: each damaged record must still balance when read
    // with the old "any character is some digit" rule, or it would prove nothing.
    auto oldDigit = [](int ch) {
        int b = ch & 0xFF;
        int v = (b >= '0' && b <= '9') ? b : b - 7;
        return v & 0x0F;
    };
    for (const BadFile& bad : nonDigitRecords()) {
        const std::string& record = bad.text;
        int sum = 0;
        for (size_t k = 1; k + 1 < record.size() && record[k] != '\n'; k += 2) {
            sum += oldDigit(record[k]) * 16 + oldDigit(record[k + 1]);
        }
        EXPECT_EQ(sum & 0xFF, 0) << bad.name;
    }
}

// Address records: their bytes count in the checksum but never land in the image.
TEST_F(HexLoad, StartAddressRecordsAreNotStored) {
    std::string text = hexRecord(0, 0x2000, {0xAA}) +
                       hexRecord(3, 0x2000, {0x00, 0x00, 0x20, 0x00}) +
                       hexRecord(5, 0x2001, {0x00, 0x00, 0x20, 0x00}) + endRecord();
    ASSERT_TRUE(load("KVTC/1-4400", text));
    EXPECT_EQ(image(), (std::vector<uint8_t>{0xAA}));
}

TEST_F(HexLoad, StartAddressRecordWithBadChecksumFails) {
    std::string record = hexRecord(5, 0, {0x00, 0x00, 0x20, 0x00});
    EXPECT_FALSE(load("KVTC/1-4400",
                      hexRecord(0, 0x2000, {1}) + withChecksumByte(record, 0x12) + endRecord()));
}

TEST_F(HexLoad, ExtendedSegmentAddressSetsTheBase) {
    // Segment 0x0200 → 0x2000 on the 1-series page; later data at offset 0x0010.
    std::string text = segmentRecord(0x0200) + hexRecord(0, 0x0010, {0x5C}) +
                       segmentRecord(0x0000) + hexRecord(0, 0x2000, {0xC5}) + endRecord();
    ASSERT_TRUE(load("KVTC/1-4400", text));
    ASSERT_EQ(job->imageLength, 0x11);
    EXPECT_EQ(job->image[0x00], 0xC5);
    EXPECT_EQ(job->image[0x10], 0x5C);
}

TEST_F(HexLoad, ExtendedSegmentAddressIsRelativeToThePage) {
    // Segment 0xF000 is 0xF0000, one page below 0xFD0000 and far from it: dropped.
    std::string text = linearRecord(0xFD) + hexRecord(0, 0x0000, {0x01}) + segmentRecord(0xF000) +
                       hexRecord(0, 0x0000, {0x02}) + endRecord();
    ASSERT_TRUE(load("KVTC/2-5140", text));
    EXPECT_EQ(image(), (std::vector<uint8_t>{0x01}));
}

TEST_F(HexLoad, EndRecordWithPayloadStillEndsTheFile) {
    std::string text = hexRecord(0, 0x2000, {0x42}) + hexRecord(1, 0x0000, {0x99, 0x98}) +
                       hexRecord(0, 0x2001, {0x43});
    ASSERT_TRUE(load("KVTC/1-4400", text));
    EXPECT_EQ(image(), (std::vector<uint8_t>{0x42}));
}

TEST_F(HexLoad, BytesBelowTheRegionCountInTheChecksumButAreShiftedOut) {
    std::string text = hexRecord(0, 0x1FFE, {0x01, 0x02, 0x03}) + endRecord();
    ASSERT_TRUE(load("KVTC/1-4400", text));
    EXPECT_EQ(image(), (std::vector<uint8_t>{0x03}));
    EXPECT_FALSE(
        load("KVTC/1-4400", withChecksumByte(hexRecord(0, 0x1FFE, {1, 2, 3}), 0) + endRecord()));
}

TEST_F(HexLoad, RecordEndingAtTheTopOfTheAddressSpaceIsClipped) {
    // 255 bytes from 0xFFFF on the last possible page: no index overflow.
    std::vector<uint8_t> bytes(255, 0xEE);
    std::string text = hexRecord(0, 0x2000, {0x01}) + linearRecord(0xFFFF) +
                       hexRecord(0, 0xFFFF, bytes) + endRecord();
    ASSERT_TRUE(load("KVTC/1-4400", text));
    EXPECT_EQ(image(), (std::vector<uint8_t>{0x01}));
}

}  // namespace
