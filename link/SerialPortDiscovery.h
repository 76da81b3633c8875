#pragma once
#include <filesystem>
#include <string>
#include <vector>

namespace rw {

// A serial device the system has.
struct SerialDevice {
    std::string path;  // what a link opens: "/dev/serial/by-id/usb-FTDI_..." or "/dev/ttyS0"
    std::string name;  // the kernel's name for it: "ttyUSB0", "ttyS0"
};

// The serial devices present under root ("/" on a running system; tests give a
// folder holding a fake sys/class/tty and dev/serial/by-id). A device is present
// when sys/class/tty/NAME/device exists and, for a built-in port ttySN, its UART
// type (sys/class/tty/ttySN/type) is not 0: Linux creates ttyS0 to ttyS3 whether
// or not a UART stands behind them. USB adapters come first, by their stable
// names in dev/serial/by-id (sorted); then the other devices by kernel name,
// number by number ("ttyS2" before "ttyS10"). The paths are the system's
// ("/dev/..."), not prefixed with root.
std::vector<SerialDevice> discoverSerialDevices(const std::filesystem::path& root = "/");

}  // namespace rw
