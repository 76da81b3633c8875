#include "sim/Crc8Maxim.h"

namespace rw::sim {

uint8_t crc8Maxim(const uint8_t* data, size_t length, uint8_t crc) {
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) ? static_cast<uint8_t>((crc >> 1) ^ 0x8C)
                            : static_cast<uint8_t>(crc >> 1);
        }
    }
    return crc;
}

}  // namespace rw::sim
