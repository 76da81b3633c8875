// Random reply bytes, arriving in random pieces, through the reply check: it must
// never crash and must answer with one of the reply check's own codes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/Codes.h"
#include "engine/FlashJob.h"
#include "engine/Protocol.h"
#include "link/Transport.h"

namespace rwtest {
namespace {

// Delivers the input one piece per read; afterwards nothing (time-out) or a
// failed receive (0), as a real link would.
class PieceLink : public rw::Transport {
  public:
    PieceLink(std::vector<std::vector<uint8_t>> pieces, bool failAtEnd)
        : pieces_(std::move(pieces)), failAtEnd_(failAtEnd) {}

    int purgeInput() override { return 1; }
    int purgeOutput() override { return 1; }
    uint32_t commErrors() override { return 0; }
    int32_t outputPending() override { return 0; }
    int32_t inputAvailable() override { return next_ < pieces_.size() ? 1 : 0; }
    int32_t readWithTimeout(uint8_t* buffer, uint32_t capacity, uint32_t) override {
        if (next_ >= pieces_.size()) return failAtEnd_ ? 0 : rw::LINK_TIMEOUT;
        return static_cast<int32_t>(read(buffer, capacity));
    }
    uint32_t read(uint8_t* buffer, uint32_t capacity) override {
        if (next_ >= pieces_.size()) return 0;
        const std::vector<uint8_t>& piece = pieces_[next_++];
        uint32_t count = std::min<uint32_t>(capacity, static_cast<uint32_t>(piece.size()));
        if (count > 0) std::memcpy(buffer, piece.data(), count);
        return count;
    }
    uint32_t write(const uint8_t*, uint32_t length) override { return length; }

  private:
    std::vector<std::vector<uint8_t>> pieces_;
    size_t next_ = 0;
    bool failAtEnd_;
};

}  // namespace
}  // namespace rwtest

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    static const uint8_t commands[] = {rw::CMD_MODE, rw::CMD_PERMISSION, rw::CMD_FLASH_INIT,
                                       rw::CMD_FLASH_WRITE, rw::CMD_FLASH_VERIFY};
    const uint8_t command = commands[data[0] % sizeof commands];
    const uint8_t sequence = data[1] & 3;
    const uint8_t pieceSize = static_cast<uint8_t>((data[2] & 0x0F) + 1);
    const bool failAtEnd = (data[2] & 0x80) != 0;
    data += 3;
    size -= 3;

    std::vector<std::vector<uint8_t>> pieces;
    for (size_t offset = 0; offset < size; offset += pieceSize) {
        size_t end = std::min(size, offset + pieceSize);
        pieces.emplace_back(data + offset, data + end);
    }
    rwtest::PieceLink link(std::move(pieces), failAtEnd);

    static rw::FlashJob job{};
    std::memset(job.txFrame, 0, sizeof job.txFrame);
    const uint8_t request[] = {0x02,    0x00, 0x65, 0xFF, static_cast<uint8_t>(0xF8 + sequence),
                               command, 0x77};
    std::memcpy(job.txFrame, request, sizeof request);
    job.replyTimeoutMs = 3000;

    const int result = rw::checkReply(link, job);
    switch (result) {
        case rw::LINK_OK:
        case rw::LINK_TIMEOUT:
        case rw::LINK_FAIL:
        case rw::LINK_DEVICE_REFUSED:
        case rw::LINK_BAD_CHECKSUM:
            break;
        default:
            std::abort();
    }
    // Success needs at least a whole reply of the request's form.
    if (result == rw::LINK_OK && size < (command == rw::CMD_MODE ? 7u : 9u)) std::abort();
    return 0;
}
