// The request/reply protocol on a fake link: frames as they go on the wire,
// reply validation, tries, pauses and replies that arrive in pieces.
#include <gtest/gtest.h>

#include "engine/DeviceModel.h"
#include "engine/FlashJob.h"
#include "engine/HexImage.h"
#include "engine/Protocol.h"
#include "engine/WorkerServices.h"
#include "support/FakeClock.h"
#include "support/FakeLink.h"
#include "support/ReplyBuilder.h"
#include "support/TestImages.h"

namespace rwtest {
namespace {

constexpr int kOk = rw::LINK_OK, kFail = rw::LINK_FAIL, kTimeout = rw::LINK_TIMEOUT,
              kRefused = rw::LINK_DEVICE_REFUSED, kBadSum = rw::LINK_BAD_CHECKSUM;
enum ModelRow { KVTC_4400, KVTC_4255, KVTC_3000, KVTC_5140, KVTC_5240 };  // the table's order

// Device 101 on a KVTC/1-4400, a request sequence of its own at 0, pauses on a fake clock.
class ProtocolTest : public ::testing::Test {
  protected:
    ProtocolTest() {
        services.clock = &clock;
        services.requestSequence = &sequence;
        job.services = &services;
        job.deviceAddress = 101;
        job.replyTimeoutMs = 3000;
        useModel(KVTC_4400);
    }
    void useModel(int row) { job.model = models[static_cast<size_t>(row)].get(); }
    void giveImage(int length) {  // `length` pattern bytes
        const std::vector<uint8_t> bytes = patternBytes(static_cast<size_t>(length));
        job.image = std::make_unique<uint8_t[]>(static_cast<size_t>(job.model->flashEnd));
        std::copy(bytes.begin(), bytes.end(), job.image.get());
        job.imageLength = length;
    }

