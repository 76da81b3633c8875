#include "support/ReplyBuilder.h"

#include <algorithm>
#include <stdexcept>

namespace rwtest {

uint8_t byteSum(const Bytes& bytes, size_t count) {
    unsigned sum = 0;
    for (size_t i = 0; i < count && i < bytes.size(); ++i) sum += bytes[i];
    return static_cast<uint8_t>(sum & 0xFF);
}

Bytes buildReply(const Bytes& request, const ReplyOptions& options) {
    if (request.size() < 7) throw std::invalid_argument("request shorter than a header");
    uint8_t source = request[4];
    if (options.stale) source = static_cast<uint8_t>(0xF8 + ((source - 0xF8 + 3) & 3));
    Bytes reply{0x02, request[3], source, request[1], request[2], options.acknowledge};
    if (request[5] != kModeCommand) {
        reply.push_back(request[5]);
        reply.push_back(options.status);
    }
    uint8_t sum = byteSum(reply, reply.size());
    reply.push_back(options.badChecksum ? static_cast<uint8_t>(sum + 1) : sum);
    return reply;
}

Bytes buildRequest(uint16_t deviceAddress, uint8_t sequence, uint8_t command,
                   const Bytes& payload) {
    Bytes frame;
    frame.reserve(payload.size() + 8);
    for (uint8_t byte : {uint8_t{0x02}, static_cast<uint8_t>(deviceAddress >> 8),
                         static_cast<uint8_t>(deviceAddress & 0xFF), uint8_t{0xFF},
                         static_cast<uint8_t>(0xF8 + (sequence & 3)), command, uint8_t{0x77}}) {
        frame.push_back(byte);
    }
    for (uint8_t byte : payload) frame.push_back(byte);
    frame.push_back(byteSum(frame, frame.size()));
    return frame;
}

ReplyPieces bytewise(const Bytes& bytes) {
    ReplyPieces pieces;
    for (uint8_t byte : bytes) pieces.push_back({byte});
    return pieces;
}

Responder acceptingResponder() {
    return [](const Bytes& frame) { return ReplyPieces{buildReply(frame)}; };
}

}  // namespace rwtest
