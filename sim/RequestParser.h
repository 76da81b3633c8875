#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/SimFrame.h"

namespace rw::sim {

// Cuts request frames out of a byte stream (or one datagram) the way a
// controller's receiver does: bytes before a start byte are skipped; a known
// command fixes the frame length; a frame with a wrong checksum is discarded
// whole; an unknown command's frame ends at the first byte that is a valid
// checksum of the bytes before it.
class RequestParser {
  public:
    enum class Kind { Request, BadChecksum, Skipped };
    struct Event {
        Kind kind;
        std::vector<uint8_t> bytes;
    };

    void feed(const uint8_t* data, size_t length);
    // The next complete event, or nothing while more bytes are needed.
    std::optional<Event> next();
    // Drops buffered bytes (a stream that went quiet mid-frame, a new client).
    void reset() { buffer_.clear(); }
    size_t pending() const { return buffer_.size(); }

    // Every event of one datagram; an incomplete tail is reported as skipped.
    static std::vector<Event> parseDatagram(const uint8_t* data, size_t length);

  private:
    std::optional<Event> take(Kind kind, size_t count);
    size_t unknownCommandLength() const;

    std::vector<uint8_t> buffer_;
};

}  // namespace rw::sim
