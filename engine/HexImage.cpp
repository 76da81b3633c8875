#include "engine/HexImage.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/CharReader.h"
#include "engine/FlashJob.h"

namespace rw {

namespace {

// CRC-8/MAXIM (Dallas 1-Wire): reflected polynomial 0x8C, initial value 0, no final XOR.
constexpr std::array<uint8_t, 256> makeCrcTable() {
    std::array<uint8_t, 256> table{};
    for (int index = 0; index < 256; ++index) {
        uint8_t crc = static_cast<uint8_t>(index);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) ? static_cast<uint8_t>((crc >> 1) ^ 0x8C)
                            : static_cast<uint8_t>(crc >> 1);
        }
        table[static_cast<size_t>(index)] = crc;
    }
    return table;
}

constexpr std::array<uint8_t, 256> kCrcTable = makeCrcTable();

enum RecordType : int {
    kRecordData = 0x00,
    kRecordEndOfFile = 0x01,
    kRecordExtendedSegment = 0x02,
    kRecordStartSegment = 0x03,
    kRecordExtendedLinear = 0x04,
    kRecordStartLinear = 0x05,
};

std::string printed(const char* format, auto... values) {
    char text[160];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

// A device address as the operator reads it: four digits for the models inside
// the first 64 KiB, six for the paged ones.
std::string address(int64_t value, const DeviceModel& model) {
    return printed("0x%0*llX", model.page() == 0 ? 4 : 6, static_cast<long long>(value));
}

std::string range(int64_t first, int64_t last, const DeviceModel& model) {
    return first == last ? address(first, model)
                         : address(first, model) + "-" + address(last, model);
}

std::string regionText(const DeviceModel& model) {
    return range(model.flashStart, model.crcAddress(), model);
}

// One pass over an Intel HEX file into the image of the model's region. Every
// byte read (count, address, type, payload, checksum) is added to the running
// sum, so a record is intact when the sum is 0 modulo 256. Data bytes are placed
// by page index (address from the start of the region's 64 KiB page); those
// outside the region are counted as ignored.
class HexParser {
  public:
    HexParser(CharReader& reader, const DeviceModel& model, uint8_t* image)
        : reader_(reader),
          image_(image),
          flashEnd_(model.flashEnd),
          lo_(model.pageOffset()),
          pageBase_(static_cast<int64_t>(model.page()) * 65536) {}

    // Reads records up to the end record. False on a malformed record or file:
    // error() says what, line() where.
    bool run() {
        for (;;) {
            Step step = readRecord();
            if (step == Step::Fail) return false;
            if (step == Step::End) return true;
        }
    }

    const std::string& error() const { return error_; }
    int line() const { return errorLine_; }
    // Bytes from the region's start up to and including the highest one stored.
    int32_t imageLength() const { return static_cast<int32_t>(length_); }
    // Line of the first data record, or 0 when the file holds no data bytes.
    int firstDataLine() const { return firstDataLine_; }
    // Line of the last record that supplied the region's last byte, or 0.
    int crcByteLine() const { return crcByteLine_; }
    // The ignored bytes, merged into ascending ranges.
    IgnoredBytes ignored() {
        std::sort(dropped_.begin(), dropped_.end(),
                  [](const AddressRange& a, const AddressRange& b) { return a.first < b.first; });
        IgnoredBytes result;
        for (const AddressRange& run : dropped_) {
            if (!result.ranges.empty() && run.first <= result.ranges.back().last + 1) {
                result.ranges.back().last = std::max(result.ranges.back().last, run.last);
            } else {
                result.ranges.push_back(run);
            }
        }
        for (const AddressRange& run : result.ranges) result.count += run.last - run.first + 1;
        return result;
    }

  private:
    enum class Step { Next, End, Fail };

    Step fail(std::string why) {
        error_ = std::move(why);
        errorLine_ = recordLine_;
        return Step::Fail;
    }

    // Skips line ends, blanks and text up to the next ':', counting lines.
    bool findRecordStart() {
        for (;;) {
            const int ch = reader_.get();
            if (ch == ':') break;
            if (ch < 0) return false;
            if (ch == '\n') ++line_;
            previous_ = ch;
        }
        previous_ = ':';
        recordLine_ = line_;
        return true;
    }

    // -1 (and the reason noted) for anything but a hex digit.
    int readDigit() {
        const int ch = reader_.get();
        const int value = hexDigitValue(ch);
        if (value < 0) badCharacter(ch);
        return value;
    }

    void badCharacter(int ch) {
        if (ch < 0) {
            fail("record cut short by the end of the file");
        } else if (ch == '\r' || ch == '\n') {
            fail("line ends inside a record");
        } else if (ch > ' ' && ch < 0x7F) {
            fail(printed("bad character '%c' in a record", ch));
        } else {
            fail(printed("bad character 0x%02X in a record", ch));
        }
    }

    int readByte() {
        const int high = readDigit();
        if (high < 0) return -1;
        const int low = readDigit();
        if (low < 0) return -1;
        const int value = high * 16 + low;
        sum_ += value;
        return value;
    }

    int readWord() {
        const int high = readByte();
        if (high < 0) return -1;
        const int low = readByte();
        if (low < 0) return -1;
        return high * 256 + low;
    }

    Step readRecord() {
        if (!findRecordStart()) {
            // Report the file's last line, not the empty one after its final line end.
            recordLine_ = previous_ == '\n' && line_ > 1 ? line_ - 1 : line_;
            return fail("the file ends before the end record");
        }
        sum_ = 0;
        int length, address, type;
        if ((length = readByte()) < 0 || (address = readWord()) < 0 || (type = readByte()) < 0)
            return Step::Fail;
        if (type > kRecordStartLinear) return fail(printed("unknown record type 0x%02X", type));
        if (!readPayload(type, length, address)) return Step::Fail;
        const int expected = -sum_ & 0xFF;
        const int checksum = readByte();
        if (checksum < 0) return Step::Fail;
        if (checksum != expected)
            return fail(
                printed("checksum mismatch: the record ends in 0x%02X, its bytes need 0x%02X",
                        checksum, expected));
        // A record of length 0 of any type ends the file, as the end record does.
        return (length == 0 || type == kRecordEndOfFile) ? Step::End : Step::Next;
    }

    bool readPayload(int type, int length, int address) {
        switch (type) {
            case kRecordData:
                return readData(length, address);
            case kRecordExtendedSegment:
            case kRecordExtendedLinear:
                // Both carry exactly one 16-bit word whatever their count says.
                return readExtendedAddress(type);
            default:
                // End and start address records mean nothing to a flash image;
                // their bytes are only checksummed, never stored.
                return skipBytes(length);
        }
    }

    bool readExtendedAddress(int type) {
        const int upper = readWord();
        if (upper < 0) return false;
        // Relative to the model's page; 64-bit so that no page/upper pair overflows.
        const int64_t absolute = type == kRecordExtendedLinear ? static_cast<int64_t>(upper) * 65536
                                                               : static_cast<int64_t>(upper) * 16;
        base_ = absolute - pageBase_;
        return true;
    }

    bool readData(int length, int address) {
        const int64_t first = base_ + address;  // page index of the record's first byte
        if (length > 0 && firstDataLine_ == 0) firstDataLine_ = recordLine_;
        if (first < flashEnd_ && first + length >= flashEnd_ && length > 0)
            crcByteLine_ = recordLine_;
        for (int k = 0; k < length; ++k) {
            const int value = readByte();
            if (value < 0) return false;
            const int64_t index = first + k;
            if (index >= lo_ && index < flashEnd_) {
                image_[index - lo_] = static_cast<uint8_t>(value);
                length_ = std::max(length_, index - lo_ + 1);
            } else {
                drop(pageBase_ + index);
            }
        }
        return true;
    }

    // Consecutive dropped bytes extend the last range; the ranges are merged at the end.
    void drop(int64_t deviceAddress) {
        if (!dropped_.empty() && dropped_.back().last + 1 == deviceAddress) {
            dropped_.back().last = deviceAddress;
        } else {
            dropped_.push_back({deviceAddress, deviceAddress});
        }
    }

    bool skipBytes(int length) {
        for (int k = 0; k < length; ++k) {
            if (readByte() < 0) return false;
        }
        return true;
    }

    CharReader& reader_;
    uint8_t* image_;
    const int64_t flashEnd_;
    const int64_t lo_;
    const int64_t pageBase_;
    int64_t base_ = 0;
    int64_t length_ = 0;
    int sum_ = 0;
    int line_ = 1;
    int previous_ = -1;
    int recordLine_ = 1;
    int errorLine_ = 0;
    int firstDataLine_ = 0;
    int crcByteLine_ = 0;
    std::string error_;
    std::vector<AddressRange> dropped_;
};

}  // namespace

