#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace rw {

struct DeviceModel;
struct FlashJob;

// Full device addresses `first` to `last`, both included.
struct AddressRange {
    int64_t first = 0;
    int64_t last = 0;
    bool operator==(const AddressRange&) const = default;
};

// Data bytes of a file that the image does not keep: outside the model's region.
struct IgnoredBytes {
    int64_t count = 0;                 // distinct addresses
    std::vector<AddressRange> ranges;  // ascending, neither overlapping nor adjacent
};

// One Intel HEX file read for one model. Loaded when `error` is empty: then
// image[k] is the byte for device address flashStart + k (flashEnd bytes in all,
// the first imageLength of them from the file). Otherwise `error` says what is
// wrong and `line` where (1-based line of the offending record; 0 when the file
// could not be opened or read); `image` then holds whatever was stored before the
// failure, or is null when the file could not be opened. `ignored` is filled once
// the file has been read up to its end record.
struct HexLoad {
    std::unique_ptr<uint8_t[]> image;
    int32_t imageLength = 0;
    int line = 0;
    std::string error;
    IgnoredBytes ignored;
    std::string fileSha256;  // of the whole file; empty when it could not be read

    bool loaded() const { return error.empty(); }
};

// Value 0..15 of a hex digit character ('0'-'9', 'A'-'F', 'a'-'f'), or -1 for
// any other character (end of file included): the loader rejects such records.
int hexDigitValue(int ch);

// Reads the Intel HEX file at `path` into a flat image of `model`'s flash region.
// Fails on: a file that cannot be opened or read, a non-hex character inside a
// record, a record checksum mismatch, a record type above 05, a file that ends
// before its end record, data bytes of which none lies inside the region, and
// data at the region's last byte (where the CRC goes) that is neither 0xFF nor
// the image's own CRC: the device could never verify such an image.
HexLoad loadHex(const std::string& path, const DeviceModel& model);

// loadHex of job.imagePath for job.model, into the job: allocates job.image and
// sets job.imageLength, which must be 0 on entry. True when the image was
// loaded. On failure the buffer stays in job.image (the worker frees it) and
// imageLength is unchanged.
// `fileSha256`, when given, receives the SHA-256 of the file (empty when it
// could not be read).
bool loadHexImage(FlashJob& job, std::string* fileSha256 = nullptr);

// CRC-8/MAXIM of the model's flash region without its last byte (which receives
// the CRC): image[0 .. min(imageLength, region size - 1)), then 0xFF for every
// remaining byte of the region before its last byte. A null image counts as empty.
uint8_t imageCrc8(const uint8_t* image, int32_t imageLength, const DeviceModel& model);
uint8_t imageCrc8(const FlashJob& job);

// One line for the operator about `ignored`, e.g. "8120 bytes outside the region
// 0x2000-0x79FF ignored: 0x0000-0x1FAF, 0x7A00-0x7A0F"; the first four ranges
// are listed, the rest counted ("and 3 more ranges"). Empty when nothing was ignored.
std::string formatIgnoredBytes(const IgnoredBytes& ignored, const DeviceModel& model);

}  // namespace rw
