#pragma once
#include <array>
#include <string>
#include <vector>

#include "link/SerialPortDiscovery.h"

namespace rw {

// The COM port numbers the window offers: COM1 to COM8.
constexpr int kComPortCount = 8;

// A device path for each COM port number (index 0 is COM1); empty: none given.
using ComPortPaths = std::array<std::string, kComPortCount>;

// The device behind COM port number N when nothing else is configured:
// "/dev/ttyS<N-1>" (COM1 is /dev/ttyS0).
std::string defaultSerialDevicePath(int portNumber);

// The device a COM port number stands for.
struct ComPort {
    std::string path;   // what the link opens
    std::string name;   // the device as the list shows it: "ttyUSB0"
    bool kept = false;  // given, or filled from a device present: the settings keep it
};

// COM1 to COM8: a given path always wins; the numbers without one take, in
// order, the present devices that no given path names (by their path or by
// /dev/NAME); the rest keep their default (not kept). A device's name is the
// kernel's when it is present, otherwise the last part of its path.
std::vector<ComPort> mapComPorts(const ComPortPaths& given,
                                 const std::vector<SerialDevice>& present);

}  // namespace rw
