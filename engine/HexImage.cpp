#include "engine/HexImage.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

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
        table[index] = crc;
    }
    return table;
}

constexpr std::array<uint8_t, 256> CRC_TABLE = makeCrcTable();

enum RecordType : int {
    RECORD_DATA = 0x00,
    RECORD_END_OF_FILE = 0x01,
    RECORD_EXTENDED_SEGMENT = 0x02,
    RECORD_START_SEGMENT = 0x03,
    RECORD_EXTENDED_LINEAR = 0x04,
    RECORD_START_LINEAR = 0x05,
};

// One pass over an Intel HEX file into a page-indexed image buffer. Every byte
// read (count, address, type, payload, checksum) is added to the running sum,
// so a record is intact when the sum is 0 modulo 256.
class HexParser {
  public:
    HexParser(CharReader& reader, const DeviceModel& model, uint8_t* image)
        : reader_(reader),
          image_(image),
          flashEnd_(model.flashEnd),
          pageBase_(static_cast<int64_t>(model.page()) * 65536) {}

    // Reads records up to the end record. False on any malformed record.
    bool run() {
        for (;;) {
            Step step = readRecord();
            if (step == Step::Fail) return false;
            if (step == Step::End) return true;
        }
    }

    // One past the highest page index that received a byte, or 0.
    int64_t endIndex() const { return endIndex_; }
    // The file supplied data bytes (stored or dropped).
    bool sawData() const { return sawData_; }

  private:
    enum class Step { Next, End, Fail };

    bool findRecordStart() {
        for (;;) {
            int ch = reader_.get();
            if (ch < 0) return false;
            if (ch == ':') return true;
        }
    }

    int readByte() {
        int high = hexDigitValue(reader_.get());
        if (high < 0) return -1;
        int low = hexDigitValue(reader_.get());
        if (low < 0) return -1;
        int value = high * 16 + low;
        sum_ += value;
        return value;
    }

    int readWord() {
        int high = readByte();
        if (high < 0) return -1;
        int low = readByte();
        if (low < 0) return -1;
        return high * 256 + low;
    }

    Step readRecord() {
        if (!findRecordStart()) return Step::Fail;
        sum_ = 0;
        int length = readByte();
        int address = readWord();
        int type = readByte();
        if (length < 0 || address < 0 || type < 0) return Step::Fail;
        if (!readPayload(type, length, address)) return Step::Fail;
        if (readByte() < 0 || (sum_ & 0xFF) != 0) return Step::Fail;
        // A record of length 0 of any type ends the file, as the end record does.
        return (length == 0 || type == RECORD_END_OF_FILE) ? Step::End : Step::Next;
    }

    bool readPayload(int type, int length, int address) {
        switch (type) {
            case RECORD_DATA:
                return readData(length, address);
            case RECORD_EXTENDED_SEGMENT:
            case RECORD_EXTENDED_LINEAR:
                // Both carry exactly one 16-bit word whatever their count says.
                return readExtendedAddress(type);
            case RECORD_END_OF_FILE:
            case RECORD_START_SEGMENT:
            case RECORD_START_LINEAR:
                // Start addresses mean nothing to a flash image; their bytes are
                // only checksummed, never stored.
                return skipBytes(length);
            default:
                return false;
        }
    }

    bool readExtendedAddress(int type) {
        int upper = readWord();
        if (upper < 0) return false;
        // Relative to the model's page; 64-bit so that no page/upper pair overflows.
        int64_t absolute = type == RECORD_EXTENDED_LINEAR ? static_cast<int64_t>(upper) * 65536
                                                          : static_cast<int64_t>(upper) * 16;
        base_ = absolute - pageBase_;
        return true;
    }

    bool readData(int length, int address) {
        if (length > 0) sawData_ = true;
        for (int k = 0; k < length; ++k) {
            int value = readByte();
            if (value < 0) return false;
            int64_t index = base_ + address + k;
            if (index < 0 || index >= flashEnd_) continue;  // outside the page's buffer
            image_[index] = static_cast<uint8_t>(value);
            endIndex_ = std::max(endIndex_, index + 1);
        }
        return true;
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
    const int64_t pageBase_;
    int64_t base_ = 0;
    int64_t endIndex_ = 0;
    int sum_ = 0;
    bool sawData_ = false;
};

}  // namespace

int hexDigitValue(int ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    return -1;
}

bool loadHexImage(FlashJob& job) {
    const DeviceModel* model = job.model;
    if (model == nullptr || model->flashEnd <= 0) return false;
    // A path that fills the whole field without its terminator is not a path.
    if (std::memchr(job.imagePath, '\0', sizeof job.imagePath) == nullptr) return false;
    CharReader reader;
    if (!reader.open(job.imagePath)) return false;

    job.image = std::make_unique<uint8_t[]>(static_cast<size_t>(model->flashEnd));
    HexParser parser(reader, *model, job.image.get());
    if (!parser.run()) return false;

    const int64_t lo = model->pageOffset();
    const int64_t endIndex = parser.endIndex();
    // Data that all fell outside the region belongs to another code location;
    // an empty image would erase the device and report success.
    if (parser.sawData() && endIndex <= lo) return false;
    if (endIndex <= lo) return true;  // only an end record: the empty image

    const int64_t length = endIndex - lo;
    if (lo > 0) std::memmove(job.image.get(), job.image.get() + lo, static_cast<size_t>(length));
    job.imageLength = static_cast<int32_t>(length);
    return true;
}

uint8_t imageCrc8(const FlashJob& job) {
    const DeviceModel* model = job.model;
    if (model == nullptr) return 0;
    // The region's last byte receives the CRC, so it is never part of it.
    const int64_t covered =
        std::max<int64_t>(0, int64_t{model->flashEnd} - model->pageOffset() - 1);
    int64_t fromImage = std::clamp<int64_t>(job.imageLength, 0, covered);
    if (job.image == nullptr) fromImage = 0;

    uint8_t crc = 0;
    const uint8_t* image = job.image.get();
    for (int64_t k = 0; k < fromImage; ++k) crc = CRC_TABLE[crc ^ image[k]];
    for (int64_t k = fromImage; k < covered; ++k) crc = CRC_TABLE[crc ^ 0xFF];
    return crc;
}

}  // namespace rw