    FakeClock clock;
    std::atomic<uint8_t> sequence{0};
    rw::WorkerServices services;
    rw::ModelTable models = rw::buildModelTable();
    rw::FlashJob job{};
    FakeLink link;
};

TEST_F(ProtocolTest, RequestsGoOnTheWireByteForByteWithTheSequenceOfTheRequestNotTheTry) {
    link.setResponder(acceptingResponder());
    EXPECT_EQ(rw::setProgrammingMode(link, job, true), kOk);
    EXPECT_EQ(rw::sendDeviceCommand(link, job, rw::CMD_PERMISSION), kOk);
    for (uint8_t command : {rw::CMD_MODE, rw::CMD_FLASH_WRITE, uint8_t{0x00}, uint8_t{0xFF}})
        EXPECT_EQ(rw::sendDeviceCommand(link, job, command), kFail) << "undefined: not sent";
    useModel(KVTC_5140);
    giveImage(1000);
    link.queueReplyPieces({});
    link.queueReplyPieces({});  // no answer twice: the first of these requests needs three tries
    for (uint8_t command : {rw::CMD_FLASH_INIT, rw::CMD_FLASH_VERIFY, rw::CMD_PERMISSION})
        ASSERT_EQ(rw::sendDeviceCommand(link, job, command), kOk);
    const uint8_t crc = rw::imageCrc8(job);
    EXPECT_EQ(rw::setProgrammingMode(link, job, true), kFail) << "the 2-series has no mode";
    // Mode 38 settles for 1250 ms after it, mode 42 not; the reply wait is the services' one.
    services.modeReplyTimeoutMs = 150;
    for (const ModelRow row : {KVTC_3000, KVTC_4255}) {
        useModel(row);
        EXPECT_EQ(rw::setProgrammingMode(link, job, false), kOk);
    }
    EXPECT_EQ(std::pair(job.replyTimeoutMs, clock.sleeps()),
              std::pair(150, std::vector<int64_t>{1250, 1250}));
    const Bytes init = buildRequest(101, 2, 0xF2, {0x51, 0x40}),
                perm = buildRequest(101, 1, 0x7F, {0x44, 0});
    EXPECT_EQ(
        link.writes(),
        (std::vector<Bytes>{
            buildRequest(101, 0, 0x4B, {0x01, 38, 1}), perm, init, init, init,
            buildRequest(101, 3, 0xF3, {crc}), buildRequest(101, 0, 0x7F, {0x51, 0x40}),
            buildRequest(101, 1, 0x4B, {0x01, 38, 0}), buildRequest(101, 2, 0x4B, {0x01, 42, 0})}));
}

TEST_F(ProtocolTest, BlocksOfAtMost128BytesGoToTheRegionAddressAndTheCrcToItsLastByte) {
    // {model, image length, bytes written, block length (0: the CRC byte), address}
    using Case = std::tuple<ModelRow, int, int, int, uint32_t>;
    const Case cases[] = {{KVTC_4400, 300, 0, 128, 0x002000},
                          {KVTC_4255, 305, 300, 5, 0x00112C},
                          {KVTC_5240, 0x1FEFF, 0x1FE80, 127, 0xFEFE80},
                          {KVTC_5240, 200, 0, 0, 0xFEFEFF}};
    link.setResponder(acceptingResponder());
    for (const auto& [row, imageLength, bytesWritten, count, address] : cases) {
        useModel(row);
        giveImage(imageLength);
        job.bytesWritten = bytesWritten;
        sequence = 0;
        ASSERT_EQ(count ? rw::writeBlock(link, job) : rw::writeCrcByte(link, job), kOk);
        Bytes payload = {uint8_t(address >> 16), uint8_t(address >> 8), uint8_t(address), 0,
                         uint8_t(std::max(count, 1))};
        for (int i = 0; i < count; ++i) payload.push_back(job.image[size_t(bytesWritten + i)]);
        if (count == 0) payload.push_back(rw::imageCrc8(job));
        EXPECT_EQ(link.writes().back(), buildRequest(101, 0, 0xF0, payload)) << address;
        EXPECT_EQ(job.bytesWritten, bytesWritten + count);
    }
    // No block when nothing is left or the image overruns the buffer; a refused one
    // does not advance.
    FakeLink refusing;
    refusing.setResponder([](const Bytes& f) { return ReplyPieces{buildReply(f, {.status = 1})}; });
    for (const auto& [written, length] :
         {std::pair{200, 200}, {0, job.model->flashEnd + 1}, {128, 200}}) {
        job.bytesWritten = written;
        job.imageLength = length;
        EXPECT_EQ(rw::writeBlock(refusing, job), kFail);
    }
    EXPECT_EQ(std::pair(int(job.bytesWritten), refusing.writes().size()),
              std::pair(128, size_t{3}));
}

// A request, its reply, and replies to earlier requests (sequence 1) in both forms.
const Bytes kInit = buildRequest(101, 2, 0xF2, {0x44, 0x00}), kInitOk = buildReply(kInit),
            kStaleFull = buildReply(kInit, {.stale = true});
const Bytes kMode = buildRequest(101, 1, 0x4B, {0x01, 0x26, 0x01}), kStaleShort = buildReply(kMode);
// Device 242: the checksum of a short stale reply is 0xF2, a full reply's command echo.
const Bytes kInit242 = buildRequest(242, 2, 0xF2, {0x44, 0x00});
const Bytes kStaleShort242 = buildReply(buildRequest(242, 1, 0x4B, {0x01, 0x26, 0x01}));

// `bytes` with byte `at` set to `value` and the checksum made to match again.
Bytes changed(Bytes bytes, size_t at, uint8_t value) {
    bytes.at(at) = value;
    bytes.back() = byteSum(bytes, bytes.size() - 1);
    return bytes;
}
Bytes plus(Bytes bytes, const Bytes& extra) {
    bytes.insert(bytes.end(), extra.begin(), extra.end());
    return bytes;
}

TEST_F(ProtocolTest, CheckReplyAppliesTheTestsInOrder) {
    const Bytes refused42 = buildReply(kInit, {.status = 0x42});
    const std::tuple<const char*, Bytes, ReplyPieces, int> cases[] = {
        {"silence", kInit, {}, kTimeout},
        {"start byte", kInit, {changed(kInitOk, 0, 0x03)}, kFail},
        {"device low", kInit, {changed(kInitOk, 4, 0x66)}, kFail},
        {"no acknowledge", kInit, {buildReply(kInit, {.acknowledge = 0x15})}, kFail},
        {"mode checksum", kMode, {buildReply(kMode, {.badChecksum = true})}, kBadSum},
        {"command echo", kInit, {changed(kInitOk, 6, 0xF3)}, kFail},
        {"refused before checksum", kInit, {buildReply(kInit, {0x42, true})}, kRefused},
        {"full checksum", kInit, {buildReply(kInit, {.badChecksum = true})}, kBadSum},
        {"checksum missing", kInit, {Bytes(kInitOk.begin(), kInitOk.end() - 1)}, kBadSum},
        {"trailing bytes", kInit, {plus(kInitOk, {0x02, 0xFF, 0x00, 0x13})}, kOk},
        // Replies to earlier requests are skipped; the reply behind them is checked.
        {"stale alone", kInit, {kStaleFull}, kTimeout},
        {"short stale, reply bytewise", kInit, bytewise(plus(kStaleShort, kInitOk)), kOk},
        {"two stale, refused", kInit, {plus(kStaleShort, kStaleFull), refused42}, kRefused},
        {"stale, bad checksum", kInit, {buildReply(kInit, {0, true, true}), kInitOk}, kFail},
        {"stale of another device", kInit, {changed(kStaleFull, 4, 0x66), kInitOk}, kFail},
        {"sequence out of range", kInit, {changed(kInitOk, 2, 0xF7), kInitOk}, kFail},
        {"short stale like a command", kInit242, {plus(kStaleShort242, buildReply(kInit242))}, kOk},
        {"full stale bytewise", kInit242,
         bytewise(plus(buildReply(kInit242, {.stale = true}), buildReply(kInit242))), kOk},
        {"short stale like a command alone", kInit242, {kStaleShort242}, kTimeout},
    };
    for (const auto& [name, request, reply, expected] : cases) {
        FakeLink device;
        std::copy(request.begin(), request.end(), job.txFrame);
        device.queueReplyPieces(reply);
        device.write(request.data(), static_cast<uint32_t>(request.size()));
        job.replyStatus = 0;
        EXPECT_EQ(rw::checkReply(device, job), expected) << name;
        EXPECT_EQ(job.replyStatus, expected == kRefused ? 0x42 : 0) << "the status is kept";
    }
    // A link that has a stale reply ready at every read cannot hold the wait open.
    struct FloodingLink : FakeLink {
        int32_t readWithTimeout(uint8_t* buffer, uint32_t, uint32_t) override {
            std::copy(kStaleFull.begin(), kStaleFull.end(), buffer);
            return static_cast<int32_t>(kStaleFull.size());
        }
    } flooding;
    std::copy(kInit.begin(), kInit.end(), job.txFrame);
    job.replyTimeoutMs = 20;
    EXPECT_EQ(rw::checkReply(flooding, job), kTimeout);
}

TEST_F(ProtocolTest, TriesRepeatTheSameFrameAfterOnePurgeAndTheLastTryDecides) {
    giveImage(16);
    for (const auto& [command, tries] :
         {std::pair{rw::CMD_PERMISSION, 1}, {rw::CMD_FLASH_INIT, 3}, {rw::CMD_FLASH_VERIFY, 3}}) {
        FakeLink silent;
        EXPECT_EQ(rw::sendDeviceCommand(silent, job, command), kFail);
        EXPECT_EQ(silent.writes(), std::vector<Bytes>(size_t(tries), silent.writes()[0]));
        EXPECT_EQ(silent.purgeCount(), 1);
    }
    EXPECT_EQ(sequence, 3) << "failed requests still advance the sequence";
    const Bytes request = buildRequest(101, 0, 0xF2, {0x44, 0x00});
    const Bytes ok = buildReply(request), refused = buildReply(request, {.status = 1});
    const std::pair<std::vector<ReplyPieces>, int> cases[] = {
        {{{refused}, {refused}, {refused}}, kRefused},
        {{{}, {}, {refused}}, kRefused},
        {{{refused}, {refused}, {buildReply(request, {.badChecksum = true})}}, kFail},
        {{{refused}, {}, {ok}}, kOk},
        // Not the earlier try's checksum byte completes a reply cut short.
        {{{changed(ok, 6, 0xF3)}, {Bytes(ok.begin(), ok.end() - 1)}, {}}, kFail},
    };
    for (const auto& [script, expected] : cases) {
        sequence = 0;
        job.requestCount = job.retryCount = 0;
        FakeLink device;
        for (const ReplyPieces& reply : script) device.queueReplyPieces(reply);
        EXPECT_EQ(rw::sendDeviceCommand(device, job, rw::CMD_FLASH_INIT), expected);
        EXPECT_EQ(std::tuple(device.writes().size(), job.requestCount, job.retryCount),
                  std::tuple(size_t{3}, 1, 2));
    }
}

}  // namespace
}  // namespace rwtest
