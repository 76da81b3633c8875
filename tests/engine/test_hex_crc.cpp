#include <gtest/gtest.h>

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

using rwtest::crc8Reference;

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

rw::DeviceModel regionModel(int32_t flashEnd, int32_t flashStart) {
    rw::DeviceModel model;
    model.name = "test";
    model.flashEnd = flashEnd;
    model.flashStart = flashStart;
    return model;
}

TEST(ImageCrc8, CatalogueCheckValue) {
    const std::string check = "123456789";
    std::vector<uint8_t> bytes(check.begin(), check.end());
    EXPECT_EQ(crc8Reference(bytes, 0), 0xA1);    // the bitwise reference itself
    rw::DeviceModel model = regionModel(10, 0);  // nine bytes plus the CRC byte
    EXPECT_EQ(rw::imageCrc8(*jobWithImage(model, bytes)), 0xA1);
}

TEST(ImageCrc8, EveryByteValueMatchesTheBitwiseCrc) {
    rw::DeviceModel model = regionModel(2, 0);
    for (int value = 0; value < 256; ++value) {
        std::vector<uint8_t> bytes{static_cast<uint8_t>(value)};
        ASSERT_EQ(rw::imageCrc8(*jobWithImage(model, bytes)), crc8Reference(bytes, 0))
            << "byte " << value;
    }
}

TEST(ImageCrc8, ExampleRegionLoadedAt0x2000) {
    rw::ModelTable models = rw::buildModelTable();
    auto bytes = rwtest::patternBytes(0x100, 7);
    rwtest::TempDir dir;
    auto path = rwtest::writeFile(dir.path() / "example.hex",
                                  rwtest::dataRecords(0x2000, bytes) + rwtest::endRecord());
    rw::FlashJob job;
    job.model = rw::findModel(models, "KVTC/1-4400");
    std::strncpy(job.imagePath, path.c_str(), sizeof job.imagePath - 1);
    ASSERT_TRUE(rw::loadHexImage(job));
    ASSERT_EQ(job.imageLength, 0x100);
    uint8_t expected = crc8Reference(bytes, 0x58FF);
    EXPECT_EQ(rw::imageCrc8(job), expected);
    EXPECT_EQ(rw::imageCrc8(job), expected);  // pure: a second call agrees
}

// The geometry of each model and the bytes its CRC covers.
struct Geometry {
    const char* model;
    int32_t bufferSize;
    int32_t page;
    int32_t lo;
    int32_t largestLength;
    int32_t crcCovers;
    int32_t crcAddress;
};

class ImageCrc8Model : public ::testing::TestWithParam<Geometry> {
  protected:
    const rw::DeviceModel& model() {
        const rw::DeviceModel* row = rw::findModel(models_, GetParam().model);
        EXPECT_NE(row, nullptr);
        return *row;
    }

  private:
    rw::ModelTable models_ = rw::buildModelTable();
};

TEST_P(ImageCrc8Model, WorkedNumbers) {
    const Geometry& g = GetParam();
    const rw::DeviceModel& m = model();
    EXPECT_EQ(m.flashEnd, g.bufferSize);
    EXPECT_EQ(m.page(), g.page);
    EXPECT_EQ(m.pageOffset(), g.lo);
    EXPECT_EQ(m.flashEnd - m.pageOffset(), g.largestLength);
    EXPECT_EQ(m.crcAddress(), g.crcAddress);
}

TEST_P(ImageCrc8Model, FillCountsUnwrittenFlashAsFF) {
    const Geometry& g = GetParam();
    struct Case {
        int32_t length;
        size_t fill;
    };
    const Case cases[] = {{0, static_cast<size_t>(g.crcCovers)},
                          {1, static_cast<size_t>(g.crcCovers - 1)},
                          {0x100, static_cast<size_t>(g.crcCovers - 0x100)},
                          {g.crcCovers - 1, 1},
                          {g.crcCovers, 0}};
    for (const Case& c : cases) {
        auto bytes = rwtest::patternBytes(static_cast<size_t>(c.length), 3);
        EXPECT_EQ(rw::imageCrc8(*jobWithImage(model(), bytes)), crc8Reference(bytes, c.fill))
            << "imageLength " << c.length;
    }
}

TEST_P(ImageCrc8Model, ImageReachingTheLastByteLeavesItOutOfTheCrc) {
    const Geometry& g = GetParam();
    auto bytes = rwtest::patternBytes(static_cast<size_t>(g.largestLength), 5);
    std::vector<uint8_t> covered(bytes.begin(), bytes.end() - 1);
    const uint8_t expected = crc8Reference(covered, 0);
    for (uint8_t last : {uint8_t{0x00}, uint8_t{0xFF}, uint8_t{0x5A}}) {
        bytes.back() = last;
        auto job = jobWithImage(model(), bytes);
        EXPECT_EQ(rw::imageCrc8(*job), expected) << "last byte " << int{last};
        EXPECT_EQ(job->imageLength, g.largestLength);  // the image keeps its last byte
        EXPECT_EQ(job->image[g.largestLength - 1], last);
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllModels, ImageCrc8Model,
    ::testing::Values(Geometry{"KVTC/1-4400", 0x7A00, 0x0000, 0x2000, 0x5A00, 0x59FF, 0x79FF},
                      Geometry{"KVTC/1-4255", 0x7A00, 0x0000, 0x1000, 0x6A00, 0x69FF, 0x79FF},
                      Geometry{"KVTC/1-3000", 0x7A00, 0x0000, 0x2000, 0x5A00, 0x59FF, 0x79FF},
                      Geometry{"KVTC/2-5140", 0x1FF00, 0x00FD, 0, 0x1FF00, 0x1FEFF, 0xFEFEFF},
                      Geometry{"KVTC/2-5240", 0x1FF00, 0x00FD, 0, 0x1FF00, 0x1FEFF, 0xFEFEFF}));

TEST(ImageCrc8, WithoutAnImageCountsOnlyTheFill) {
    rw::DeviceModel model = regionModel(5, 0);
    rw::FlashJob job;
    job.model = &model;
    EXPECT_EQ(rw::imageCrc8(job), crc8Reference({}, 4));
}

}  // namespace
