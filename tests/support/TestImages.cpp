#include "support/TestImages.h"

#include <algorithm>
#include <cstdio>

namespace rwtest {

std::vector<uint8_t> patternBytes(size_t count, uint32_t seed) {
    std::vector<uint8_t> bytes(count);
    uint32_t state = seed * 2654435761u + 12345u;
    for (uint8_t& byte : bytes)
        byte = static_cast<uint8_t>((state = state * 1664525u + 1013904223u) >> 24);
    return bytes;
}

uint8_t crc8Reference(const std::vector<uint8_t>& bytes, size_t fillCount) {
    uint8_t crc = 0;
    for (size_t k = 0; k < bytes.size() + fillCount; ++k) {
        uint8_t byte = k < bytes.size() ? bytes[k] : 0xFF;
        for (int bit = 0; bit < 8; ++bit, byte = static_cast<uint8_t>(byte >> 1))
            crc = static_cast<uint8_t>((crc >> 1) ^ (((crc ^ byte) & 1) ? 0x8C : 0));
    }
    return crc;
}

uint8_t expectedCrc(const rw::DeviceModel& model, const std::vector<uint8_t>& image) {
    const size_t covered = static_cast<size_t>(model.flashEnd - model.pageOffset() - 1);
    const size_t fromImage = std::min(image.size(), covered);
    return crc8Reference({image.begin(), image.begin() + static_cast<long>(fromImage)},
                         covered - fromImage);
}

std::string hexRecord(int type, int address, const std::vector<uint8_t>& payload, int count,
                      const std::string& lineEnd) {
    const int length = count >= 0 ? count : static_cast<int>(payload.size());
    int sum = length + (address >> 8) + (address & 0xFF) + type;
    char text[16];
    std::snprintf(text, sizeof text, ":%02X%04X%02X", length & 0xFF, address & 0xFFFF, type);
    std::string record = text;
    for (const uint8_t byte : payload) {
        std::snprintf(text, sizeof text, "%02X", byte);
        record += text;
        sum += byte;
    }
    std::snprintf(text, sizeof text, "%02X", (-sum) & 0xFF);
    return record + text + lineEnd;
}

std::string endRecord(const std::string& lineEnd) {
    return ":00000001FF" + lineEnd;
}

std::string linearRecord(int upper, int type) {
    return hexRecord(type, 0, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)});
}

std::string segmentRecord(int segment) {
    return linearRecord(segment, 2);
}

std::string dataRecords(int64_t start, const std::vector<uint8_t>& bytes,
                        const std::string& lineEnd) {
    std::string text;
    int64_t upper = 0;
    for (size_t offset = 0, count; offset < bytes.size(); offset += count) {
        const int64_t address = start + static_cast<int64_t>(offset);
        if ((address >> 16) != upper) {
            upper = address >> 16;
            text += hexRecord(4, 0, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)},
                              -1, lineEnd);
        }
        count = std::min(
            {size_t{16}, bytes.size() - offset, static_cast<size_t>(0x10000 - (address & 0xFFFF))});
        text += hexRecord(0, static_cast<int>(address & 0xFFFF),
                          {bytes.begin() + static_cast<long>(offset),
                           bytes.begin() + static_cast<long>(offset + count)},
                          -1, lineEnd);
    }
    return text;
}

std::string intelHex(int64_t start, const std::vector<uint8_t>& bytes) {
    return dataRecords(start, bytes, "\r\n") + endRecord("\r\n");
}

}  // namespace rwtest
