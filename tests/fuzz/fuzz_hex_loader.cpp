// Fuzzes the HEX loader: the first byte picks the model, the rest is the file.
// Whatever the file holds, a load must stay inside the image buffer and a
// loaded image must lie inside the model's region.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/DeviceModel.h"
#include "engine/FlashJob.h"
#include "engine/HexImage.h"

namespace {

const rw::ModelTable& models() {
    static const rw::ModelTable table = rw::buildModelTable();
    return table;
}

// One file per fuzzing process, removed at exit; in memory when /dev/shm exists,
// since every input is written out once.
const std::string& scratchPath() {
    static const std::string path = [] {
        const char* folder = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(folder) + "/romwright-fuzz-hex-XXXXXX";
        int fd = ::mkstemp(pattern.data());
        if (fd < 0) std::abort();
        ::close(fd);
        return pattern;
    }();
    static const int registered = std::atexit([] { std::remove(scratchPath().c_str()); });
    (void)registered;
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const rw::DeviceModel& model = *models()[data[0] % models().size()];
    const std::string& path = scratchPath();
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) std::abort();
    if (size > 1 && std::fwrite(data + 1, 1, size - 1, out) != size - 1) std::abort();
    std::fclose(out);

    rw::FlashJob job;
    job.model = &model;
    std::memcpy(job.imagePath, path.c_str(), path.size() + 1);
    bool loaded = rw::loadHexImage(job);

    if (job.image == nullptr) std::abort();  // the file exists: a buffer is always allocated
    const int32_t largest = model.flashEnd - model.pageOffset();
    if (loaded && (job.imageLength < 0 || job.imageLength > largest)) std::abort();
    if (!loaded && job.imageLength != 0) std::abort();
    uint8_t crc = rw::imageCrc8(job);
    if (rw::imageCrc8(job) != crc) std::abort();
    return 0;
}
