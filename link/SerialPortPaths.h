#pragma once
#include <functional>
#include <string>

namespace rw {

// Maps a COM port number N to a device path. The default resolver gives
// "/dev/ttyS<N-1>"; the program installs one that reads its settings
// (Ports/COMN) at start-up, tests install their own.
using SerialPortResolver = std::function<std::string(int portNumber)>;

std::string serialDevicePath(int portNumber);
void setSerialPortResolver(SerialPortResolver resolver);  // empty: the default

}  // namespace rw
