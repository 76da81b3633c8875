#include "support/FakeLink.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "support/FakeClock.h"

namespace rwtest {

FakeLink::FakeLink(int kind, int port) {
    linkKind = kind;
    portNumber = port;
    if (kind == rw::LINK_TCP || kind == rw::LINK_UDP) {
        std::snprintf(linkText, sizeof linkText, "%s 127.0.0.2:%d",
                      kind == rw::LINK_TCP ? "TCP" : "UDP", port);
    } else {
        std::snprintf(linkText, sizeof linkText, "COM%d", port);
    }
}

void FakeLink::queueReplyPieces(ReplyPieces pieces) {
    std::lock_guard lock(mutex_);
    script_.push_back(std::move(pieces));
}

void FakeLink::setResponder(Responder responder) {
    std::lock_guard lock(mutex_);
    responder_ = std::move(responder);
}

void FakeLink::setTimeoutClock(FakeClock* clock) {
    std::lock_guard lock(mutex_);
    timeoutClock_ = clock;
}

int FakeLink::setBaudRate(uint32_t bitsPerSecond) {
    std::lock_guard lock(mutex_);
    baudRate_ = bitsPerSecond;
    return 1;
}

uint32_t FakeLink::getBaudRate() {
    std::lock_guard lock(mutex_);
    return baudRate_;
}

int FakeLink::purgeInput() {
    std::lock_guard lock(mutex_);
    ++purges_;
    pending_.clear();
    return 1;
}

int32_t FakeLink::inputAvailable() {
    std::lock_guard lock(mutex_);
    size_t bytes = 0;
    for (const Bytes& piece : pending_) bytes += piece.size();
    return static_cast<int32_t>(std::min<size_t>(bytes, INT32_MAX));
}

uint32_t FakeLink::takePiece(uint8_t* buffer, uint32_t capacity) {
    while (!pending_.empty() && pending_.front().empty()) pending_.pop_front();
    if (pending_.empty() || capacity == 0) return 0;
    Bytes& piece = pending_.front();
    uint32_t count = static_cast<uint32_t>(std::min<size_t>(piece.size(), capacity));
    std::memcpy(buffer, piece.data(), count);
    if (count == piece.size()) {
        pending_.pop_front();
    } else {
        piece.erase(piece.begin(), piece.begin() + count);
    }
    return count;
}

int32_t FakeLink::readWithTimeout(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) {
    FakeClock* clock = nullptr;
    uint32_t count = 0;
    {
        std::lock_guard lock(mutex_);
        count = takePiece(buffer, capacity);
        clock = timeoutClock_;
    }
    if (count > 0) return static_cast<int32_t>(count);
    if (clock != nullptr) clock->advanceMs(timeoutMs);
    return rw::LINK_TIMEOUT;
}

uint32_t FakeLink::read(uint8_t* buffer, uint32_t capacity) {
    std::lock_guard lock(mutex_);
    return takePiece(buffer, capacity);
}

std::optional<ReplyPieces> FakeLink::nextScripted() {
    std::lock_guard lock(mutex_);
    if (script_.empty()) return std::nullopt;
    ReplyPieces pieces = std::move(script_.front());
    script_.pop_front();
    return pieces;
}

uint32_t FakeLink::write(const uint8_t* data, uint32_t length) {
    Bytes frame(data, data + length);
    Responder responder;
    {
        std::lock_guard lock(mutex_);
        writes_.push_back(frame);
        responder = responder_;
    }
    std::optional<ReplyPieces> reply = nextScripted();
    if (!reply && responder) reply = responder(frame);
    std::lock_guard lock(mutex_);
    if (reply) {
        for (Bytes& piece : *reply) pending_.push_back(std::move(piece));
    }
    return length;
}

}  // namespace rwtest
