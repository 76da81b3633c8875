#pragma once
// Helpers shared by the sequence tests: test images written as Intel HEX, an
// independent CRC-8/MAXIM, and the flash a device should end up with.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "engine/DeviceModel.h"

namespace rwtest {

using Flash = std::map<uint32_t, uint8_t>;

// Bitwise CRC-8/MAXIM (reflected 0x8C, init 0), kept apart from the engine's table.
inline uint8_t crc8Maxim(const std::vector<uint8_t>& bytes) {
    uint8_t crc = 0;
    for (uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0x8C : crc >> 1;
    }
    return crc;
}

// A recognisable image of `size` bytes, never all 0xFF.
inline std::vector<uint8_t> patternImage(size_t size, unsigned seed = 7) {
    std::vector<uint8_t> image(size);
    for (size_t i = 0; i < size; ++i)
        image[i] = static_cast<uint8_t>((i * seed + i / 256 + 3) & 0xFF);
    return image;
}

// Intel HEX text placing data at startAddress onward: 16-byte data records,
// extended linear address records whenever the upper 16 bits change, an end record.
inline std::string intelHex(int64_t startAddress, const std::vector<uint8_t>& data) {
    std::string text;
    auto record = [&text](unsigned type, unsigned address, const uint8_t* bytes, size_t count) {
        std::vector<uint8_t> all{uint8_t(count), uint8_t(address >> 8), uint8_t(address),
                                 uint8_t(type)};
        all.insert(all.end(), bytes, bytes + count);
        unsigned sum = 0;
        text += ':';
        char hex[3];
        for (uint8_t byte : all) {
            std::snprintf(hex, sizeof hex, "%02X", byte);
            text += hex;
            sum += byte;
        }
        std::snprintf(hex, sizeof hex, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
        text += std::string(hex) + "\r\n";
    };
    uint32_t upper = 0;
    for (size_t offset = 0; offset < data.size();) {
        const auto address = static_cast<uint32_t>(startAddress + static_cast<int64_t>(offset));
        if ((address >> 16) != upper) {
            upper = address >> 16;
            const uint8_t upperBytes[2] = {uint8_t(upper >> 8), uint8_t(upper)};
            record(0x04, 0, upperBytes, 2);
        }
        size_t count = std::min<size_t>({16, data.size() - offset, 0x10000 - (address & 0xFFFF)});
        record(0x00, address & 0xFFFF, data.data() + offset, count);
        offset += count;
    }
    record(0x01, 0, nullptr, 0);
    return text;
}

// The CRC the engine must compute: the image, then 0xFF up to the region's last byte.
inline uint8_t expectedCrc(const rw::DeviceModel& model, const std::vector<uint8_t>& image) {
    std::vector<uint8_t> region = image;
    size_t regionBytes = static_cast<size_t>(model.flashEnd - model.pageOffset() - 1);
    region.resize(regionBytes, 0xFF);
    return crc8Maxim(region);
}

// What a device that started erased holds after a complete run: every written
// byte, with the CRC in the region's last byte.
inline Flash expectedFlash(const rw::DeviceModel& model, const std::vector<uint8_t>& image) {
    Flash flash;
    for (size_t i = 0; i < image.size(); ++i)
        flash[uint32_t(uint32_t(model.flashStart) + i)] = image[i];
    flash[static_cast<uint32_t>(model.crcAddress())] = expectedCrc(model, image);
    return flash;
}

}  // namespace rwtest
