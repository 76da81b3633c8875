#pragma once
// Small helpers the POSIX implementations of the platform calls share (the
// sockets here, the Linux serial port beside them). Internal to link/.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>

namespace rw::posix {

// The file descriptor behind a socket or port handle.
inline int fd(std::intptr_t handle) {
    return static_cast<int>(handle);
}

// poll() takes a signed time-out in which negative means "forever".
inline int toPollMs(int64_t timeoutMs) {
    return static_cast<int>(std::clamp<int64_t>(timeoutMs, 0, std::numeric_limits<int>::max()));
}

// Whole milliseconds until `deadline`, rounded up (zero or less once it has passed).
inline int64_t msUntil(std::chrono::steady_clock::time_point deadline) {
    return std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
        .count();
}

}  // namespace rw::posix
