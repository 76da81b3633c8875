#pragma once
#include <cstdint>

namespace rw {

struct FlashJob;

// Value 0..15 of a hex digit character ('0'-'9', 'A'-'F', 'a'-'f'), or -1 for
// any other character (end of file included): the loader rejects such records.
int hexDigitValue(int ch);

// Loads job.imagePath (Intel HEX) into a flat image of job.model's flash region:
// allocates job.image (flashEnd bytes, zero-filled) and raises job.imageLength,
// which must be 0 on entry. True when the image was loaded. On failure the
// buffer stays in job.image (the worker frees it) and imageLength is unchanged.
// Fails on: an unreadable file, a non-hex character inside a record, a record
// checksum mismatch, a record type above 05, a file that ends before its end
// record, and data bytes of which none lies inside the region.
bool loadHexImage(FlashJob& job);

// CRC-8/MAXIM of the model's flash region without its last byte (which receives
// the CRC): image[0 .. min(imageLength, region size - 1)), then 0xFF for every
// remaining byte of the region before its last byte.
uint8_t imageCrc8(const FlashJob& job);

}  // namespace rw
