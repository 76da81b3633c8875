#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace rw::sim {

// One controller model as the simulator knows it: its name, model code and
// flash region. The region starts at flashStart and ends (exclusive) at
// flashEnd counted from the start of the 64 KiB page that holds flashStart;
// its last byte holds the image CRC.
struct SimModel {
    std::string name;
    uint16_t code = 0;
    uint32_t flashStart = 0;
    uint32_t flashEnd = 0;
    int defaultEraseMs = 0;  // how long a flash initialise keeps the device silent

    uint32_t regionStart() const { return flashStart; }
    uint32_t regionEnd() const { return (flashStart & 0xFFFF0000u) + flashEnd; }
    uint32_t regionSize() const { return regionEnd() - regionStart(); }
    uint32_t crcAddress() const { return regionEnd() - 1; }
};

// The five models, in table order.
const std::vector<SimModel>& simModels();

// The model named exactly `name`, or null.
const SimModel* findSimModel(const std::string& name);

}  // namespace rw::sim
