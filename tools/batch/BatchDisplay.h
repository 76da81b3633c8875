#pragma once
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "tools/batch/BatchLink.h"

namespace rw {

// What the batch shows. On a terminal: one live line per link (device,
// percent, status), redrawn in place at most ten times a second, and a line
// above them for each device that failed. Otherwise: one plain line per device
// that ended. At the end, a table per link.
class BatchDisplay {
  public:
    using Links = std::vector<std::unique_ptr<BatchLink>>;

    BatchDisplay(std::FILE* out, bool live) : out_(out), live_(live) {}

    // A device ended (each try): its line, when it gets one.
    void deviceEnded(const BatchLink& link, const PlanDevice& device, const DeviceResult& result);
    // Redraws the live lines when due (or `force`); nothing when not live.
    void update(const Links& links, int64_t nowMs, bool force = false);
    // Programmed and failed devices per link, the failed addresses and the time taken.
    void summary(const Links& links, double seconds);

  private:
    std::FILE* out_;
    bool live_;
    size_t linesDrawn_ = 0;
    int64_t lastDrawMs_ = -1;
};

}  // namespace rw
