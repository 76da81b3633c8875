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

// Model rows by table index.
enum ModelRow { KVTC_4400 = 0, KVTC_4255 = 1, KVTC_3000 = 2, KVTC_5140 = 3, KVTC_5240 = 4 };

// Device 101 on a KVTC/1-4400, a request sequence of its own at 0, pauses on a
// fake clock.
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
    // An image of `length` pattern bytes.
    void giveImage(int length) {
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

TEST_F(ProtocolTest, FirstRequestsOfAJobMatchTheReferenceExchangeByteForByte) {
    const Bytes modeReply = {0x02, 0xFF, 0xF8, 0x00, 0x65, 0x06, 0x64};
    const Bytes permissionReply = {0x02, 0xFF, 0xF9, 0x00, 0x65, 0x06, 0x7F, 0x00, 0xE4};
    link.queueReply(modeReply);
    link.queueReply(permissionReply);
    EXPECT_EQ(rw::setProgrammingMode(link, job, true), kOk);
    EXPECT_EQ(rw::sendDeviceCommand(link, job, rw::CMD_PERMISSION), kOk);
    const std::vector<Bytes> expected = {
        {0x02, 0x00, 0x65, 0xFF, 0xF8, 0x4B, 0x77, 0x01, 0x26, 0x01, 0x48},
        {0x02, 0x00, 0x65, 0xFF, 0xF9, 0x7F, 0x77, 0x44, 0x00, 0x99}};
    EXPECT_EQ(link.writes(), expected);
    // The reference reply builder that the other tests rely on reproduces the exchange.
    EXPECT_EQ(buildReply(expected[0]), modeReply);
    EXPECT_EQ(buildReply(expected[1]), permissionReply);
    EXPECT_EQ(buildRequest(101, 0, 0x4B, {0x01, 0x26, 0x01}), expected[0]);
}

TEST_F(ProtocolTest, ModeFrameCarriesTheModelsParameterAndMode38SettlesAfterIt) {
    // {model, on, parameter (0: no mode request, the reply wait still shortened), pause}
    const std::tuple<ModelRow, bool, uint8_t, std::vector<int64_t>> cases[] = {
        {KVTC_4400, true, 0x26, {1250}}, {KVTC_4400, false, 0x26, {1250}},
        {KVTC_3000, true, 0x26, {1250}}, {KVTC_4255, true, 0x2A, {}},
        {KVTC_4255, false, 0x2A, {}},    {KVTC_5140, true, 0, {}},
        {KVTC_5240, true, 0, {}}};
    job.deviceAddress = 65535;
    services.modeReplyTimeoutMs = 150;
    link.setResponder(acceptingResponder());
    for (const auto& [row, on, parameter, sleeps] : cases) {
        useModel(row);
        sequence = 0;
        job.replyTimeoutMs = 0;
        clock.clearSleeps();
        const int before = link.writeCount();
        EXPECT_EQ(rw::setProgrammingMode(link, job, on), parameter ? kOk : kFail);
        EXPECT_EQ(job.replyTimeoutMs, 150);
        EXPECT_EQ(clock.sleeps(), sleeps) << job.model->name << " on=" << on;
        if (parameter == 0) {
            EXPECT_EQ(link.writeCount() + sequence, before) << job.model->name;
            continue;
        }
        EXPECT_EQ(link.lastWrite(), buildRequest(0xFFFF, 0, 0x4B, {0x01, parameter, uint8_t(on)}));
    }
    FakeLink silent;
    useModel(KVTC_4400);
    clock.clearSleeps();
    EXPECT_EQ(rw::setProgrammingMode(silent, job, true), kFail);
    EXPECT_TRUE(clock.sleeps().empty()) << "no pause after an unanswered request";
}

TEST_F(ProtocolTest, DeviceCommandsCarryModelCodeOrImageCrcAndUndefinedOnesAreRefused) {
    for (uint8_t command : {rw::CMD_MODE, rw::CMD_FLASH_WRITE, uint8_t{0x00}, uint8_t{0xFF}})
        EXPECT_EQ(rw::sendDeviceCommand(link, job, command), kFail) << int(command);
    EXPECT_EQ(link.writeCount(), 0);

    useModel(KVTC_5140);
    giveImage(1000);
    link.setResponder(acceptingResponder());
    for (uint8_t command : {rw::CMD_PERMISSION, rw::CMD_FLASH_INIT, rw::CMD_FLASH_VERIFY})
        ASSERT_EQ(rw::sendDeviceCommand(link, job, command), kOk);
    const std::vector<Bytes> expected = {buildRequest(101, 0, 0x7F, {0x51, 0x40}),
                                         buildRequest(101, 1, 0xF2, {0x51, 0x40}),
                                         buildRequest(101, 2, 0xF3, {rw::imageCrc8(job)})};
    EXPECT_EQ(link.writes(), expected);
}

TEST_F(ProtocolTest, SequenceAdvancesPerRequestNotPerTryWrapsAfterFourAndOnFailure) {
    link.setResponder(acceptingResponder());
    link.queueSilence();
    link.queueSilence();  // the first request needs three tries
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(rw::sendDeviceCommand(link, job, rw::CMD_FLASH_INIT), kOk);
    std::vector<uint8_t> sources;
    for (const Bytes& frame : link.writes()) sources.push_back(frame[4]);
    EXPECT_EQ(sources, (std::vector<uint8_t>{0xF8, 0xF8, 0xF8, 0xF9, 0xFA, 0xFB, 0xF8}));

    FakeLink silent;
    sequence = 3;
    EXPECT_EQ(rw::sendDeviceCommand(silent, job, rw::CMD_PERMISSION), kFail);
    EXPECT_EQ(silent.lastWrite()[4], 0xFB);
    EXPECT_EQ(sequence, 0) << "a failed request still advances the sequence";
}

TEST_F(ProtocolTest, BlocksOfAtMost128BytesGoToTheRegionAddressAndTheCrcToItsLastByte) {
    struct Case {
        ModelRow row;
        int imageLength, bytesWritten, count;  // count 0: the CRC byte
        uint32_t address;
    };
    // clang-format off
    const Case cases[] = {
        {KVTC_4400, 300, 0, 128, 0x002000},   {KVTC_4400, 305, 300, 5, 0x00212C},
        {KVTC_4255, 129, 128, 1, 0x001080},   {KVTC_5140, 0x10080, 0x10000, 128, 0xFE0000},
        {KVTC_5240, 0x1FEFF, 0x1FE80, 127, 0xFEFE80},
        {KVTC_4400, 200, 0, 0, 0x0079FF},     {KVTC_4255, 200, 0, 0, 0x0079FF},
        {KVTC_5240, 200, 0, 0, 0xFEFEFF}};
    // clang-format on
    link.setResponder(acceptingResponder());
    for (const Case& c : cases) {
        useModel(c.row);
        giveImage(c.imageLength);
        job.bytesWritten = c.bytesWritten;
        sequence = 0;
        ASSERT_EQ(c.count ? rw::writeBlock(link, job) : rw::writeCrcByte(link, job), kOk);
        Bytes payload = {uint8_t(c.address >> 16), uint8_t(c.address >> 8), uint8_t(c.address), 0,
                         uint8_t(std::max(c.count, 1))};
        for (int i = 0; i < c.count; ++i)
            payload.push_back(job.image[static_cast<size_t>(c.bytesWritten + i)]);
        if (c.count == 0) payload.push_back(rw::imageCrc8(job));
        EXPECT_EQ(link.lastWrite(), buildRequest(101, 0, 0xF0, payload)) << c.address;
        EXPECT_EQ(job.bytesWritten, c.bytesWritten + c.count);
    }
}

TEST_F(ProtocolTest, WritesFailWithoutAdvancingOnRefusalShortWriteNothingLeftOrOverrun) {
    giveImage(300);
    job.bytesWritten = 300;
    EXPECT_EQ(rw::writeBlock(link, job), kFail);
    job.bytesWritten = 0;
    job.imageLength = job.model->flashEnd + 1;
    EXPECT_EQ(rw::writeBlock(link, job), kFail);
    EXPECT_EQ(link.writeCount(), 0);

    job.imageLength = 300;
    job.bytesWritten = 128;
    link.setResponder(
        [](const Bytes& frame) { return ReplyPieces{buildReply(frame, {.status = 1})}; });
    EXPECT_EQ(rw::writeBlock(link, job), kFail);
    EXPECT_EQ(job.bytesWritten, 128);
    EXPECT_EQ(link.writeCount(), 3);
    EXPECT_EQ(rw::writeCrcByte(link, job), kFail);
    // A frame the link does not take whole is a failed try.
    for (const bool recovers : {true, false}) {
        FakeLink device;
        device.setResponder(acceptingResponder());
        recovers ? device.setWriteLimit(5, 2) : device.setWriteLimit(0);
        EXPECT_EQ(rw::writeBlock(device, job), recovers ? kOk : kFail);
        EXPECT_EQ(device.writeCount(), 3);
    }
}

const Bytes kMode = buildRequest(101, 2, 0x4B, {0x01, 0x26, 0x01});
const Bytes kInit = buildRequest(101, 2, 0xF2, {0x44, 0x00});
const Bytes kInitOk = buildReply(kInit);
// Replies to earlier requests (sequence 1) in both forms.
const Bytes kEarlierMode = buildRequest(101, 1, 0x4B, {0x01, 0x26, 0x01});
const Bytes kStaleFull = buildReply(kInit, {.stale = true});
const Bytes kStaleShort = buildReply(kEarlierMode);
// Device 242: the checksum of a short stale reply is 0xF2, a full reply's command echo.
const Bytes kInit242 = buildRequest(242, 2, 0xF2, {0x44, 0x00});
const Bytes kStaleShort242 = buildReply(buildRequest(242, 1, 0x4B, {0x01, 0x26, 0x01}));

// `bytes` with byte `at` set to `value` and the checksum made to match again.
Bytes changed(Bytes bytes, size_t at, uint8_t value) {
    bytes.at(at) = value;
    bytes.back() = byteSum(bytes, bytes.size() - 1);
    return bytes;
}
Bytes head(const Bytes& bytes, size_t count) {
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count));
}
Bytes plus(Bytes bytes, const Bytes& extra) {
    bytes.insert(bytes.end(), extra.begin(), extra.end());
    return bytes;
}

