#pragma once
// Request frames built by hand, independent of the simulator's reply builder
// and of the programmer's protocol code.
#include <cstdint>
#include <vector>

namespace simtest {

using Bytes = std::vector<uint8_t>;

inline uint8_t sum8(const Bytes& bytes, size_t count) {
    unsigned sum = 0;
    for (size_t i = 0; i < count; ++i) sum += bytes[i];
    return static_cast<uint8_t>(sum);
}

inline Bytes request(uint16_t address, uint8_t sequence, uint8_t command, const Bytes& payload) {
    Bytes frame = {0x02, uint8_t(address >> 8),          uint8_t(address),
                   0xFF, uint8_t(0xF8 + (sequence & 3)), command,
                   0x77};
    frame.insert(frame.end(), payload.begin(), payload.end());
    frame.push_back(sum8(frame, frame.size()));
    return frame;
}

inline Bytes modeRequest(uint16_t address, uint8_t sequence) {
    return request(address, sequence, 0x4B, {0x01, 38, 0x01});
}

inline Bytes codeRequest(uint16_t address, uint8_t sequence, uint8_t command, uint16_t code) {
    return request(address, sequence, command, {uint8_t(code >> 8), uint8_t(code)});
}

inline Bytes writeRequest(uint16_t address, uint8_t sequence, uint32_t at, const Bytes& data) {
    Bytes payload = {uint8_t(at >> 16), uint8_t(at >> 8), uint8_t(at), uint8_t(data.size() >> 8),
                     uint8_t(data.size())};
    payload.insert(payload.end(), data.begin(), data.end());
    return request(address, sequence, 0xF0, payload);
}

// Status byte of a well-formed full reply, or -1.
inline int replyStatus(const Bytes& reply) {
    return reply.size() == 9 && sum8(reply, 8) == reply[8] ? reply[7] : -1;
}

}  // namespace simtest
