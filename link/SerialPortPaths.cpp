#include "link/SerialPortPaths.h"

namespace rw {

std::string defaultSerialDevicePath(int portNumber) {
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

}  // namespace rw
