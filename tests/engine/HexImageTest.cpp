// The Intel HEX loader and the image CRC, against files written by the test
// support's own HEX writer and a bitwise CRC reference.
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
    // Loads `text` (or the file at `path`) for `modelName` into `job`, and
    // through loadHex into `result`, which says why a load failed.
    bool load(const std::string& modelName, const std::string& text, const std::string& path = "") {
        job = std::make_unique<rw::FlashJob>();
        job->model = rw::findModel(models, modelName);
        const std::string file =
            path.empty() ? writeFile(dir.path() / "x.hex", text).string() : path;
        std::strncpy(job->imagePath, file.c_str(), sizeof job->imagePath - 1);
        result = rw::loadHex(file, *job->model);
        return rw::loadHexImage(*job);
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

TEST_F(HexLoad, GoodFilesLoadTheExpectedImage) {
    std::string lower = hexRecord(0, 0x2000, {0xAB, 0xCD}) + endRecord();
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    // Text between records is skipped, gaps stay zero, later bytes win; start
    // address records (03, 05) are skipped; a record of length 0 or an end
    // record with payload ends the file; a segment counts in 16 bytes, relative
    // to the model's page; an address record is read as one word whatever its count.
    const std::tuple<const char*, std::string, Bytes> cases[] = {
        {"KVTC/1-3000", lower, {0xAB, 0xCD}},
        {"KVTC/1-4400",
         "by hand\r\n  " + hexRecord(0, 0x2000, {1, 2}) + "\t;x\n" + hexRecord(5, 0, {0, 0, 1, 0}) +
             hexRecord(3, 0, {0, 0, 0, 0}) + hexRecord(0, 0x2003, {3}) + hexRecord(0, 0x2000, {9}) +
             endRecord(),
         {9, 2, 0, 3}},
        {"KVTC/1-4255", endRecord(), {}},
        {"KVTC/1-4400", hexRecord(0, 0x2000, {7}) + hexRecord(0, 0x2000, {}) + ":junk", {7}},
        {"KVTC/1-4400", hexRecord(0, 0x2000, {7}) + hexRecord(1, 0, {9}) + ":junk", {7}},
        {"KVTC/1-4400", segmentRecord(0x0200) + hexRecord(0, 1, {5}) + endRecord(), {0, 5}},
        {"KVTC/2-5140",
         linearRecord(0xFD) + hexRecord(0, 0, {1}) + segmentRecord(0xF000) + hexRecord(0, 0, {2}) +
             endRecord(),
         {1}},
        {"KVTC/2-5240", hexRecord(4, 0, {0x00, 0xFE}, 1) + hexRecord(0, 0, {7}) + endRecord(),
         sparse(0x10001, {{0x10000, 7}})},
    };
    for (const auto& [model, text, expected] : cases) {
        ASSERT_TRUE(load(model, text)) << text << result.error;
        EXPECT_EQ(image(), expected) << text;
        EXPECT_EQ(Bytes(result.image.get(), result.image.get() + result.imageLength), expected);
    }
    // The file's SHA-256 covers every byte, also those past the end record and the first buffer.
    ASSERT_TRUE(load("KVTC/1-4255", ":00000001FF\n" + std::string(70000, 'x')));
    EXPECT_EQ(result.fileSha256,
              "855ef0000e9d672de68c7f4a768248d509357ea3bfeb7c83d915e6c165d77212");
}

// Bytes outside the region are dropped and reported as merged ranges of the
// addresses the file gave them, whatever the order and overlap of the records.
TEST_F(HexLoad, BytesOutsideTheRegionAreDroppedAndReported) {
    const std::tuple<const char*, int64_t, int64_t> cases[] = {{"KVTC/1-4400", 0x2000, 0x79FF},
                                                               {"KVTC/1-4255", 0x1000, 0x79FF},
                                                               {"KVTC/1-3000", 0x2000, 0x79FF},
                                                               {"KVTC/2-5140", 0xFD0000, 0xFEFEFF},
                                                               {"KVTC/2-5240", 0xFD0000, 0xFEFEFF}};
    for (const auto& [model, first, last] : cases) {
        ASSERT_TRUE(load(model, dataRecords(last, {0xFF, 0x5A, 0x5B}) +
                                    dataRecords(last + 2, {9, 9}) +
                                    dataRecords(first - 2, {0xA5, 0xA6, 0x01}) +
                                    dataRecords(last + 4, {7}) + endRecord()));
        const auto length = static_cast<size_t>(last - first + 1);
        EXPECT_EQ(image(), sparse(length, {{0, 0x01}, {length - 1, 0xFF}})) << model;
        EXPECT_EQ(result.ignored.count, 6) << model;
        EXPECT_EQ(result.ignored.ranges,
                  (std::vector<rw::AddressRange>{{first - 2, first - 1}, {last + 1, last + 4}}));
    }
}

// The region's last byte receives the CRC, and flash writes only clear bits: data
// there loads only when it is erased (0xFF) or already the image's own CRC.
TEST_F(HexLoad, DataAtTheCrcByteLoadsOnlyWhenErasedOrTheImageCrc) {
    for (const char* name : {"KVTC/1-4400", "KVTC/2-5140"}) {
        const rw::DeviceModel& model = *rw::findModel(models, name);
        const size_t largest = size_t(model.flashEnd - model.pageOffset());
        const uint8_t crc = crc8Reference(sparse(largest - 1, {{0, 1}, {1, 2}}));
        for (const uint8_t value : {uint8_t{0xFF}, crc, uint8_t(crc ^ 0x10)}) {
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

// Malformed files fail, name the line and the reason, keep the buffer for the
// worker to free and leave imageLength alone; a file that cannot be read names no line.
TEST_F(HexLoad, MalformedOrUnreadableFilesFailWithTheirLineAndReason) {
    const auto damaged = [](std::string record, size_t at, char ch) {
        record[at] = ch;
        return record + endRecord();
    };
    const std::string good = hexRecord(0, 0x2000, {1});  // ":0120000001DE"
    const std::string noEnd = "the file ends before the end record";
    const std::string outside = "no data inside the region 0x2000-0x79FF";
    const std::pair<std::string, std::string> files[] = {
        {"", "1 " + noEnd},
        {"text\r\n" + good.substr(0, 13), "2 " + noEnd},
        {good.substr(0, 8), "1 record cut short by the end of the file"},
        {damaged(good, 12, 'D'),
         "1 checksum mismatch: the record ends in 0xDD, its bytes need 0xDE"},
        {good + ":00000001FE\n", "2 checksum mismatch"},
        {";\r\n\r\n" + good + damaged(hexRecord(5, 0, {0, 0, 1, 0}), 17, '1'),
         "4 checksum mismatch"},
        {":01200\n00001DE\n" + endRecord(), "1 line ends inside a record"},
        {good + hexRecord(6, 0x2000, {1}) + endRecord(), "2 unknown record type 0x06"},
        {damaged(good, 1, 'G'), "1 bad character 'G' in a record"},
        {damaged(good, 9, ' '), "1 bad character 0x20 in a record"},
        // Data, but none of it inside the region: built for another code location.
        {hexRecord(0, 0x7A00, {1, 2}) + endRecord(), "1 " + outside},
        {"\n" + linearRecord(1) + good + endRecord(), "3 " + outside},
    };
    for (const auto& [text, lineAndReason] : files) {
        EXPECT_FALSE(load("KVTC/1-4400", text)) << text;
        EXPECT_NE(job->image, nullptr) << text;
        EXPECT_EQ(job->imageLength + result.imageLength, 0) << text;
        const std::string got = std::to_string(result.line) + " " + result.error;
        EXPECT_EQ(got.substr(0, lineAndReason.size()), lineAndReason) << text;
    }
    EXPECT_FALSE(load("KVTC/1-4400", "", dir.str()));  // a folder opens but cannot be read
    EXPECT_EQ(std::to_string(result.line) + " " + result.error.substr(0, 13), "0 cannot read: ");
    EXPECT_FALSE(load("KVTC/1-4400", "", dir.str() + "/absent.hex"));
    EXPECT_EQ(job->image, nullptr);
    EXPECT_EQ(result.error, "cannot open: No such file or directory");
    std::memset(job->imagePath, 'x', sizeof job->imagePath);  // no terminator in the field
    EXPECT_FALSE(rw::loadHexImage(*job));
}

TEST(IgnoredBytesLine, CountsTheBytesListsFourRangesAndCountsTheRest) {
    const rw::ModelTable models = rw::buildModelTable();
    rw::IgnoredBytes six{12, {}};
    for (int64_t k = 0; k < 6; ++k) six.ranges.push_back({0xFEFF00 + 4 * k, 0xFEFF01 + 4 * k});
    EXPECT_EQ(rw::formatIgnoredBytes(six, *rw::findModel(models, "KVTC/2-5140")),
              "12 bytes outside the region 0xFD0000-0xFEFEFF ignored: 0xFEFF00-0xFEFF01, "
              "0xFEFF04-0xFEFF05, 0xFEFF08-0xFEFF09, 0xFEFF0C-0xFEFF0D and 2 more ranges");
    six.ranges.pop_back();
    EXPECT_TRUE(rw::formatIgnoredBytes(six, *models[0]).ends_with(" and 1 more range"));
    EXPECT_EQ(rw::formatIgnoredBytes({}, *models[0]), "");
}

// The CRC covers the region without its last byte; unwritten flash counts as 0xFF.
TEST(ImageCrc8, CheckValueAndEachModelsRegionWithoutItsLastByte) {
    rw::DeviceModel nine;
    nine.flashEnd = 10;  // nine bytes plus the CRC byte
    const Bytes check = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(rw::imageCrc8(check.data(), 9, nine), 0xA1);
    EXPECT_EQ(rw::imageCrc8(nullptr, 9, nine), crc8Reference({}, 9)) << "no image: all fill";
    // clang-format off
    const std::pair<const char*, size_t> covered[] = {
        {"KVTC/1-4400", 0x59FF}, {"KVTC/1-4255", 0x69FF}, {"KVTC/1-3000", 0x59FF},
        {"KVTC/2-5140", 0x1FEFF}, {"KVTC/2-5240", 0x1FEFF}};
    // clang-format on
    const rw::ModelTable models = rw::buildModelTable();
    for (const auto& [name, count] : covered) {
        for (const size_t length : {size_t{0}, size_t{0x100}, count, count + 1}) {
            const Bytes bytes = patternBytes(length, 3);
            const size_t taken = std::min(length, count);
            EXPECT_EQ(rw::imageCrc8(bytes.data(), int32_t(length), *rw::findModel(models, name)),
                      crc8Reference({bytes.begin(), bytes.begin() + long(taken)}, count - taken))
                << name << " " << length;
        }
    }
}

}  // namespace
}  // namespace rwtest
