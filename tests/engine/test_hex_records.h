#pragma once
// Builders for Intel HEX text and an independent bitwise CRC-8/MAXIM, shared by
// the loader, CRC and inspector tests.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace rwtest {

// One record ":LLAAAATT<payload>CC\n"; `count` overrides LL (the checksum still
// matches the count written).
inline std::string hexRecord(int type, int address, const std::vector<uint8_t>& payload,
                             int count = -1) {
    const int length = count >= 0 ? count : static_cast<int>(payload.size());
    int sum = length + (address >> 8) + (address & 0xFF) + type;
    char text[16];
    std::snprintf(text, sizeof text, ":%02X%04X%02X", length & 0xFF, address & 0xFFFF, type);
    std::string record = text;
    for (uint8_t byte : payload) {
        std::snprintf(text, sizeof text, "%02X", byte);
        record += text;
        sum += byte;
    }
    std::snprintf(text, sizeof text, "%02X\n", (-sum) & 0xFF);
    return record + text;
}

inline std::string endRecord() {
    return ":00000001FF\n";
}
// Type 04 (extended linear) or 02 (extended segment) address record.
inline std::string linearRecord(int upper, int type = 4) {
    return hexRecord(type, 0, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)});
}
inline std::string segmentRecord(int segment) {
    return linearRecord(segment, 2);
}

// Data records of 16 bytes for `bytes` at full address `start`, with an extended
// linear address record whenever the upper 16 bits change (first from 0).
inline std::string dataRecords(int64_t start, const std::vector<uint8_t>& bytes) {
    std::string text;
    int64_t upper = 0;
    for (size_t offset = 0, count; offset < bytes.size(); offset += count) {
        const int64_t address = start + static_cast<int64_t>(offset);
        if ((address >> 16) != upper) text += linearRecord(static_cast<int>(upper = address >> 16));
        count = std::min({size_t{16}, bytes.size() - offset, size_t(0x10000 - (address & 0xFFFF))});
        text += hexRecord(0, static_cast<int>(address & 0xFFFF),
                          {bytes.begin() + long(offset), bytes.begin() + long(offset + count)});
    }
    return text;
}

// CRC-8/MAXIM, bit by bit (polynomial 0x31 reflected), of `bytes` and then
// `fillCount` bytes of 0xFF.
inline uint8_t crc8Reference(const std::vector<uint8_t>& bytes, size_t fillCount) {
    uint8_t crc = 0;
    for (size_t k = 0; k < bytes.size() + fillCount; ++k) {
        uint8_t byte = k < bytes.size() ? bytes[k] : 0xFF;
        for (int bit = 0; bit < 8; ++bit, byte >>= 1)
            crc = static_cast<uint8_t>((crc >> 1) ^ (((crc ^ byte) & 1) ? 0x8C : 0));
    }
    return crc;
}

// A deterministic pattern that never repeats within a 64 KiB page.
inline std::vector<uint8_t> patternBytes(size_t count, uint32_t seed = 1) {
    std::vector<uint8_t> bytes(count);
    uint32_t state = seed * 2654435761u + 12345u;
    for (auto& byte : bytes)
        byte = static_cast<uint8_t>((state = state * 1664525u + 1013904223u) >> 24);
    return bytes;
}

}  // namespace rwtest
