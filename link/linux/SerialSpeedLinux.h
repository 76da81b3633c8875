#pragma once
// Arbitrary line speeds through the Linux termios2 interface. Kept apart from
// the termios code: the kernel's termbits header clashes with <termios.h>.
#include <cstdint>

namespace rw::termios2api {

// Sets input and output speed to any bit/s value (BOTHER); false when refused.
bool setArbitrarySpeed(int fd, uint32_t bitsPerSecond);
// The output speed in bit/s as the driver holds it; false when it cannot tell.
bool readOutputSpeed(int fd, uint32_t& bitsPerSecond);

}  // namespace rw::termios2api