int hexDigitValue(int ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    return -1;
}

HexLoad loadHex(const std::string& path, const DeviceModel& model) {
    HexLoad result;
    if (model.flashEnd <= 0) {
        result.error = "the model has no flash region";
        return result;
    }
    CharReader reader;
    if (!reader.open(path.c_str())) {
        result.error = std::string("cannot open: ") + std::strerror(errno);
        return result;
    }
    result.image = std::make_unique<uint8_t[]>(static_cast<size_t>(model.flashEnd));
    HexParser parser(reader, model, result.image.get());
    const bool parsed = parser.run();
    result.fileSha256 = reader.fileSha256();
    if (!parsed) {
        if (reader.readError() != 0) {
            result.error = std::string("cannot read: ") + std::strerror(reader.readError());
        } else {
            result.line = parser.line();
            result.error = parser.error();
        }
        return result;
    }
    result.ignored = parser.ignored();

    const int32_t length = parser.imageLength();
    // Data that all fell outside the region belongs to another code location;
    // an empty image would erase the device and report success.
    if (length == 0 && parser.firstDataLine() != 0) {
        result.line = parser.firstDataLine();
        result.error = "no data inside the region " + regionText(model);
        return result;
    }
    // The region's last byte receives the CRC. Flash writes only clear bits, so a
    // byte already written there keeps the CRC from verifying unless it is still
    // erased (0xFF) or already is the CRC; refuse before the device is touched.
    if (length == model.flashEnd - model.pageOffset()) {
        const uint8_t stored = result.image[static_cast<size_t>(length - 1)];
        const uint8_t crc = stored == 0xFF ? 0xFF : imageCrc8(result.image.get(), length, model);
        if (stored != crc) {
            result.line = parser.crcByteLine();
            result.error = printed(
                "data 0x%02X at the CRC byte %s: only 0xFF or the image CRC "
                "0x%02X can be verified there",
                stored, address(model.crcAddress(), model).c_str(), crc);
            return result;
        }
    }
    result.imageLength = length;
    return result;
}

