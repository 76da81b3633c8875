#include "sim/OutputQueue.h"

#include <algorithm>

namespace rw::sim {

constexpr int64_t kNsPerMs = 1000000;
constexpr int64_t kBitsPerChar = 11;  // start, 8 data, 2 stop

OutputQueue::OutputQueue(const LineTiming& timing) : timing_(timing) {
    timing_.splitPieces = std::max(1, timing_.splitPieces);
    if (timing_.baud > 0) charNs_ = kBitsPerChar * 1000000000LL / timing_.baud;
}

int64_t OutputQueue::receivedAt(int64_t arrivalNs, size_t length) {
    rxDoneNs_ = std::max(arrivalNs, rxDoneNs_) + charNs_ * static_cast<int64_t>(length);
    return rxDoneNs_;
}

void OutputQueue::push(int64_t dueNs, std::vector<uint8_t> bytes, const PeerAddress& peer) {
    chunks_.push_back(Chunk{dueNs, std::move(bytes), peer, false});
    txDoneNs_ = dueNs;
}

void OutputQueue::schedule(const std::vector<uint8_t>& reply, int64_t readyNs,
                           const PeerAddress& peer, bool closeAfter) {
    int64_t startNs = std::max(readyNs + timing_.delayMs * kNsPerMs, txDoneNs_);
    size_t pieces =
        std::min(static_cast<size_t>(timing_.splitPieces), std::max<size_t>(reply.size(), 1));
    size_t offset = 0;
    for (size_t k = 0; k < pieces && offset < reply.size(); ++k) {
        size_t size = (reply.size() - offset + (pieces - k) - 1) / (pieces - k);
        if (k > 0) startNs += timing_.splitGapMs * kNsPerMs;
        auto first = reply.begin() + static_cast<std::ptrdiff_t>(offset);
        if (charNs_ > 0 && !timing_.datagram) {
            for (size_t i = 0; i < size; ++i) {
                startNs += charNs_;
                push(startNs, {first[static_cast<std::ptrdiff_t>(i)]}, peer);
            }
        } else {
            startNs += charNs_ * static_cast<int64_t>(size);
            push(startNs, std::vector<uint8_t>(first, first + static_cast<std::ptrdiff_t>(size)),
                 peer);
        }
        offset += size;
    }
    if (closeAfter) {
        if (chunks_.empty() || reply.empty()) push(startNs, {}, peer);
        chunks_.back().closeAfter = true;
    }
}

std::optional<OutputQueue::Chunk> OutputQueue::popDue(int64_t nowNs) {
    if (chunks_.empty() || chunks_.front().dueNs > nowNs) return std::nullopt;
    Chunk chunk = std::move(chunks_.front());
    chunks_.pop_front();
    return chunk;
}

void OutputQueue::clear() {
    chunks_.clear();
    rxDoneNs_ = INT64_MIN;
    txDoneNs_ = INT64_MIN;
}

}  // namespace rw::sim