TEST_F(ProtocolTest, CheckReplyAppliesTheTestsInOrder) {
    const Bytes refused42 = buildReply(kInit, {.status = 0x42});
    const Bytes refusedBadSum = buildReply(kInit, {.status = 0x80, .badChecksum = true});
    const Bytes staleBadSum = buildReply(kInit, {.badChecksum = true, .stale = true});
    const Bytes staleFull242 = buildReply(kInit242, {.stale = true});
    const struct {
        const char* name;
        const Bytes& request;
        ReplyPieces reply;
        int expected;
    } cases[] = {
        {"silence", kInit, {}, kTimeout},
        {"start byte", kInit, {changed(kInitOk, 0, 0x03)}, kFail},
        {"source high", kInit, {changed(kInitOk, 1, 0xFE)}, kFail},
        {"device high", kInit, {changed(kInitOk, 3, 0x01)}, kFail},
        {"device low", kInit, {changed(kInitOk, 4, 0x66)}, kFail},
        {"no acknowledge", kInit, {buildReply(kInit, {.acknowledge = 0x15})}, kFail},
        {"mode checksum", kMode, {buildReply(kMode, {.badChecksum = true})}, kBadSum},
        {"full reply to mode", kMode, {kInitOk}, kBadSum},
        {"command echo", kInit, {changed(kInitOk, 6, 0xF3)}, kFail},
        {"refused before checksum", kInit, {refusedBadSum}, kRefused},
        {"full checksum", kInit, {buildReply(kInit, {.badChecksum = true})}, kBadSum},
        {"checksum missing", kInit, {head(kInitOk, 8)}, kBadSum},
        {"trailing bytes", kInit, {plus(kInitOk, {0x02, 0xFF, 0x00, 0x13})}, kOk},
        // Replies to earlier requests are skipped; the reply behind them is checked.
        {"stale alone", kInit, {kStaleFull}, kTimeout},
        {"short stale, reply bytewise", kInit, bytewise(plus(kStaleShort, kInitOk)), kOk},
        {"two stale, refused", kInit, {plus(kStaleShort, kStaleFull), refused42}, kRefused},
        {"stale with bad checksum", kInit, {staleBadSum, kInitOk}, kFail},
        {"stale of another device", kInit, {changed(kStaleFull, 4, 0x66), kInitOk}, kFail},
        {"sequence out of range", kInit, {changed(kInitOk, 2, 0xF7), kInitOk}, kFail},
        {"short stale like a command", kInit242, {plus(kStaleShort242, buildReply(kInit242))}, kOk},
        {"full stale bytewise", kInit242, bytewise(plus(staleFull242, buildReply(kInit242))), kOk},
        {"short stale like a command alone", kInit242, {kStaleShort242}, kTimeout},
    };
    for (const auto& c : cases) {
        FakeLink device;
        std::copy(c.request.begin(), c.request.end(), job.txFrame);
        device.queueReplyPieces(c.reply);
        device.write(c.request.data(), static_cast<uint32_t>(c.request.size()));
        job.replyStatus = 0;
        EXPECT_EQ(rw::checkReply(device, job), c.expected) << c.name;
        if (c.expected == kRefused && c.reply.back() == refused42) {
            EXPECT_EQ(job.replyStatus, 0x42) << "the refusal status is kept";
        }
    }
}

