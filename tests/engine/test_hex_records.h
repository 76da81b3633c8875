#pragma once
// Builders for Intel HEX text and an independent bitwise CRC-8/MAXIM, shared by
// the loader, CRC and inspector tests.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace rwtest {

// One record ":LLAAAATT<payload>CC" plus a line end; `count` overrides LL (the
// checksum still matches the count written).
inline std::string hexRecord(int type, int address, const std::vector<uint8_t>& payload,
                             int count = -1) {
    int length = count >= 0 ? count : static_cast<int>(payload.size());
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

inline std::string linearRecord(int upper) {
    return hexRecord(4, 0, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)});
}

inline std::string segmentRecord(int segment) {
    return hexRecord(2, 0, {static_cast<uint8_t>(segment >> 8), static_cast<uint8_t>(segment)});
}

// Data records for `bytes` at full address `start`, `perRecord` bytes each, with an
// extended linear address record whenever the upper 16 bits change (first from 0).
inline std::string dataRecords(int64_t start, const std::vector<uint8_t>& bytes,
                               int perRecord = 16) {
    std::string text;
    int64_t upper = 0;
    for (size_t offset = 0; offset < bytes.size();) {
        int64_t address = start + static_cast<int64_t>(offset);
        if ((address >> 16) != upper) {
            upper = address >> 16;
            text += linearRecord(static_cast<int>(upper));
        }
        size_t room = 0x10000 - static_cast<size_t>(address & 0xFFFF);
        size_t count = std::min({static_cast<size_t>(perRecord), bytes.size() - offset, room});
        std::vector<uint8_t> chunk(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                                   bytes.begin() + static_cast<std::ptrdiff_t>(offset + count));
        text += hexRecord(0, static_cast<int>(address & 0xFFFF), chunk);
        offset += count;
    }
    return text;
}

// CRC-8/MAXIM computed bit by bit (polynomial 0x31 reflected, LSB first).
inline uint8_t crc8Bitwise(uint8_t crc, uint8_t byte) {
    for (int bit = 0; bit < 8; ++bit) {
        bool mix = ((crc ^ byte) & 1) != 0;
        crc = static_cast<uint8_t>(crc >> 1);
        if (mix) crc ^= 0x8C;
        byte = static_cast<uint8_t>(byte >> 1);
    }
    return crc;
}

// CRC of `bytes` followed by `fillCount` bytes of 0xFF.
inline uint8_t crc8Reference(const std::vector<uint8_t>& bytes, size_t fillCount) {
    uint8_t crc = 0;
    for (uint8_t byte : bytes) crc = crc8Bitwise(crc, byte);
    for (size_t k = 0; k < fillCount; ++k) crc = crc8Bitwise(crc, 0xFF);
    return crc;
}

// A deterministic pattern that never repeats within a 64 KiB page.
inline std::vector<uint8_t> patternBytes(size_t count, uint32_t seed = 1) {
    std::vector<uint8_t> bytes(count);
    uint32_t state = seed * 2654435761u + 12345u;
    for (auto& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

}  // namespace rwtest
