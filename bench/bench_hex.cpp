// Load and CRC of a full 2-series image (0x1FF00 bytes, 16-byte records), as a
// programming job does before it talks to the device.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/DeviceModel.h"
#include "engine/FlashJob.h"
#include "engine/HexImage.h"
#include "support/TestImages.h"

namespace {

// The whole region from 0xFD0000, as a linker writes it, padded to the region's
// end: its last byte, where the CRC goes, stays erased (0xFF).
std::string fullTwoSeriesFile(const rw::DeviceModel& model) {
    std::vector<uint8_t> bytes = rwtest::patternBytes(static_cast<size_t>(model.flashEnd));
    bytes.back() = 0xFF;
    return rwtest::intelHex(model.flashStart, bytes);
}

void BM_LoadAndCrcFullTwoSeriesImage(benchmark::State& state) {
    rw::ModelTable models = rw::buildModelTable();
    const rw::DeviceModel* model = rw::findModel(models, "KVTC/2-5140");
    const char* folder = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string path = std::string(folder) + "/romwright-bench-hex-XXXXXX";
    int fd = ::mkstemp(path.data());
    if (fd < 0) {
        state.SkipWithError("cannot create a temporary file");
        return;
    }
    std::string text = fullTwoSeriesFile(*model);
    bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);

    rw::FlashJob job;
    job.model = model;
    std::memcpy(job.imagePath, path.c_str(), path.size() + 1);
    for (auto _ : state) {
        job.image.reset();
        job.imageLength = 0;
        bool loaded = rw::loadHexImage(job);
        uint8_t crc = rw::imageCrc8(job);
        benchmark::DoNotOptimize(crc);
        if (!written || !loaded || job.imageLength != model->flashEnd) {
            state.SkipWithError("the image did not load");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(text.size()));
    std::remove(path.c_str());
}

}  // namespace

BENCHMARK(BM_LoadAndCrcFullTwoSeriesImage)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
