// The byte and string operations that every link inherits from Transport.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "base/Codes.h"
#include "link/Transport.h"

namespace rwtest {
namespace {

// Records the lengths handed to write and read; write takes `writeResult` bytes.
class ScriptedLink : public rw::Transport {
  public:
    uint32_t writeResult = 0;
    std::vector<uint32_t> writeLengths, readCapacities;
    std::vector<uint8_t> readBytes;

    int purgeInput() override { return 0; }
    int purgeOutput() override { return 0; }
    uint32_t commErrors() override { return 0; }
    int32_t outputPending() override { return 0; }
    int32_t inputAvailable() override { return readBytes.empty() ? 0 : 1; }
    int32_t readWithTimeout(uint8_t*, uint32_t, uint32_t) override { return rw::LINK_TIMEOUT; }
    uint32_t read(uint8_t* buffer, uint32_t capacity) override {
        readCapacities.push_back(capacity);
        const auto count = std::min<uint32_t>(capacity, static_cast<uint32_t>(readBytes.size()));
        std::copy_n(readBytes.begin(), count, buffer);
        return count;
    }
    uint32_t write(const uint8_t*, uint32_t length) override {
        writeLengths.push_back(length);
        return writeResult;
    }
};

TEST(Transport, WriteStringAndWriteByteReportWhatWriteTook) {
    for (const uint32_t taken : {0u, 1u, 2u}) {
        ScriptedLink link;
        link.writeResult = taken;
        EXPECT_EQ(link.writeString("abcdef"), taken);
        EXPECT_EQ(link.writeByte(0x7E), taken == 1 ? 0 : rw::LINK_FAIL) << taken;
        EXPECT_EQ(link.writeLengths, (std::vector<uint32_t>{6, 1})) << "no terminator sent";
    }
}

TEST(Transport, ReadByteGivesTheWholeByteRangeOrTimeoutFromOneRead) {
    for (const int value : {0x00, 0x7F, 0xFF, -1}) {
        ScriptedLink link;
        if (value >= 0) link.readBytes = {static_cast<uint8_t>(value)};
        EXPECT_EQ(link.readByte(), value >= 0 ? value : rw::LINK_TIMEOUT) << value;
        EXPECT_EQ(link.readCapacities, std::vector<uint32_t>{1}) << "a single read, no waiting";
    }
}

}  // namespace
}  // namespace rwtest
