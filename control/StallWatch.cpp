#include "control/StallWatch.h"

#include <algorithm>

namespace rw {

void StallWatch::jobStarted(int64_t nowMs) {
    writePhaseMs_ = -1;
    lastProgressMs_ = nowMs;
    lastBytesWritten_ = 0;
}

void StallWatch::status(bool logged, int32_t bytesWritten, int32_t eraseWaitSeconds,
                        int64_t nowMs) {
    if (!logged && writePhaseMs_ < 0) {
        writePhaseMs_ = nowMs;
        // The device stays silent while it erases: that time is not a stall.
        eraseEndMs_ = nowMs + int64_t{eraseWaitSeconds} * 1000;
    }
    if (bytesWritten != lastBytesWritten_) {
        lastBytesWritten_ = bytesWritten;
        lastProgressMs_ = nowMs;
    }
}

bool StallWatch::expired(int64_t nowMs) const {
    if (limitSeconds_ <= 0 || writePhaseMs_ < 0) return false;
    const int64_t sinceMs = std::max(lastProgressMs_, eraseEndMs_);
    return nowMs - sinceMs >= int64_t{limitSeconds_} * 1000;
}

}  // namespace rw
