#pragma once
#include <string>

namespace rw {

// The device behind COM port number N when nothing else is configured:
// "/dev/ttyS<N-1>" (COM1 is /dev/ttyS0).
std::string defaultSerialDevicePath(int portNumber);

}  // namespace rw
