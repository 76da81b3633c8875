#pragma once
#include <cstdint>
#include <set>

#include "sim/SplitMix64.h"

namespace rw::sim {

// The reply faults asked for on the command line.
struct FaultSettings {
    uint64_t seed = 1;
    double dropRate = 0;              // fraction of replies never sent
    std::set<uint64_t> dropRequests;  // request numbers (from 1) whose reply is dropped
    double corruptRate = 0;           // fraction of replies with a wrong checksum
    double staleRate = 0;             // fraction of replies with the previous sequence byte
};

// What happens to the reply of one request.
struct ReplyFaults {
    bool drop = false;
    bool corrupt = false;
    bool stale = false;
};

// Draws the faults of each request from a seeded generator. Every request
// consumes the same draws in the same order whatever the rates, so one seed
// hits the same request numbers in every run.
class FaultPlan {
  public:
    explicit FaultPlan(const FaultSettings& settings)
        : settings_(settings), random_(settings.seed) {}

    // Faults for request number `requestNumber`; call once per request, in order.
    ReplyFaults draw(uint64_t requestNumber);

  private:
    FaultSettings settings_;
    SplitMix64 random_;
};

}  // namespace rw::sim
