#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace rw::sim {

// Request commands the controllers understand.
constexpr uint8_t CMD_MODE = 0x4B;
constexpr uint8_t CMD_PERMISSION = 0x7F;
constexpr uint8_t CMD_FLASH_INIT = 0xF2;
constexpr uint8_t CMD_FLASH_WRITE = 0xF0;
constexpr uint8_t CMD_FLASH_VERIFY = 0xF3;

constexpr uint8_t kFrameStart = 0x02;
constexpr uint8_t kReplyAck = 0x06;
// A device's receive buffer; longer frames are never accepted.
constexpr size_t kMaxRequestLength = 512;
// Start, destination (2), source (2), command, 0x77, checksum.
constexpr size_t kMinRequestLength = 8;

// Sum of the bytes modulo 256: the frames' additive checksum.
uint8_t frameSum(const uint8_t* data, size_t count);

// One complete request frame with a valid checksum.
struct Request {
    std::vector<uint8_t> bytes;

    uint16_t destination() const { return static_cast<uint16_t>(bytes[1] << 8 | bytes[2]); }
    uint8_t sourceLow() const { return bytes[4]; }
    uint8_t command() const { return bytes[5]; }
    const uint8_t* payload() const { return bytes.data() + 7; }
};

// The 7-byte acknowledge that answers CMD_MODE: source and destination
// swapped, 0x06, checksum.
std::vector<uint8_t> buildShortReply(const Request& request);
// The 9-byte reply to every other command: the short reply's first six bytes,
// the request's command, the status (0 = accepted) and the checksum.
std::vector<uint8_t> buildFullReply(const Request& request, uint8_t status);

// The frame length that `command` implies, read from the first `available`
// bytes of a frame: 0 when more bytes are needed to tell, SIZE_MAX when the
// command is unknown (its frame is then delimited by its checksum).
size_t requestLengthFor(const uint8_t* frame, size_t available);

}  // namespace rw::sim
