#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace rw::sim {

// How fast the programmer answers the device: for every request that follows a
// reply, the time from the end of that reply (handed to the link) to the
// request's arrival; and the time from the first request to the last reply.
// Measured on the device's side, so any programmer is measured the same way.
class TurnaroundLog {
  public:
    void requestArrived(int64_t nowNs);
    void replySent(int64_t nowNs);

    size_t samples() const { return turnaroundsNs_.size(); }
    // The q-quantile (0..1) of the turnarounds in nanoseconds; 0 without samples.
    int64_t quantileNs(double q) const;
    // "timing: N turnarounds, p50 A us, p99 B us, max C us; first request to last
    // reply D.DDD s"
    std::string summary() const;

  private:
    std::vector<int64_t> turnaroundsNs_;
    int64_t lastReplyNs_ = -1;  // -1: no reply since the last request
    int64_t firstRequestNs_ = -1;
    int64_t finalReplyNs_ = -1;
};

}  // namespace rw::sim
