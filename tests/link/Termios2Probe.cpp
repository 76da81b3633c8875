// Kept apart from the tests that use <termios.h>: the kernel's termbits header clashes with it.
#include "Termios2Probe.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace rwtest {

uint32_t termios2OutputSpeed(int fd) {
    termios2 settings{};
    return ioctl(fd, TCGETS2, &settings) == 0 ? settings.c_ospeed : 0;
}

bool termios2UsesArbitraryRate(int fd) {
    termios2 settings{};
    return ioctl(fd, TCGETS2, &settings) == 0 && (settings.c_cflag & CBAUD) == BOTHER;
}

}  // namespace rwtest
