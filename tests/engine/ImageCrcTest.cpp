// The image CRC against a bitwise reference: the catalogue check value, every
// byte value, the 0xFF fill, and each model's region with its excluded CRC byte.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "engine/DeviceModel.h"
#include "engine/FlashJob.h"
#include "engine/HexImage.h"
#include "support/TestEnv.h"
#include "support/TestImages.h"

namespace rwtest {
namespace {

// A job over `model` whose image holds `bytes` (the buffer is flashEnd bytes).
std::unique_ptr<rw::FlashJob> jobWithImage(const rw::DeviceModel& model,
                                           const std::vector<uint8_t>& bytes) {
    auto job = std::make_unique<rw::FlashJob>();
    job->model = &model;
    job->image = std::make_unique<uint8_t[]>(static_cast<size_t>(model.flashEnd));
    std::copy(bytes.begin(), bytes.end(), job->image.get());
    job->imageLength = static_cast<int32_t>(bytes.size());
    return job;
}

TEST(ImageCrc8, CatalogueCheckValueEveryByteValueAndFillWithoutAnImage) {
    rw::DeviceModel model;
    model.flashEnd = 10;  // nine bytes plus the CRC byte
    const std::vector<uint8_t> check = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(crc8Reference(check, 0), 0xA1);  // the bitwise reference itself
    EXPECT_EQ(rw::imageCrc8(*jobWithImage(model, check)), 0xA1);
    model.flashEnd = 2;
    for (int value = 0; value < 256; ++value) {
        const std::vector<uint8_t> bytes{static_cast<uint8_t>(value)};
        ASSERT_EQ(rw::imageCrc8(*jobWithImage(model, bytes)), crc8Reference(bytes, 0)) << value;
    }
    model.flashEnd = 5;
    rw::FlashJob empty;
    empty.model = &model;
    EXPECT_EQ(rw::imageCrc8(empty), crc8Reference({}, 4));
}

TEST(ImageCrc8, ExampleRegionLoadedAt0x2000) {
    rw::ModelTable models = rw::buildModelTable();
    const auto bytes = patternBytes(0x100, 7);
    TempDir dir;
    const auto path =
        writeFile(dir.path() / "example.hex", dataRecords(0x2000, bytes) + endRecord());
    rw::FlashJob job;
    job.model = rw::findModel(models, "KVTC/1-4400");
    std::strncpy(job.imagePath, path.c_str(), sizeof job.imagePath - 1);
    ASSERT_TRUE(rw::loadHexImage(job));
    ASSERT_EQ(job.imageLength, 0x100);
    EXPECT_EQ(rw::imageCrc8(job), crc8Reference(bytes, 0x58FF));
}

// The geometry of each model and the bytes its CRC covers.
struct Geometry {
    const char* model;
    int32_t bufferSize, page, lo, largestLength, crcCovers, crcAddress;
};

class ImageCrc8Model : public ::testing::TestWithParam<Geometry> {};

TEST_P(ImageCrc8Model, WorkedNumbersFillAndTheExcludedLastByte) {
    const Geometry& g = GetParam();
    const rw::ModelTable models = rw::buildModelTable();
    const rw::DeviceModel& m = *rw::findModel(models, g.model);
    EXPECT_EQ(m.flashEnd, g.bufferSize);
    EXPECT_EQ(m.page(), g.page);
    EXPECT_EQ(m.pageOffset(), g.lo);
    EXPECT_EQ(m.flashEnd - m.pageOffset(), g.largestLength);
    EXPECT_EQ(m.crcAddress(), g.crcAddress);

    // Unwritten flash counts as 0xFF.
    for (const int32_t length : {0, 1, 0x100, g.crcCovers - 1, g.crcCovers}) {
        const auto bytes = patternBytes(static_cast<size_t>(length), 3);
        EXPECT_EQ(rw::imageCrc8(*jobWithImage(m, bytes)),
                  crc8Reference(bytes, static_cast<size_t>(g.crcCovers - length)))
            << "imageLength " << length;
    }
    // An image reaching the CRC byte keeps it, but the CRC leaves it out.
    auto bytes = patternBytes(static_cast<size_t>(g.largestLength), 5);
    const uint8_t expected = crc8Reference({bytes.begin(), bytes.end() - 1}, 0);
    for (const uint8_t last : {uint8_t{0x00}, uint8_t{0xFF}, uint8_t{0x5A}}) {
        bytes.back() = last;
        auto job = jobWithImage(m, bytes);
        EXPECT_EQ(rw::imageCrc8(*job), expected) << "last byte " << int{last};
        EXPECT_EQ(job->image[static_cast<size_t>(g.largestLength - 1)], last);
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllModels, ImageCrc8Model,
    ::testing::Values(Geometry{"KVTC/1-4400", 0x7A00, 0x0000, 0x2000, 0x5A00, 0x59FF, 0x79FF},
                      Geometry{"KVTC/1-4255", 0x7A00, 0x0000, 0x1000, 0x6A00, 0x69FF, 0x79FF},
                      Geometry{"KVTC/1-3000", 0x7A00, 0x0000, 0x2000, 0x5A00, 0x59FF, 0x79FF},
                      Geometry{"KVTC/2-5140", 0x1FF00, 0x00FD, 0, 0x1FF00, 0x1FEFF, 0xFEFEFF},
                      Geometry{"KVTC/2-5240", 0x1FF00, 0x00FD, 0, 0x1FF00, 0x1FEFF, 0xFEFEFF}));

}  // namespace
}  // namespace rwtest
