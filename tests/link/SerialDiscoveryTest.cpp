// Which serial devices a system has, read from a fake sys/ and dev/ tree (never
// the machine's own): the devices that fill the COM numbers nobody set.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/SerialPortDiscovery.h"
#include "support/TestEnv.h"

namespace rwtest {
namespace {

namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

// "ttyS0 type=4": a terminal with a device and its UART type; "ttyUSB0": with a
// device, no type; "tty1 nodevice"; "usb-A -> ttyUSB0": a stable name in
// dev/serial/by-id linking to the kernel's device.
void addEntry(const fs::path& root, const std::string& entry) {
    const size_t arrow = entry.find(" -> ");
    if (arrow != std::string::npos) {
        const fs::path link = root / "dev/serial/by-id" / entry.substr(0, arrow);
        fs::create_directories(link.parent_path());
        fs::create_symlink(fs::path("../..") / entry.substr(arrow + 4), link);
        return;
    }
    const fs::path folder = root / "sys/class/tty" / entry.substr(0, entry.find(' '));
    fs::create_directories(folder);
    if (entry.find("nodevice") == std::string::npos) fs::create_directories(folder / "device");
    const size_t type = entry.find("type=");
    if (type != std::string::npos) writeFile(folder / "type", entry.substr(type + 5) + "\n");
}

TEST(SerialPortDiscovery, FindsPresentDevicesUsbAdaptersFirstByTheirStableNames) {
    // Ports without a UART (ttyS0 to ttyS3 always exist) or a device are left out,
    // built-in ports come by number; USB adapters come first by their sorted
    // stable names; a stale link is skipped, a device with two names listed once,
    // one without a stable name listed with the others.
    TempDir root;
    for (const std::string entry :
         {"ttyS10 type=4", "ttyS2 type=4", "ttyS1 type=0", "ttyS0 type=4", "ttyS3", "tty1 nodevice",
          "ttyUSB0", "ttyUSB1", "ttyACM0", "ttyUSB3", "usb-Prolific_B -> ttyUSB0",
          "usb-FTDI_A -> ttyUSB1", "usb-FTDI_A-port0 -> ttyUSB1", "usb-Arduino_C -> ttyACM0",
          "usb-Gone -> ttyUSB9"})
        addEntry(root.path(), entry);
    Texts found;
    for (const rw::SerialDevice& device : rw::discoverSerialDevices(root.path()))
        found.push_back(device.path + " = " + device.name);
    EXPECT_EQ(found,
              (Texts{"/dev/serial/by-id/usb-Arduino_C = ttyACM0",
                     "/dev/serial/by-id/usb-FTDI_A = ttyUSB1",
                     "/dev/serial/by-id/usb-Prolific_B = ttyUSB0", "/dev/ttyS0 = ttyS0",
                     "/dev/ttyS2 = ttyS2", "/dev/ttyS10 = ttyS10", "/dev/ttyUSB3 = ttyUSB3"}));
}

}  // namespace
}  // namespace rwtest
