#pragma once
// Reads a terminal's speed back through the kernel's termios2 interface, so a
// test can see the rate the driver holds, standard or not.
#include <cstdint>

namespace rwtest {

// The output speed in bit/s, or 0 when the descriptor has none.
uint32_t termios2OutputSpeed(int fd);
// True when the speed is held as an arbitrary rate (BOTHER) rather than a code.
bool termios2UsesArbitraryRate(int fd);

}  // namespace rwtest
