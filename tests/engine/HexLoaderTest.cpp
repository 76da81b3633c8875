// The Intel HEX loader: good files, bytes outside the region, data at the CRC
// byte, malformed files named by line and reason, and the ignored-bytes line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <tuple>

#include "engine/DeviceModel.h"
#include "engine/FlashJob.h"
#include "engine/HexImage.h"
#include "support/TestEnv.h"
#include "support/TestImages.h"

namespace rwtest {
namespace {

using Bytes = std::vector<uint8_t>;

class HexLoad : public ::testing::Test {
  protected:
    // Loads `text` (or the file at `path` when text is empty) for the model named
    // `modelName`, into `job` and into `result`; both must agree.
    bool load(const std::string& modelName, const std::string& text, const std::string& path = "") {
        job = std::make_unique<rw::FlashJob>();
        job->model = rw::findModel(models, modelName);
        EXPECT_NE(job->model, nullptr) << modelName;
        const std::string file =
            path.empty() ? writeFile(dir.path() / "image.hex", text).string() : path;
        std::strncpy(job->imagePath, file.c_str(), sizeof job->imagePath - 1);
        const bool loaded = rw::loadHexImage(*job);
        result = rw::loadHex(file, *job->model);
        EXPECT_EQ(result.loaded(), loaded) << result.error;
        if (loaded && result.loaded()) {
            EXPECT_EQ(Bytes(result.image.get(), result.image.get() + result.imageLength), image());
        }
        return loaded;
    }
    Bytes image() const { return {job->image.get(), job->image.get() + job->imageLength}; }

