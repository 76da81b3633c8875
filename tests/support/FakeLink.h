#pragma once
// An in-memory link for tests. Every written frame is recorded; each accepted
// frame may be answered by the next scripted reply or, when the script is empty,
// by a responder computed from the frame. A reply can arrive in pieces: each
// read delivers one piece. When nothing is waiting, readWithTimeout returns
// LINK_TIMEOUT at once, without waiting in real time.
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "link/Transport.h"

namespace rwtest {

class FakeClock;

using Bytes = std::vector<uint8_t>;
// A reply as it arrives: one piece per read. No pieces: the device stays silent.
using ReplyPieces = std::vector<Bytes>;
// Computes the answer to one accepted frame.
using Responder = std::function<ReplyPieces(const Bytes& frame)>;

class FakeLink : public rw::Transport {
  public:
    // A link of the given kind; the name follows the real links ("COM1",
    // "UDP 127.0.0.2:3001", "TCP 127.0.0.2:3001").
    explicit FakeLink(int kind = rw::LINK_SERIAL, int port = 1);

    // Script: one entry per written frame, consumed in order (no pieces: silence).
    void queueReplyPieces(ReplyPieces pieces);
    // Answers frames once the script is used up; without one, the device is silent.
    void setResponder(Responder responder);
    // When set, a read that finds nothing advances this clock by its time-out,
    // as a real wait would.
    void setTimeoutClock(FakeClock* clock);

    std::vector<Bytes> writes() const { return locked(writes_); }
    int purgeCount() const { return locked(purges_); }

    int setBaudRate(uint32_t bitsPerSecond) override;
    uint32_t getBaudRate() override;
    int purgeInput() override;
    int purgeOutput() override { return 1; }
    uint32_t commErrors() override { return 0; }
    int32_t outputPending() override { return 0; }
    int32_t inputAvailable() override;
    int32_t readWithTimeout(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) override;
    uint32_t read(uint8_t* buffer, uint32_t capacity) override;
    uint32_t write(const uint8_t* data, uint32_t length) override;

  private:
    template <typename T>
    T locked(const T& field) const {
        std::lock_guard lock(mutex_);
        return field;
    }
    uint32_t takePiece(uint8_t* buffer, uint32_t capacity);
    std::optional<ReplyPieces> nextScripted();

    mutable std::mutex mutex_;
    std::deque<ReplyPieces> script_;
    Responder responder_;
    std::deque<Bytes> pending_;
    std::vector<Bytes> writes_;
    int purges_ = 0;
    uint32_t baudRate_ = 0;
    FakeClock* timeoutClock_ = nullptr;
};

}  // namespace rwtest
