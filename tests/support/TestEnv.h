#pragma once
// Shared helpers for tests: temporary folders and a private environment, so no
// test ever reads or writes the user's own settings, data folder or devices.
#include <filesystem>
#include <string>

namespace rwtest {

// A fresh folder under the system temporary folder, removed with the object.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }

  private:
    std::filesystem::path path_;
};

// Writes text to a file, creating parent folders; returns the path.
std::filesystem::path writeFile(const std::filesystem::path& path, const std::string& text);
// The bytes of a file; empty when it cannot be read.
std::string readFile(const std::filesystem::path& path);

// Adds one entry to a fake device tree under root, as Linux shows serial
// devices: "ttyS0 type=4" (a terminal with a device and its UART type),
// "ttyUSB0" (with a device, no type), "tty1 nodevice", or "usb-FTDI_A -> ttyUSB0"
// (a stable name in dev/serial/by-id linking to the kernel's device).
void addFakeSerialEntry(const std::filesystem::path& root, const std::string& entry);

}  // namespace rwtest
