#pragma once
// Test images and their files: a pattern generator, an Intel HEX writer, and a
// bitwise CRC-8/MAXIM with the CRC a model's region must get. All of it is kept
// apart from the engine's loader and CRC table, so tests compare against an
// independent reading.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/DeviceModel.h"

namespace rwtest {

// A deterministic pseudo-random pattern; other seeds give other bytes.
std::vector<uint8_t> patternBytes(size_t count, uint32_t seed = 1);

// CRC-8/MAXIM, bit by bit (polynomial 0x31 reflected, initial value 0), of
// `bytes` and then `fillCount` bytes of 0xFF.
uint8_t crc8Reference(const std::vector<uint8_t>& bytes, size_t fillCount = 0);

// The CRC the engine must compute for `image` on `model`: the image, then 0xFF
// up to the region's last byte (which holds the CRC and is not covered).
uint8_t expectedCrc(const rw::DeviceModel& model, const std::vector<uint8_t>& image);

// One record ":LLAAAATT<payload>CC" and a line end; `count` overrides LL (the
// checksum still matches the count written).
std::string hexRecord(int type, int address, const std::vector<uint8_t>& payload, int count = -1,
                      const std::string& lineEnd = "\n");
std::string endRecord(const std::string& lineEnd = "\n");
// Type 04 (extended linear) or 02 (extended segment) address record.
std::string linearRecord(int upper, int type = 4);
std::string segmentRecord(int segment);

// Data records of 16 bytes for `bytes` at full address `start`, with an extended
// linear address record whenever the upper 16 bits change (first from 0).
std::string dataRecords(int64_t start, const std::vector<uint8_t>& bytes,
                        const std::string& lineEnd = "\n");

// A whole file as a linker writes it: the data records from `start` and the end
// record, every line ending in CR LF.
std::string intelHex(int64_t start, const std::vector<uint8_t>& bytes);

}  // namespace rwtest
