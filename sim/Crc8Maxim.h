#pragma once
#include <cstddef>
#include <cstdint>

namespace rw::sim {

// CRC-8/MAXIM (Dallas 1-Wire): polynomial x^8 + x^5 + x^4 + 1 processed least
// significant bit first (reflected constant 0x8C), initial value 0, no final
// xor. Computed bit by bit, deliberately without a table, so that it cannot
// share a wrong table with the programmer it checks. "123456789" gives 0xA1.
uint8_t crc8Maxim(const uint8_t* data, size_t length, uint8_t crc = 0);

}  // namespace rw::sim
