#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace rw {

// One controller model: its name, model code and flash region geometry.
// The region runs from flashStart up to (flashStart's 64 KiB page) + flashEnd,
// exclusive; its last byte holds the image CRC.
struct DeviceModel {
    std::string name;
    uint16_t code = 0;
    int32_t eraseWaitSeconds = 0;
    int32_t flashEnd = 0;    // end of the region, counted from the start of its page
    int32_t flashStart = 0;  // first address; high 16 bits = page, low 16 bits = offset

    int32_t page() const { return (flashStart >> 16) & 0xFFFF; }
    int32_t pageOffset() const { return flashStart & 0xFFFF; }
    // Full device address of the region's last byte (where the CRC goes).
    int32_t crcAddress() const { return page() * 65536 + flashEnd - 1; }
};

using ModelTable = std::vector<std::unique_ptr<DeviceModel>>;

// The five built-in models, in table order (the setting `Device` stores an index).
ModelTable buildModelTable();

// The row named `name` exactly, or null.
const DeviceModel* findModel(const ModelTable& table, const std::string& name);

}  // namespace rw
