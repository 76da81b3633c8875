#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "link/linux/SerialSpeedLinux.h"

namespace rw::termios2api {

bool setArbitrarySpeed(int fd, uint32_t bitsPerSecond) {
    termios2 settings{};
    if (ioctl(fd, TCGETS2, &settings) != 0) return false;
    settings.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    settings.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    settings.c_ispeed = bitsPerSecond;
    settings.c_ospeed = bitsPerSecond;
    return ioctl(fd, TCSETS2, &settings) == 0;
}

bool readOutputSpeed(int fd, uint32_t& bitsPerSecond) {
    termios2 settings{};
    if (ioctl(fd, TCGETS2, &settings) != 0) return false;
    bitsPerSecond = settings.c_ospeed;
    return true;
}

}  // namespace rw::termios2api