bool loadHexImage(FlashJob& job, std::string* fileSha256) {
    if (job.model == nullptr) return false;
    // A path that fills the whole field without its terminator is not a path.
    if (std::memchr(job.imagePath, '\0', sizeof job.imagePath) == nullptr) return false;
    HexLoad result = loadHex(job.imagePath, *job.model);
    if (fileSha256 != nullptr) *fileSha256 = result.fileSha256;
    job.image = std::move(result.image);
    if (!result.loaded()) return false;
    job.imageLength = result.imageLength;
    return true;
}

uint8_t imageCrc8(const uint8_t* image, int32_t imageLength, const DeviceModel& model) {
    // The region's last byte receives the CRC, so it is never part of it.
    const int64_t covered = std::max<int64_t>(0, int64_t{model.flashEnd} - model.pageOffset() - 1);
    const int64_t fromImage = image == nullptr ? 0 : std::clamp<int64_t>(imageLength, 0, covered);

    uint8_t crc = 0;
    for (int64_t k = 0; k < fromImage; ++k) crc = kCrcTable[crc ^ image[k]];
    for (int64_t k = fromImage; k < covered; ++k) crc = kCrcTable[crc ^ 0xFF];
    return crc;
}

uint8_t imageCrc8(const FlashJob& job) {
    if (job.model == nullptr) return 0;
    return imageCrc8(job.image.get(), job.imageLength, *job.model);
}

std::string formatIgnoredBytes(const IgnoredBytes& ignored, const DeviceModel& model) {
    constexpr size_t kListed = 4;  // keeps the line short however scattered the bytes are
    if (ignored.count == 0) return {};
    std::string line = printed("%lld %s outside the region ", static_cast<long long>(ignored.count),
                               ignored.count == 1 ? "byte" : "bytes") +
                       regionText(model) + " ignored: ";
    for (size_t k = 0; k < ignored.ranges.size() && k < kListed; ++k) {
        if (k > 0) line += ", ";
        line += range(ignored.ranges[k].first, ignored.ranges[k].last, model);
    }
    if (ignored.ranges.size() > kListed) {
        const size_t more = ignored.ranges.size() - kListed;
        line += printed(" and %zu more %s", more, more == 1 ? "range" : "ranges");
    }
    return line;
}

}  // namespace rw
