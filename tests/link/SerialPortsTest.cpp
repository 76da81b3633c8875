// Which serial devices a system has (a fake sys/ and dev/ tree, never the
// machine's own) and which device each COM port number stands for.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/SerialPortDiscovery.h"
#include "link/SerialPortPaths.h"
#include "support/TestEnv.h"

namespace rwtest {
namespace {

using Texts = std::vector<std::string>;

TEST(SerialPortDiscovery, FindsPresentDevicesUsbAdaptersFirstByTheirStableNames) {
    const struct {
        const char* name;
        Texts tree;      // entries for addFakeSerialEntry
        Texts expected;  // "path = kernel name", in order
    } cases[] = {
        {"ports without a UART (ttyS0 to ttyS3 always exist) or a device are left out; built-in "
         "ports by number",
         {"ttyS10 type=4", "ttyS2 type=4", "ttyS1 type=0", "ttyS0 type=4", "ttyS3",
          "tty1 nodevice"},
         {"/dev/ttyS0 = ttyS0", "/dev/ttyS2 = ttyS2", "/dev/ttyS10 = ttyS10"}},
        {"USB adapters by their sorted stable names, then the built-in ports",
         {"ttyS0 type=4", "ttyUSB0", "ttyUSB1", "ttyACM0", "usb-Prolific_B -> ttyUSB0",
          "usb-FTDI_A -> ttyUSB1", "usb-Arduino_C -> ttyACM0"},
         {"/dev/serial/by-id/usb-Arduino_C = ttyACM0", "/dev/serial/by-id/usb-FTDI_A = ttyUSB1",
          "/dev/serial/by-id/usb-Prolific_B = ttyUSB0", "/dev/ttyS0 = ttyS0"}},
        {"a stale link is skipped, a device with two names is listed once, one without a "
         "stable name is listed with the others",
         {"ttyUSB0", "ttyUSB3", "ttySAC1", "usb-Gone -> ttyUSB9", "usb-A-if00 -> ttyUSB0",
          "usb-A-port0 -> ttyUSB0"},
         {"/dev/serial/by-id/usb-A-if00 = ttyUSB0", "/dev/ttySAC1 = ttySAC1",
          "/dev/ttyUSB3 = ttyUSB3"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir root;
        for (const std::string& entry : c.tree) addFakeSerialEntry(root.path(), entry);
        Texts found;
        for (const rw::SerialDevice& device : rw::discoverSerialDevices(root.path())) {
            found.push_back(device.path + " = " + device.name);
        }
        EXPECT_EQ(found, c.expected);
    }
}

TEST(SerialPortPaths, GivenPathsWinTheOtherNumbersTakeThePresentDevicesOrKeepTheDefault) {
    const rw::SerialDevice usbA{"/dev/serial/by-id/usb-A", "ttyUSB0"};
    const rw::SerialDevice usbB{"/dev/serial/by-id/usb-B", "ttyUSB1"};
    const rw::SerialDevice uart{"/dev/ttyS0", "ttyS0"};
    std::vector<rw::SerialDevice> many;
    for (int i = 0; i < 9; ++i) many.push_back({"/dev/ttyUSB" + std::to_string(i), "x"});
    const struct {
        const char* name;
        rw::ComPortPaths given;
        std::vector<rw::SerialDevice> present;
        Texts expected;  // COM1 up: "path name" and "+" when kept; the rest are defaults
    } cases[] = {
        {"nothing given, nothing present", {}, {}, {}},
        {"devices fill the numbers in order, except one a given path names (by /dev/NAME)",
         {"/dev/ttyACM7", "", "/dev/ttyUSB0"},
         {usbA, usbB, uart},
         {"/dev/ttyACM7 ttyACM7 +", "/dev/serial/by-id/usb-B ttyUSB1 +", "/dev/ttyUSB0 ttyUSB0 +",
          "/dev/ttyS0 ttyS0 +"}},
        {"a given stable name shows its device while present, its own name while not",
         {"", "/dev/serial/by-id/usb-A", "/dev/serial/by-id/usb-Gone"},
         {usbA},
         {"/dev/ttyS0 ttyS0", "/dev/serial/by-id/usb-A ttyUSB0 +",
          "/dev/serial/by-id/usb-Gone usb-Gone +"}},
        {"more devices than numbers", {}, many, Texts(8, "+")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<rw::ComPort> ports = rw::mapComPorts(c.given, c.present);
        ASSERT_EQ(ports.size(), 8u);
        for (size_t i = 0; i < ports.size(); ++i) {
            const rw::ComPort& port = ports[i];
            std::string expected = "/dev/ttyS" + std::to_string(i) + " ttyS" + std::to_string(i);
            if (i < c.expected.size()) expected = c.expected[i];
            if (expected == "+") expected = many[i].path + " x +";
            EXPECT_EQ(port.path + " " + port.name + (port.kept ? " +" : ""), expected)
                << "COM" << i + 1;
        }
    }
    EXPECT_EQ(rw::defaultSerialDevicePath(8), "/dev/ttyS7");
}

}  // namespace
}  // namespace rwtest
