#pragma once
// A reference model of the controller's side of the frame format, kept apart from
// the engine's protocol code so tests compare against an independent reading.
#include <cstdint>
#include <initializer_list>

#include "support/FakeLink.h"

namespace rwtest {

constexpr uint8_t kModeCommand = 0x4B;
constexpr uint8_t kAcknowledge = 0x06;

struct ReplyOptions {
    uint8_t status = 0;        // full form only; non-zero = refused
    bool badChecksum = false;  // checksum byte off by one
    bool stale = false;        // answers the previous sequence value (source byte - 1)
    uint8_t acknowledge = kAcknowledge;
};

// The reply a device gives to `request`: 7 bytes for the mode command, 9 for the others.
Bytes buildReply(const Bytes& request, const ReplyOptions& options = {});

// A finished request frame: 02, address, FF, F8 + sequence, command, 77, payload, checksum.
Bytes buildRequest(uint16_t deviceAddress, uint8_t sequence, uint8_t command, const Bytes& payload);

// Low 8 bits of the sum of the bytes.
uint8_t byteSum(const Bytes& bytes, size_t count);

// One piece per byte.
ReplyPieces bytewise(const Bytes& bytes);

// A responder that accepts every request with a valid reply.
Responder acceptingResponder();

}  // namespace rwtest
