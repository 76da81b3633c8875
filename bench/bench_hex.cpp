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

namespace {

void appendRecord(std::string& text, int type, int address, const uint8_t* bytes, int count) {
    char field[16];
    int sum = count + (address >> 8) + (address & 0xFF) + type;
    std::snprintf(field, sizeof field, ":%02X%04X%02X", count, address & 0xFFFF, type);
    text += field;
    for (int k = 0; k < count; ++k) {
        std::snprintf(field, sizeof field, "%02X", bytes[k]);
        text += field;
        sum += bytes[k];
    }
    std::snprintf(field, sizeof field, "%02X\r\n", (-sum) & 0xFF);
    text += field;
}

// The whole region from 0xFD0000, as a linker writes it, padded to the region's
// end: its last byte, where the CRC goes, stays erased (0xFF).
std::string fullTwoSeriesFile(int32_t length) {
    std::string text;
    uint8_t bytes[16];
    unsigned state = 1;
    for (int32_t offset = 0; offset < length; offset += 16) {
        int64_t address = 0xFD0000 + offset;
        if ((address & 0xFFFF) == 0) {
            uint8_t upper[2] = {static_cast<uint8_t>(address >> 24),
                                static_cast<uint8_t>(address >> 16)};
            appendRecord(text, 4, 0, upper, 2);
        }
        for (auto& byte : bytes)
            byte = static_cast<uint8_t>((state = state * 1103515245u + 12345u) >> 16);
        if (offset + 16 >= length) bytes[15] = 0xFF;
        appendRecord(text, 0, static_cast<int>(address & 0xFFFF), bytes, 16);
    }
    appendRecord(text, 1, 0, nullptr, 0);
    return text;
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
    std::string text = fullTwoSeriesFile(model->flashEnd);
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