TEST_F(ProtocolTest, ModeRepliesWaitThreeSecondsAndStaleRepliesNeverExtendTheDeadline) {
    job.replyTimeoutMs = 0;
    EXPECT_EQ(rw::setProgrammingMode(link, job, true), kFail);
    ASSERT_EQ(link.readTimeouts().size(), 3u);
    for (uint32_t timeoutMs : link.readTimeouts())
        EXPECT_TRUE(timeoutMs > 2000 && timeoutMs <= 3000);
    // A link that has a stale reply ready at every read.
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
    const Bytes request = buildRequest(101, 0, 0xF2, {0x44, 0x00});
    const Bytes refused = buildReply(request, {.status = 1});
    const Bytes badSum = buildReply(request, {.badChecksum = true});
    const std::pair<std::vector<ReplyPieces>, int> cases[] = {
        {{{refused}, {refused}, {refused}}, kRefused},
        {{{}, {}, {refused}}, kRefused},
        {{{refused}, {refused}, {}}, kFail},
        {{{refused}, {refused}, {badSum}}, kFail},
        {{{refused}, {}, {buildReply(request)}}, kOk},
        // Not the earlier try's checksum byte completes a reply cut short.
        {{{changed(buildReply(request), 6, 0xF3)}, {head(buildReply(request), 8)}, {}}, kFail},
    };
    for (const auto& [script, expected] : cases) {
        sequence = 0;
        FakeLink device;
        for (const ReplyPieces& reply : script) device.queueReplyPieces(reply);
        EXPECT_EQ(rw::sendDeviceCommand(device, job, rw::CMD_FLASH_INIT), expected);
        EXPECT_EQ(device.writeCount(), 3);
    }
}

}  // namespace
}  // namespace rwtest
