#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <memory>

#include "engine/DeviceModel.h"
#include "engine/FlashJob.h"
#include "engine/HexImage.h"
#include "engine/test_hex_records.h"
#include "fakes/TestEnv.h"

namespace {

using namespace rwtest;
using Bytes = std::vector<uint8_t>;

class HexLoad : public ::testing::Test {
  protected:
    // Loads `text` (or the file at `path` when text is empty) for the model named `modelName`.
    bool load(const std::string& modelName, const std::string& text, const std::string& path = "") {
        job = std::make_unique<rw::FlashJob>();
        job->model = rw::findModel(models, modelName);
        EXPECT_NE(job->model, nullptr) << modelName;
        const std::string file =
            path.empty() ? writeFile(dir.path() / "image.hex", text).string() : path;
        std::strncpy(job->imagePath, file.c_str(), sizeof job->imagePath - 1);
        return rw::loadHexImage(*job);
    }
    Bytes image() const { return {job->image.get(), job->image.get() + job->imageLength}; }

    TempDir dir;
    rw::ModelTable models = rw::buildModelTable();
    std::unique_ptr<rw::FlashJob> job;
};

// `length` zero bytes with the given bytes set.
Bytes sparse(size_t length, std::initializer_list<std::pair<size_t, uint8_t>> set) {
    Bytes bytes(length, 0);
    for (const auto& [at, value] : set) bytes[at] = value;
    return bytes;
}

TEST(HexDigitValue, MapsDigitsOfBothCasesAndRejectsEverythingElse) {
    const std::string digits = "0123456789ABCDEF";
    for (int value = 0; value < 16; ++value) {
        EXPECT_EQ(rw::hexDigitValue(digits[value]), value);
        EXPECT_EQ(rw::hexDigitValue(std::tolower(digits[value])), value);
    }
    for (int ch : std::initializer_list<int>{'G', 'g', ' ', ':', '/', '@', '`', '\r', '\n', 0, -1,
                                             0x130, 0xC1})
        EXPECT_EQ(rw::hexDigitValue(ch), -1) << "character " << ch;
}

TEST_F(HexLoad, GoodFilesLoadTheExpectedImage) {
    const Bytes pattern = patternBytes(0x100);
    std::string lower = dataRecords(0x2000, pattern) + endRecord();
    for (char& ch : lower) ch = static_cast<char>(std::tolower(ch));
    struct Case {
        const char* name;
        const char* model;
        std::string text;
        Bytes expected;
    };
    const Case cases[] = {
        {"example region, lower case", "KVTC/1-3000", lower, pattern},
        {"text between records, gaps stay zero, later bytes win",
         "KVTC/1-4400",
         "built by hand\r\n  " + hexRecord(0, 0x2000, {1, 2}) + "\r\n\t;x\n" +
             hexRecord(0, 0x2003, {3}) + hexRecord(0, 0x2000, {9}) + endRecord(),
         {9, 2, 0, 3}},
        {"end record alone", "KVTC/1-4255", endRecord(), {}},
        {"zero-length data record ends the load",
         "KVTC/1-4400",
         hexRecord(0, 0x2000, {0xAB}) + hexRecord(0, 0x2000, {}) + ":not a record" +
             hexRecord(0, 0x3000, {1}),
         {0xAB}},
        {"end record with payload ends the load",
         "KVTC/1-4400",
         hexRecord(0, 0x2000, {0x42}) + hexRecord(1, 0, {0x99, 0x98}) +
             hexRecord(0, 0x2001, {0x43}),
         {0x42}},
        {"segment is relative to the page",
         "KVTC/2-5140",
         linearRecord(0xFD) + hexRecord(0, 0, {0x01}) + segmentRecord(0xF000) +
             hexRecord(0, 0, {0x02}) + endRecord(),
         {0x01}},
        // 255 bytes from 0xFFFF on the last possible page: no index overflow.
        {"record ending at the top of the address space",
         "KVTC/1-4400",
         hexRecord(0, 0x2000, {1}) + linearRecord(0xFFFF) + hexRecord(0, 0xFFFF, Bytes(255, 0xEE)) +
             endRecord(),
         {1}},
        {"linear record read as four digits whatever its count", "KVTC/2-5240",
         hexRecord(4, 0, {0x00, 0xFE}, 1) + hexRecord(0, 0, {0x77}) + endRecord(),
         sparse(0x10001, {{0x10000, 0x77}})},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(load(c.model, c.text)) << c.name;
        EXPECT_EQ(image(), c.expected) << c.name;
    }
}

TEST_F(HexLoad, BytesOutsideTheRegionAreDroppedAndTheLastByteIsKept) {
    const std::tuple<const char*, int64_t, int64_t, int32_t> cases[] = {
        {"KVTC/1-4400", 0x2000, 0x79FF, 0x5A00},
        {"KVTC/1-4255", 0x1000, 0x79FF, 0x6A00},
        {"KVTC/1-3000", 0x2000, 0x79FF, 0x5A00},
        {"KVTC/2-5140", 0xFD0000, 0xFEFEFF, 0x1FF00},
        {"KVTC/2-5240", 0xFD0000, 0xFEFEFF, 0x1FF00}};
    for (const auto& [model, first, last, length] : cases) {
        ASSERT_TRUE(load(model, dataRecords(first - 1, {0xA5, 0x01}) +
                                    dataRecords(last, {0x02, 0x5A}) + endRecord()));
        EXPECT_EQ(image(), sparse(size_t(length), {{0, 0x01}, {size_t(length) - 1, 0x02}}))
            << model;
    }
}

TEST_F(HexLoad, MissingFileOrUnterminatedPathFailsWithoutABuffer) {
    EXPECT_FALSE(load("KVTC/1-4400", "", dir.str() + "/absent.hex"));
    EXPECT_EQ(job->image, nullptr);
    std::memset(job->imagePath, 'x', sizeof job->imagePath);  // no terminator in the field
    EXPECT_FALSE(rw::loadHexImage(*job));
    EXPECT_EQ(job->image, nullptr);
}

// `record` with the digit at `position` replaced by `ch`; the old digit mapping
// read 'G' and 'g' as 0 and ' ' as 9, so these records used to pass their checksums.
std::string damaged(std::string record, size_t position, char ch) {
    record[position] = ch;
    return record;
}
const std::string kNonDigitRecords[] = {
    damaged(hexRecord(0, 0x2000, {1}), 1, 'G'),    damaged(hexRecord(0, 0x2000, {1}), 4, 'G'),
    damaged(hexRecord(0, 0x2000, {1}), 7, 'g'),    damaged(hexRecord(0, 0x2000, {1}), 9, 'G'),
    damaged(hexRecord(0, 0x2000, {0x99}), 9, ' '), damaged(hexRecord(0, 0x2000, {0xDF}), 12, 'G')};

TEST(HexDamage, DamagedRecordsWouldPassTheOldDigitMapping) {
    // Guards the table: each damaged record must still balance under the old
    // "any character is some digit" rule, or it would prove nothing.
    auto oldDigit = [](int ch) {
        return ((ch & 0xFF) >= '0' && (ch & 0xFF) <= '9' ? ch : ch - 7) & 0x0F;
    };
    for (const std::string& record : kNonDigitRecords) {
        int sum = 0;
        for (size_t k = 1; record[k] != '\n'; k += 2)
            sum += oldDigit(record[k]) * 16 + oldDigit(record[k + 1]);
        EXPECT_EQ(sum & 0xFF, 0) << record;
    }
}

// Malformed files must fail, keep the buffer for the worker to free and leave imageLength alone.
TEST_F(HexLoad, MalformedFilesFailAndKeepTheBuffer) {
    std::string badSum = hexRecord(0, 0x2000, {1});
    badSum.replace(badSum.size() - 3, 2, "DD");
    std::string badStartSum = hexRecord(5, 0, {0, 0, 0x20, 0});
    badStartSum.replace(badStartSum.size() - 3, 2, "12");
    std::vector<std::string> files = {
        "",
        "no records here\n",
        hexRecord(0, 0x2000, {1, 2, 3}),                // no end record
        hexRecord(0, 0x2000, {1, 2, 3}).substr(0, 12),  // ends inside a record
        ":0120000001",
        badSum + endRecord(),
        hexRecord(0, 0x2000, {1}) + ":00000001FE\n",
        hexRecord(0, 0x2000, {1}) + badStartSum + endRecord(),
        ":01200\n00001DE\n" + endRecord(),  // line end inside a record
        hexRecord(6, 0x2000, {1}) + endRecord(),
        hexRecord(0xFF, 0x2000, {1}) + endRecord(),
        // Data, but none of it inside the region: built for another code location.
        hexRecord(0, 0x7A00, {1, 2}) + endRecord(),
        hexRecord(0, 0x1FF0, {1, 2}) + endRecord(),
        linearRecord(1) + hexRecord(0, 0x2000, {1}) + endRecord(),
        linearRecord(0xFFFF) + hexRecord(0, 0xFFFF, {1, 2}) + segmentRecord(0xFFFF) +
            hexRecord(0, 0xFFFF, {3}) + endRecord(),
    };
    for (const std::string& record : kNonDigitRecords) files.push_back(record + endRecord());
    for (const std::string& text : files) {
        EXPECT_FALSE(load("KVTC/1-4400", text)) << text;
        EXPECT_NE(job->image, nullptr) << text;
        EXPECT_EQ(job->imageLength, 0) << text;
    }
}

}  // namespace
