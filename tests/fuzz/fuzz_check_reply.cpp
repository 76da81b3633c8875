// Random reply bytes, arriving in random pieces, through the reply check: it must
// never crash and must answer with one of the reply check's own codes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/FlashJob.h"
#include "engine/Protocol.h"
#include "support/FakeLink.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    static const uint8_t commands[] = {rw::CMD_MODE, rw::CMD_PERMISSION, rw::CMD_FLASH_INIT,
                                       rw::CMD_FLASH_WRITE, rw::CMD_FLASH_VERIFY};
    const uint8_t command = commands[data[0] % sizeof commands];
    const auto sequence = static_cast<uint8_t>(0xF8 + (data[1] & 3));
    const size_t pieceSize = (data[2] & 0x0F) + 1u;
    const uint8_t request[] = {0x02, 0x00, 0x65, 0xFF, sequence, command, 0x77};
    rwtest::ReplyPieces pieces;
    for (size_t offset = 3; offset < size; offset += pieceSize)
        pieces.emplace_back(data + offset, data + std::min(size, offset + pieceSize));
    rwtest::FakeLink link;
    link.queueReplyPieces(std::move(pieces));
    link.write(request, sizeof request);

    static rw::FlashJob job{};
    std::memset(job.txFrame, 0, sizeof job.txFrame);
    std::memcpy(job.txFrame, request, sizeof request);
    job.replyTimeoutMs = 3000;
    const int result = rw::checkReply(link, job);
    if (result != rw::LINK_OK && result != rw::LINK_TIMEOUT && result != rw::LINK_FAIL &&
        result != rw::LINK_DEVICE_REFUSED && result != rw::LINK_BAD_CHECKSUM)
        std::abort();
    // Success needs at least a whole reply of the request's form.
    if (result == rw::LINK_OK && size - 3 < (command == rw::CMD_MODE ? 7u : 9u)) std::abort();
    return 0;
}
