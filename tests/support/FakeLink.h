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

    // Script: one entry per accepted frame, consumed in order.
    void queueReply(Bytes reply);
    void queueReplyPieces(ReplyPieces pieces);
    void queueSilence();
    // Answers frames once the script is used up; without one, the device is silent.
    void setResponder(Responder responder);
    // The next `times` writes (all of them when negative) accept at most maxBytes.
    // A frame not accepted whole gets no answer and consumes no script entry.
    void setWriteLimit(uint32_t maxBytes, int times = -1);
    // What lastError() reports, as after a failed open.
    void setOpenError(int code);
    // When set, a read that finds nothing advances this clock by its time-out,
    // as a real wait would.
    void setTimeoutClock(FakeClock* clock);
    // Replies travel: each one arrives during a later wait for input (a
    // readWithTimeout that finds none), one reply per wait, so a purge never
    // meets a reply still on its way. The reply to accepted frame number
    // `lateFrame` (from 1) misses its own wait and arrives during the next one.
    void setRepliesInFlight(int lateFrame = 0);

    std::vector<Bytes> writes() const { return locked(writes_); }
    Bytes lastWrite() const {
        const std::vector<Bytes> all = writes();
        return all.empty() ? Bytes{} : all.back();
    }
    int writeCount() const { return static_cast<int>(writes().size()); }
    int purgeCount() const { return locked(purges_); }
    // Time-out of every readWithTimeout call, in call order.
    std::vector<uint32_t> readTimeouts() const { return locked(readTimeouts_); }

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
    struct InFlight {
        ReplyPieces pieces;
        bool late = false;
    };
    bool repliesInFlight_ = false;
    int lateFrame_ = 0;
    int acceptedFrames_ = 0;
    std::deque<InFlight> inFlight_;
    std::vector<Bytes> writes_;
    std::vector<uint32_t> readTimeouts_;
    uint32_t writeLimit_ = 0;
    int writeLimitTimes_ = 0;
    int purges_ = 0;
    uint32_t baudRate_ = 0;
    FakeClock* timeoutClock_ = nullptr;
};

}  // namespace rwtest
