// The Intel HEX loader and the image CRC, against files written by the test
// support's own HEX writer and a bitwise CRC reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

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
    // Loads `text` for `modelName` into `job`, and through loadHex into `result`,
    // which says why a load failed.
    bool load(const std::string& modelName, const std::string& text) {
        job = std::make_unique<rw::FlashJob>();
        job->model = rw::findModel(models, modelName);
        const std::string file = writeFile(dir.path() / "x.hex", text).string();
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
    // Text between records is skipped, lower case is read, gaps stay zero, later
    // bytes win; start address records (03, 05) are skipped; a record of length 0
    // ends the file; a segment counts in 16 bytes, relative to the model's page;
    // an address record is read as one word whatever its count.
    const std::tuple<const char*, std::string, Bytes> cases[] = {
        {"KVTC/1-4400",
         "by hand\r\n  :02200000abcd66\r\n\t;x\n" + hexRecord(5, 0, {0, 0, 1, 0}) +
             hexRecord(3, 0, {0, 0, 0, 0}) + hexRecord(0, 0x2003, {3}) + hexRecord(0, 0x2000, {9}) +
             endRecord(),
         {9, 0xCD, 0, 3}},
        {"KVTC/1-4400", hexRecord(0, 0x2000, {7}) + hexRecord(0, 0x2000, {}) + ":junk", {7}},
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
    }
}

// Bytes outside the region are dropped and reported as merged ranges of the
// addresses the file gave them, whatever the order and overlap of the records.
TEST_F(HexLoad, BytesOutsideTheRegionAreDroppedAndReported) {
    for (const auto& [model, first, last, report] :
         {std::tuple{"KVTC/1-4255", 0x1000, 0x79FF,
                     "0x1000-0x79FF ignored: 0x0FFE-0x0FFF, 0x7A00-0x7A03"},
          {"KVTC/2-5240", 0xFD0000, 0xFEFEFF,
           "0xFD0000-0xFEFEFF ignored: 0xFCFFFE-0xFCFFFF, 0xFEFF00-0xFEFF03"}}) {
        ASSERT_TRUE(load(model, dataRecords(last, {0xFF, 0x5A, 0x5B}) +
                                    dataRecords(last + 2, {9, 9}) +
                                    dataRecords(first - 2, {0xA5, 0xA6, 0x01}) +
                                    dataRecords(last + 4, {7}) + endRecord()));
        const auto length = static_cast<size_t>(last - first + 1);
        EXPECT_EQ(image(), sparse(length, {{0, 0x01}, {length - 1, 0xFF}})) << model;
        EXPECT_EQ(rw::formatIgnoredBytes(result.ignored, *job->model),
                  std::string("6 bytes outside the region ") + report);
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
    const std::string good = hexRecord(0, 0x2000, {1});  // ":0120000001DE"
    const std::pair<std::string, std::string> files[] = {
        {good, "1 the file ends before the end record"},
        {"text\r\n" + good.substr(0, 13), "2 the file ends before the end record"},
        {good.substr(0, 8), "1 record cut short by the end of the file"},
        {good.substr(0, 12) + "D\n" + endRecord(),
         "1 checksum mismatch: the record ends in 0xDD, its bytes need 0xDE"},
        {good + ":00000001FE\n", "2 checksum mismatch"},
        {":01200\n00001DE\n" + endRecord(), "1 line ends inside a record"},
        {good + hexRecord(6, 0x2000, {1}) + endRecord(), "2 unknown record type 0x06"},
        {good.substr(0, 9) + " " + good.substr(10) + endRecord(), "1 bad character 0x20"},
        // Data, but none of it inside the region: built for another code location.
        {hexRecord(0, 0x7A00, {1}) + endRecord(), "1 no data inside the region 0x2000-0x79FF"},
    };
    for (const auto& [text, lineAndReason] : files) {
        EXPECT_FALSE(load("KVTC/1-4400", text)) << text;
        EXPECT_NE(job->image, nullptr) << text;
        EXPECT_EQ(job->imageLength + result.imageLength, 0) << text;
        const std::string got = std::to_string(result.line) + " " + result.error;
        EXPECT_EQ(got.substr(0, lineAndReason.size()), lineAndReason) << text;
    }
    EXPECT_EQ(rw::loadHex(dir.str(), *models[0]).error.substr(0, 13), "cannot read: ");
    EXPECT_EQ(rw::loadHex(dir.str() + "/absent.hex", *models[0]).error,
              "cannot open: No such file or directory");
    std::memset(job->imagePath, 'x', sizeof job->imagePath);  // no terminator in the field
    EXPECT_FALSE(rw::loadHexImage(*job));
}

// The CRC covers the region without its last byte; unwritten flash counts as 0xFF.
TEST(ImageCrc8, CheckValueAndEachModelsRegionWithoutItsLastByte) {
    rw::DeviceModel nine;
    nine.flashEnd = 10;  // nine bytes plus the CRC byte
    EXPECT_EQ(rw::imageCrc8(reinterpret_cast<const uint8_t*>("123456789"), 9, nine), 0xA1);
    const rw::ModelTable models = rw::buildModelTable();
    const Bytes bytes = patternBytes(0x20000, 3);
    // {model row, bytes covered}
    for (const auto& [row, count] : {std::pair{1, size_t{0x69FF}}, {2, 0x59FF}, {4, 0x1FEFF}}) {
        for (const size_t length : {size_t{0}, size_t{0x100}, count + 1}) {
            const size_t taken = std::min(length, count);
            EXPECT_EQ(rw::imageCrc8(bytes.data(), int32_t(length), *models[size_t(row)]),
                      crc8Reference({bytes.begin(), bytes.begin() + long(taken)}, count - taken))
                << row << " " << length;
        }
    }
}

}  // namespace
}  // namespace rwtest
