#include "sim/TurnaroundLog.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace rw::sim {

void TurnaroundLog::requestArrived(int64_t nowNs) {
    if (firstRequestNs_ < 0) firstRequestNs_ = nowNs;
    if (lastReplyNs_ >= 0) turnaroundsNs_.push_back(nowNs - lastReplyNs_);
    lastReplyNs_ = -1;
}

void TurnaroundLog::replySent(int64_t nowNs) {
    lastReplyNs_ = nowNs;
    finalReplyNs_ = nowNs;
}

int64_t TurnaroundLog::quantileNs(double q) const {
    if (turnaroundsNs_.empty()) return 0;
    std::vector<int64_t> sorted = turnaroundsNs_;
    std::sort(sorted.begin(), sorted.end());
    const double rank = std::ceil(q * static_cast<double>(sorted.size()));
    const size_t at = std::min(sorted.size() - 1, static_cast<size_t>(std::max(rank, 1.0)) - 1);
    return sorted[at];
}

std::string TurnaroundLog::summary() const {
    const double jobSeconds = firstRequestNs_ < 0 || finalReplyNs_ < firstRequestNs_
                                  ? 0.0
                                  : static_cast<double>(finalReplyNs_ - firstRequestNs_) * 1e-9;
    char line[200];
    std::snprintf(line, sizeof line,
                  "timing: %zu turnarounds, p50 %.0f us, p99 %.0f us, max %.0f us; first "
                  "request to last reply %.3f s\n",
                  samples(), static_cast<double>(quantileNs(0.5)) * 1e-3,
                  static_cast<double>(quantileNs(0.99)) * 1e-3,
                  static_cast<double>(quantileNs(1.0)) * 1e-3, jobSeconds);
    return line;
}

}  // namespace rw::sim
