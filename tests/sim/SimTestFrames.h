#pragma once
// Request frames built by hand for the simulator's tests, independent of the
// simulator's own reply builder and of the programmer's protocol code.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "sim/Crc8Maxim.h"
#include "sim/SimModel.h"

namespace simtest {

using Bytes = std::vector<uint8_t>;

inline uint8_t sum8(const Bytes& bytes, size_t count) {
    unsigned sum = 0;
    for (size_t i = 0; i < count; ++i) sum += bytes[i];
    return static_cast<uint8_t>(sum);
}

inline Bytes request(uint16_t address, uint8_t sequence, uint8_t command, const Bytes& payload) {
    Bytes frame = {0x02, static_cast<uint8_t>(address >> 8),          static_cast<uint8_t>(address),
                   0xFF, static_cast<uint8_t>(0xF8 + (sequence & 3)), command,
                   0x77};
    frame.insert(frame.end(), payload.begin(), payload.end());
    frame.push_back(sum8(frame, frame.size()));
    return frame;
}

inline Bytes modeRequest(uint16_t address, uint8_t sequence, uint8_t parameter, bool on) {
    return request(address, sequence, 0x4B, {0x01, parameter, static_cast<uint8_t>(on ? 1 : 0)});
}

inline Bytes codeRequest(uint16_t address, uint8_t sequence, uint8_t command, uint16_t code) {
    return request(address, sequence, command,
                   {static_cast<uint8_t>(code >> 8), static_cast<uint8_t>(code)});
}

inline Bytes writePayload(uint32_t at, const Bytes& data) {
    Bytes payload = {static_cast<uint8_t>(at >> 16), static_cast<uint8_t>(at >> 8),
                     static_cast<uint8_t>(at), static_cast<uint8_t>(data.size() >> 8),
                     static_cast<uint8_t>(data.size())};
    payload.insert(payload.end(), data.begin(), data.end());
    return payload;
}

inline Bytes writeRequest(uint16_t address, uint8_t sequence, uint32_t at, const Bytes& data) {
    return request(address, sequence, 0xF0, writePayload(at, data));
}

// Status byte of a well-formed full reply, or -1.
inline int replyStatus(const Bytes& reply) {
    if (reply.size() != 9 || sum8(reply, 8) != reply[8]) return -1;
    return reply[7];
}

// What a device's region must hold after programming `image`: the image,
// 0xFF after it, and the CRC of all that in the last byte.
inline Bytes programmedRegion(const rw::sim::SimModel& model, const Bytes& image) {
    Bytes region(model.regionSize(), 0xFF);
    std::copy(image.begin(), image.end(), region.begin());
    region.back() = rw::sim::crc8Maxim(region.data(), region.size() - 1);
    return region;
}

}  // namespace simtest