    TempDir dir;
    rw::ModelTable models = rw::buildModelTable();
    std::unique_ptr<rw::FlashJob> job;
    rw::HexLoad result;
};

// `length` zero bytes with the given bytes set.
Bytes sparse(size_t length, std::initializer_list<std::pair<size_t, uint8_t>> set) {
    Bytes bytes(length, 0);
    for (const auto& [at, value] : set) bytes[at] = value;
    return bytes;
}

TEST(HexDigitValue, MapsDigitsOfBothCasesAndRejectsEverythingElse) {
    const std::string digits = "0123456789ABCDEF";
    for (size_t value = 0; value < 16; ++value) {
        EXPECT_EQ(rw::hexDigitValue(digits[value]), static_cast<int>(value));
        EXPECT_EQ(rw::hexDigitValue(std::tolower(digits[value])), static_cast<int>(value));
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

// Bytes outside the region are dropped, and reported as merged ranges of the
// addresses the file gave them, whatever the order and overlap of the records.
TEST_F(HexLoad, BytesOutsideTheRegionAreDroppedAndReported) {
    const std::tuple<const char*, int64_t, int64_t, int32_t> cases[] = {
        {"KVTC/1-4400", 0x2000, 0x79FF, 0x5A00},
        {"KVTC/1-4255", 0x1000, 0x79FF, 0x6A00},
        {"KVTC/1-3000", 0x2000, 0x79FF, 0x5A00},
        {"KVTC/2-5140", 0xFD0000, 0xFEFEFF, 0x1FF00},
        {"KVTC/2-5240", 0xFD0000, 0xFEFEFF, 0x1FF00}};
    for (const auto& [model, first, last, length] : cases) {
        ASSERT_TRUE(load(model, dataRecords(last, {0xFF, 0x5A, 0x5B}) +
                                    dataRecords(last + 2, {9, 9}) +
                                    dataRecords(first - 2, {0xA5, 0xA6, 0x01}) +
                                    dataRecords(last + 4, {7}) + endRecord()));
        EXPECT_EQ(image(), sparse(size_t(length), {{0, 0x01}, {size_t(length) - 1, 0xFF}}))
            << model;
        EXPECT_EQ(result.ignored.count, 6) << model;
        EXPECT_EQ(result.ignored.ranges,
                  (std::vector<rw::AddressRange>{{first - 2, first - 1}, {last + 1, last + 4}}))
            << model;
    }
}

// The region's last byte receives the CRC, and flash writes only clear bits: data
// there loads only when it is erased (0xFF) or already the image's own CRC.
TEST_F(HexLoad, DataAtTheCrcByteLoadsOnlyWhenErasedOrTheImageCrc) {
    for (const char* name : {"KVTC/1-4400", "KVTC/2-5140"}) {
        const rw::DeviceModel& model = *rw::findModel(models, name);
        const size_t largest = size_t(model.flashEnd - model.pageOffset());
        const uint8_t crc = crc8Reference(sparse(largest - 1, {{0, 1}, {1, 2}}), 0);
        for (const uint8_t value : {uint8_t{0xFF}, crc, uint8_t(crc == 0x24 ? 0x25 : 0x24)}) {
            // The last record at the CRC byte decides, and is the one named.
            const std::string head = dataRecords(model.crcAddress(), {0x11}) +
                                     dataRecords(model.flashStart, {1, 2}) + "\n" +
                                     dataRecords(model.crcAddress(), {value});
            const bool verifiable = value == 0xFF || value == crc;
            EXPECT_EQ(load(name, head + endRecord()), verifiable) << name << " " << int{value};
            if (verifiable) {
                EXPECT_EQ(image(), sparse(largest, {{0, 1}, {1, 2}, {largest - 1, value}}));
            } else {
                EXPECT_EQ(result.line, std::count(head.begin(), head.end(), '\n'));
                EXPECT_NE(result.error.find("at the CRC byte"), std::string::npos) << result.error;
            }
        }
    }
}

TEST_F(HexLoad, UnreadableFileOrUnterminatedPathFailsWithoutALine) {
    EXPECT_FALSE(load("KVTC/1-4400", "", dir.str()));  // a folder opens but cannot be read
    EXPECT_EQ(result.error.rfind("cannot read: ", 0), 0u) << result.error;
    EXPECT_EQ(result.line, 0);
    EXPECT_FALSE(load("KVTC/1-4400", "", dir.str() + "/absent.hex"));
    EXPECT_EQ(job->image, nullptr);
    EXPECT_EQ(result.image, nullptr);
    EXPECT_EQ(result.error, "cannot open: No such file or directory");
    EXPECT_EQ(result.line, 0);
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

// Malformed files must fail, name the line and the reason, keep the buffer for
// the worker to free and leave imageLength alone.
TEST_F(HexLoad, MalformedFilesFailAtTheirLineAndKeepTheBuffer) {
    std::string badSum = hexRecord(0, 0x2000, {1});
    badSum.replace(badSum.size() - 3, 2, "DD");
    std::string badStartSum = hexRecord(5, 0, {0, 0, 0x20, 0});
    badStartSum.replace(badStartSum.size() - 3, 2, "12");
    const std::string noEnd = "the file ends before the end record";
    const std::string cut = "record cut short by the end of the file";
    const std::string outside = "no data inside the region 0x2000-0x79FF";
    std::vector<std::tuple<std::string, int, std::string>> files = {
        {"", 1, noEnd},
        {"no records here\n", 1, noEnd},
        {"text\r\n" + hexRecord(0, 0x2000, {1, 2, 3}).substr(0, 17), 2, noEnd},  // no line end
        {hexRecord(0, 0x2000, {1, 2, 3}).substr(0, 12), 1, cut},
        {"\n:0120000001", 2, cut},
        {badSum + endRecord(), 1,
         "checksum mismatch: the record ends in 0xDD, its bytes need 0xDE"},
        {hexRecord(0, 0x2000, {1}) + ":00000001FE\n", 2, "checksum mismatch"},
        {"; built by hand\r\n\r\n" + hexRecord(0, 0x2000, {1}) + badStartSum + endRecord(), 4,
         "checksum mismatch"},
        {":01200\n00001DE\n" + endRecord(), 1, "line ends inside a record"},
        {hexRecord(0, 0x2000, {1}) + hexRecord(6, 0x2000, {1}) + endRecord(), 2,
         "unknown record type 0x06"},
        {hexRecord(0xFF, 0x2000, {1}) + endRecord(), 1, "unknown record type 0xFF"},
        // Data, but none of it inside the region: built for another code location.
        {hexRecord(0, 0x7A00, {1, 2}) + endRecord(), 1, outside},
        {hexRecord(0, 0x1FF0, {1, 2}) + endRecord(), 1, outside},
        {"\n" + linearRecord(1) + hexRecord(0, 0x2000, {1}) + endRecord(), 3, outside},
        {linearRecord(0xFFFF) + hexRecord(0, 0xFFFF, {1, 2}) + segmentRecord(0xFFFF) +
             hexRecord(0, 0xFFFF, {3}) + endRecord(),
         2, outside},
    };
    const char* nonDigit[] = {"'G'", "'G'", "'g'", "'G'", "0x20", "'G'"};
    for (size_t k = 0; k < std::size(kNonDigitRecords); ++k)
        files.emplace_back(kNonDigitRecords[k] + endRecord(), 1,
                           std::string("bad character ") + nonDigit[k] + " in a record");
    for (const auto& [text, line, reason] : files) {
        EXPECT_FALSE(load("KVTC/1-4400", text)) << text;
        EXPECT_NE(job->image, nullptr) << text;
        EXPECT_EQ(job->imageLength, 0) << text;
        EXPECT_EQ(result.imageLength, 0) << text;
        EXPECT_EQ(result.line, line) << text;
        EXPECT_EQ(result.error.substr(0, reason.size()), reason) << text;
    }
}

TEST(IgnoredBytesLine, CountsTheBytesListsFourRangesAndCountsTheRest) {
    const rw::ModelTable models = rw::buildModelTable();
    const rw::DeviceModel& one = *rw::findModel(models, "KVTC/1-4400");
    const rw::DeviceModel& two = *rw::findModel(models, "KVTC/2-5140");
    std::vector<rw::AddressRange> six;
    for (int64_t k = 0; k < 6; ++k) six.push_back({0xFEFF00 + 4 * k, 0xFEFF01 + 4 * k});
    const std::tuple<const rw::DeviceModel*, rw::IgnoredBytes, std::string> cases[] = {
        {&one, {}, ""},
        {&one, {1, {{0x1FFF, 0x1FFF}}}, "1 byte outside the region 0x2000-0x79FF ignored: 0x1FFF"},
        {&two, {10, {six.begin(), six.begin() + 5}}, ", 0xFEFF0C-0xFEFF0D and 1 more range"},
        {&two,
         {12, six},
         "12 bytes outside the region 0xFD0000-0xFEFEFF ignored: 0xFEFF00-0xFEFF01, "
         "0xFEFF04-0xFEFF05, 0xFEFF08-0xFEFF09, 0xFEFF0C-0xFEFF0D and 2 more ranges"},
    };
    for (const auto& [model, ignored, expected] : cases) {
        const std::string line = rw::formatIgnoredBytes(ignored, *model);
        EXPECT_EQ(line.substr(line.size() - std::min(line.size(), expected.size())), expected);
        EXPECT_EQ(line.empty(), expected.empty());
    }
}

}  // namespace
}  // namespace rwtest
