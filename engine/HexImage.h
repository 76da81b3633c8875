#pragma once
#include <cstdint>

namespace rw {

struct FlashJob;

// Value 0..15 of a hex digit character ('0'-'9', 'A'-'F', 'a'-'f'), or -1 for
// any other character (end of file included): the loader rejects such records.
int hexDigitValue(int ch);

// Loads job.imagePath (Intel HEX) into a flat image of job.model's flash region:
// allocates job.image (flashEnd bytes, zero-filled) and raises job.imageLength,
// which must be 0 on entry. True when the image was loaded.
bool loadHexImage(FlashJob& job);

// CRC-8/MAXIM of the model's flash region without its last byte: the image,
// then 0xFF for every byte of the region after imageLength.
uint8_t imageCrc8(const FlashJob& job);

}  // namespace rw
