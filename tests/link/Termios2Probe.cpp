// Apart from the tests that use <termios.h>: the kernel's termbits header clashes with it.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstdint>

namespace rwtest {

// The output speed the driver holds (0 when unreadable), and whether it is held
// as an arbitrary rate (BOTHER) rather than a speed code.
uint32_t termios2OutputSpeed(int fd, bool& arbitrary) {
    termios2 settings{};
    const bool ok = ioctl(fd, TCGETS2, &settings) == 0;
    arbitrary = ok && (settings.c_cflag & CBAUD) == BOTHER;
    return ok ? settings.c_ospeed : 0;
}

}  // namespace rwtest
