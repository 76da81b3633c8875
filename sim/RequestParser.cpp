#include "sim/RequestParser.h"

#include <algorithm>

namespace rw::sim {

void RequestParser::feed(const uint8_t* data, size_t length) {
    buffer_.insert(buffer_.end(), data, data + length);
}

std::optional<RequestParser::Event> RequestParser::take(Kind kind, size_t count) {
    const auto end = buffer_.begin() + static_cast<std::ptrdiff_t>(count);
    Event event{kind, std::vector<uint8_t>(buffer_.begin(), end)};
    buffer_.erase(buffer_.begin(), end);
    return event;
}

// 0 while no candidate length fits yet, SIZE_MAX when none can fit any more.
size_t RequestParser::unknownCommandLength() const {
    size_t limit = std::min(buffer_.size(), kMaxRequestLength);
    unsigned sum = 0;
    for (size_t i = 0; i < limit; ++i) {
        if (i + 1 >= kMinRequestLength && static_cast<uint8_t>(sum) == buffer_[i]) return i + 1;
        sum += buffer_[i];
    }
    return buffer_.size() >= kMaxRequestLength ? SIZE_MAX : 0;
}

std::optional<RequestParser::Event> RequestParser::next() {
    if (buffer_.empty()) return std::nullopt;
    if (buffer_[0] != kFrameStart) {
        auto start = std::find(buffer_.begin(), buffer_.end(), kFrameStart);
        return take(Kind::Skipped, static_cast<size_t>(start - buffer_.begin()));
    }
    size_t length = requestLengthFor(buffer_.data(), buffer_.size());
    if (length == SIZE_MAX) {
        length = unknownCommandLength();
        if (length == SIZE_MAX) return take(Kind::Skipped, 1);
        return length == 0 ? std::nullopt : take(Kind::Request, length);
    }
    if (length == 0) return std::nullopt;
    // A block longer than the receive buffer cannot be a real request: the
    // start byte was noise, so look for the next one.
    if (length > kMaxRequestLength) return take(Kind::Skipped, 1);
    if (buffer_.size() < length) return std::nullopt;
    bool valid = frameSum(buffer_.data(), length - 1) == buffer_[length - 1];
    return take(valid ? Kind::Request : Kind::BadChecksum, length);
}

std::vector<RequestParser::Event> RequestParser::parseDatagram(const uint8_t* data, size_t length) {
    RequestParser parser;
    parser.feed(data, length);
    std::vector<Event> events;
    while (auto event = parser.next()) events.push_back(std::move(*event));
    if (parser.pending() > 0) events.push_back(*parser.take(Kind::Skipped, parser.pending()));
    return events;
}

}  // namespace rw::sim
