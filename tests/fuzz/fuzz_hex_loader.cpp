// Fuzzes the HEX loader: the first byte picks the model, the rest is the file.
// Whatever the file holds, a load must stay inside the image buffer, a loaded
// image must lie inside the model's region and never carry data at the CRC byte
// that could not verify, a failure must name its line, and the ignored bytes
// must come as ascending, separate ranges outside the region that add up to
// their count, in one bounded line.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/DeviceModel.h"
#include "engine/HexImage.h"
#include "support/TestEnv.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const rw::ModelTable models = rw::buildModelTable();
    static const rwtest::TempDir folder;  // removed at exit
    const rw::DeviceModel& model = *models[data[0] % models.size()];
    const std::string path = (folder.path() / "fuzz.hex").string();
    rwtest::writeFile(path, std::string(data + 1, data + size));
    const rw::HexLoad load = rw::loadHex(path, model);

    if (load.image == nullptr) std::abort();  // the file exists: a buffer is always allocated
    const int32_t largest = model.flashEnd - model.pageOffset();
    if (load.loaded()) {
        if (load.imageLength < 0 || load.imageLength > largest) std::abort();
        const uint8_t crc = rw::imageCrc8(load.image.get(), load.imageLength, model);
        const uint8_t last = load.image[static_cast<size_t>(largest - 1)];
        if (load.imageLength == largest && last != 0xFF && last != crc) std::abort();
    } else if (load.imageLength != 0 || load.line <= 0) {
        std::abort();
    }
    const int64_t regionEnd = int64_t{model.page()} * 65536 + model.flashEnd;
    int64_t count = 0, previousLast = INT64_MIN;
    for (const rw::AddressRange& range : load.ignored.ranges) {
        if (range.first > range.last || range.first <= previousLast + 1) std::abort();
        if (range.last >= model.flashStart && range.first < regionEnd) std::abort();
        count += range.last - range.first + 1;
        previousLast = range.last;
    }
    if (count != load.ignored.count) std::abort();
    if (rw::formatIgnoredBytes(load.ignored, model).size() > 250) std::abort();
    return 0;
}
