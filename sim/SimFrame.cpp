#include "sim/SimFrame.h"

namespace rw::sim {

uint8_t frameSum(const uint8_t* data, size_t count) {
    unsigned sum = 0;
    for (size_t i = 0; i < count; ++i) sum += data[i];
    return static_cast<uint8_t>(sum);
}

static std::vector<uint8_t> replyHead(const Request& request) {
    const std::vector<uint8_t>& b = request.bytes;
    return {kFrameStart, b[3], b[4], b[1], b[2], kReplyAck};
}

std::vector<uint8_t> buildShortReply(const Request& request) {
    std::vector<uint8_t> reply = replyHead(request);
    reply.push_back(frameSum(reply.data(), reply.size()));
    return reply;
}

std::vector<uint8_t> buildFullReply(const Request& request, uint8_t status) {
    std::vector<uint8_t> reply = replyHead(request);
    reply.push_back(request.command());
    reply.push_back(status);
    reply.push_back(frameSum(reply.data(), reply.size()));
    return reply;
}

size_t requestLengthFor(const uint8_t* frame, size_t available) {
    if (available < 6) return 0;
    switch (frame[5]) {
        case CMD_MODE:
            return 11;
        case CMD_PERMISSION:
        case CMD_FLASH_INIT:
            return 10;
        case CMD_FLASH_VERIFY:
            return 9;
        case CMD_FLASH_WRITE:
            if (available < 12) return 0;
            return 13 + (static_cast<size_t>(frame[10]) << 8 | frame[11]);
        default:
            return SIZE_MAX;
    }
}

}  // namespace rw::sim
