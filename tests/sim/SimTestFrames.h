#pragma once
// Request frames of each kind the simulator serves, built with the reference
// frame builder (independent of the simulator's parser and of the engine).
#include <cstdint>

#include "support/ReplyBuilder.h"

namespace rwtest {

inline Bytes modeRequest(uint16_t address, uint8_t sequence) {
    return buildRequest(address, sequence, 0x4B, {0x01, 38, 0x01});
}

inline Bytes codeRequest(uint16_t address, uint8_t sequence, uint8_t command, uint16_t code) {
    return buildRequest(address, sequence, command, {uint8_t(code >> 8), uint8_t(code)});
}

inline Bytes writeRequest(uint16_t address, uint8_t sequence, uint32_t at, const Bytes& data) {
    Bytes payload = {uint8_t(at >> 16), uint8_t(at >> 8), uint8_t(at), uint8_t(data.size() >> 8),
                     uint8_t(data.size())};
    for (const uint8_t byte : data) payload.push_back(byte);
    return buildRequest(address, sequence, 0xF0, payload);
}

// Status byte of a well-formed full reply, or -1.
inline int replyStatus(const Bytes& reply) {
    return reply.size() == 9 && byteSum(reply, 8) == reply[8] ? reply[7] : -1;
}

}  // namespace rwtest
