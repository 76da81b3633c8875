#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace rw::sim {

// Where a datagram reply goes (network byte order); unused on stream links.
struct PeerAddress {
    uint32_t ip = 0;
    uint16_t port = 0;
};

// Timing of the simulated line.
struct LineTiming {
    int baud = 0;           // 0: no pacing
    bool datagram = false;  // each piece leaves as one datagram
    int delayMs = 0;        // extra delay before every reply
    int splitPieces = 1;    // replies leave in this many pieces...
    int splitGapMs = 0;     // ...with this gap between them
};

// The replies waiting to go out, each piece (or, on a paced stream, each
// byte) with the time it is due. Times are steady-clock nanoseconds supplied
// by the caller, so the timing rules are tested without waiting.
class OutputQueue {
  public:
    struct Chunk {
        int64_t dueNs = 0;
        std::vector<uint8_t> bytes;
        PeerAddress peer;
        bool closeAfter = false;
    };

    explicit OutputQueue(const LineTiming& timing);

    // When a request of `length` bytes that arrived at arrivalNs has fully come
    // in over the line: its wire time after the previous one.
    int64_t receivedAt(int64_t arrivalNs, size_t length);
    // Queues a reply that may start at readyNs (an empty reply only matters
    // when it carries closeAfter).
    void schedule(const std::vector<uint8_t>& reply, int64_t readyNs, const PeerAddress& peer,
                  bool closeAfter);

    bool empty() const { return chunks_.empty(); }
    int64_t nextDueNs() const { return chunks_.front().dueNs; }
    // The first chunk if it is due at nowNs.
    std::optional<Chunk> popDue(int64_t nowNs);
    // Forgets everything queued and the line's history (a new client).
    void clear();

  private:
    void push(int64_t dueNs, std::vector<uint8_t> bytes, const PeerAddress& peer);

    LineTiming timing_;
    int64_t charNs_ = 0;  // wire time of one character: 11 bits (8N2); 0 unpaced
    int64_t rxDoneNs_ = INT64_MIN;
    int64_t txDoneNs_ = INT64_MIN;
    std::deque<Chunk> chunks_;
};

}  // namespace rw::sim
