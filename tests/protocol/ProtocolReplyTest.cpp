// Reply validation, tries, pauses and replies that arrive in pieces.
#include <chrono>
#include <functional>
#include <thread>

#include "tests/protocol/ProtocolFixture.h"

namespace rwtest {
namespace {

Bytes modeRequest() {
    return buildRequest(101, 2, 0x4B, {0x01, 0x26, 0x01});
}
Bytes initRequest() {
    return buildRequest(101, 2, 0xF2, {0x44, 0x00});
}

Bytes corrupt(Bytes bytes, size_t at, uint8_t value) {
    bytes.at(at) = value;
    return bytes;
}

Bytes resum(Bytes bytes) {
    bytes.back() = byteSum(bytes, bytes.size() - 1);
    return bytes;
}

Bytes withOptions(const Bytes& request, ReplyOptions options) {
    return buildReply(request, options);
}

struct ReplyCase {
    const char* name;
    Bytes request;
    ReplyPieces reply;
    int expected;
};

class CheckReplyTest : public ProtocolTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(CheckReplyTest, AppliesTheTestsInOrder) {
    const ReplyCase& c = GetParam();
    putRequest(c.request);
    link.queueReplyPieces(c.reply);
    link.write(c.request.data(), static_cast<uint32_t>(c.request.size()));
    EXPECT_EQ(rw::checkReply(link, job), c.expected) << c.name;
}

const Bytes kMode = modeRequest();
const Bytes kInit = initRequest();
const Bytes kModeOk = buildReply(kMode);
const Bytes kInitOk = buildReply(kInit);

INSTANTIATE_TEST_SUITE_P(
    Replies, CheckReplyTest,
    ::testing::Values(
        ReplyCase{"silence", kInit, {}, rw::LINK_TIMEOUT},
        ReplyCase{"mode ok", kMode, {kModeOk}, rw::LINK_OK},
        ReplyCase{"full ok", kInit, {kInitOk}, rw::LINK_OK},
        ReplyCase{"start byte", kInit, {resum(corrupt(kInitOk, 0, 0x03))}, rw::LINK_FAIL},
        ReplyCase{"source high", kInit, {resum(corrupt(kInitOk, 1, 0xFE))}, rw::LINK_FAIL},
        ReplyCase{"stale sequence", kInit, {withOptions(kInit, {.stale = true})}, rw::LINK_FAIL},
        ReplyCase{"device high", kInit, {resum(corrupt(kInitOk, 3, 0x01))}, rw::LINK_FAIL},
        ReplyCase{"device low", kInit, {resum(corrupt(kInitOk, 4, 0x66))}, rw::LINK_FAIL},
        ReplyCase{
            "no acknowledge", kInit, {withOptions(kInit, {.acknowledge = 0x15})}, rw::LINK_FAIL},
        ReplyCase{"mode checksum",
                  kMode,
                  {withOptions(kMode, {.badChecksum = true})},
                  rw::LINK_BAD_CHECKSUM},
        ReplyCase{"full reply to mode", kMode, {kInitOk}, rw::LINK_BAD_CHECKSUM},
        ReplyCase{"command echo", kInit, {resum(corrupt(kInitOk, 6, 0xF3))}, rw::LINK_FAIL},
        ReplyCase{"refused", kInit, {withOptions(kInit, {.status = 1})}, rw::LINK_DEVICE_REFUSED},
        ReplyCase{"refused, bad checksum",
                  kInit,
                  {withOptions(kInit, {.status = 0x80, .badChecksum = true})},
                  rw::LINK_DEVICE_REFUSED},
        ReplyCase{"full checksum",
                  kInit,
                  {withOptions(kInit, {.badChecksum = true})},
                  rw::LINK_BAD_CHECKSUM},
        ReplyCase{"short header only",
                  kInit,
                  {Bytes(kInitOk.begin(), kInitOk.begin() + 5)},
                  rw::LINK_FAIL},
        ReplyCase{"checksum missing",
                  kInit,
                  {Bytes(kInitOk.begin(), kInitOk.end() - 1)},
                  rw::LINK_BAD_CHECKSUM},
        ReplyCase{"trailing bytes",
                  kInit,
                  {[] {
                      Bytes b = kInitOk;
                      b.insert(b.end(), {0x02, 0xFF, 0x00, 0x13});
                      return b;
                  }()},
                  rw::LINK_OK},
        ReplyCase{"mode trailing bytes",
                  kMode,
                  {[] {
                      Bytes b = kModeOk;
                      b.insert(b.end(), {0x99, 0x99});
                      return b;
                  }()},
                  rw::LINK_OK},
        ReplyCase{"full in two pieces", kInit, splitBytes(kInitOk, {4}), rw::LINK_OK},
        ReplyCase{"full byte by byte", kInit, bytewise(kInitOk), rw::LINK_OK},
        ReplyCase{"mode byte by byte", kMode, bytewise(kModeOk), rw::LINK_OK},
        ReplyCase{"pieces then extra",
                  kInit,
                  {Bytes(kInitOk.begin(), kInitOk.begin() + 8), Bytes{kInitOk[8], 0x55}},
                  rw::LINK_OK},
        ReplyCase{"refused in pieces", kInit, bytewise(withOptions(kInit, {.status = 2})),
                  rw::LINK_DEVICE_REFUSED},
        ReplyCase{"pieces cut short", kInit,
                  splitBytes(Bytes(kInitOk.begin(), kInitOk.end() - 3), {3}), rw::LINK_FAIL}));

TEST_F(ProtocolTest, RefusalStatusIsKept) {
    putRequest(kInit);
    link.queueReply(withOptions(kInit, {.status = 0x42}));
    link.write(kInit.data(), static_cast<uint32_t>(kInit.size()));
    EXPECT_EQ(rw::checkReply(link, job), rw::LINK_DEVICE_REFUSED);
    EXPECT_EQ(job.replyStatus, 0x42);
}

TEST_F(ProtocolTest, ReplyWaitUsesTheJobsReplyTimeout) {
    putRequest(kInit);
    job.replyTimeoutMs = 3000;
    EXPECT_EQ(rw::checkReply(link, job), rw::LINK_TIMEOUT);
    ASSERT_EQ(link.readTimeouts().size(), 1u);
    EXPECT_LE(link.readTimeouts()[0], 3000u);
    EXPECT_GE(link.readTimeouts()[0], 2000u);
}

// A link whose reads are computed by a function, for timing and failure cases.
class FunctionLink : public FakeLink {
  public:
    using Reader = std::function<int32_t(uint8_t*, uint32_t, uint32_t)>;
    explicit FunctionLink(Reader reader) : reader_(std::move(reader)) {}
    int32_t readWithTimeout(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) override {
        ++reads;
        return reader_(buffer, capacity, timeoutMs);
    }
    int reads = 0;

  private:
    Reader reader_;
};

TEST_F(ProtocolTest, FailedReceiveEndsTheReplyWaitAtOnce) {
    FunctionLink failing([](uint8_t*, uint32_t, uint32_t) { return 0; });
    putRequest(kInit);
    EXPECT_EQ(rw::checkReply(failing, job), rw::LINK_TIMEOUT);
    EXPECT_EQ(failing.reads, 1);
}

TEST_F(ProtocolTest, OneDeadlineCoversAllPiecesOfAReply) {
    // One byte every 20 ms against a 50 ms reply time-out: the reply cannot be
    // complete in time, however many reads it takes.
    Bytes reply = kInitOk;
    size_t next = 0;
    FunctionLink slow([&](uint8_t* buffer, uint32_t, uint32_t timeoutMs) -> int32_t {
        if (timeoutMs < 20) {
            std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
            return rw::LINK_TIMEOUT;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        buffer[0] = reply[next++];
        return 1;
    });
    putRequest(kInit);
    job.replyTimeoutMs = 50;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NE(rw::checkReply(slow, job), rw::LINK_OK);
    EXPECT_LT(next, reply.size());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(ProtocolTest, TriesPerCommand) {
    struct Case {
        uint8_t command;
        int writes;
    };
    for (const Case& c : {Case{rw::CMD_PERMISSION, 1}, Case{rw::CMD_FLASH_INIT, 3},
                          Case{rw::CMD_FLASH_VERIFY, 3}}) {
        FakeLink silent;
        giveImage(16);
        EXPECT_EQ(rw::sendDeviceCommand(silent, job, c.command), rw::LINK_FAIL);
        EXPECT_EQ(silent.writeCount(), c.writes) << int(c.command);
        EXPECT_EQ(silent.purgeCount(), 1);
        for (const Bytes& frame : silent.writes()) EXPECT_EQ(frame, silent.writes()[0]);
    }
}

TEST_F(ProtocolTest, LastTryDecidesBetweenRefusedAndFailed) {
    auto refusal = [](const Bytes& frame) { return buildReply(frame, {.status = 1}); };
    Bytes request = buildRequest(101, 0, 0xF2, {0x44, 0x00});
    Bytes refused = refusal(request);

    struct Case {
        std::vector<ReplyPieces> script;
        int expected;
    };
    const std::vector<Case> cases = {
        {{{refused}, {refused}, {refused}}, rw::LINK_DEVICE_REFUSED},
        {{{}, {}, {refused}}, rw::LINK_DEVICE_REFUSED},
        {{{refused}, {refused}, {}}, rw::LINK_FAIL},
        {{{refused}, {buildReply(request, {.badChecksum = true})}, {refused}},
         rw::LINK_DEVICE_REFUSED},
        {{{refused}, {}, {buildReply(request)}}, rw::LINK_OK},
    };
    for (const Case& c : cases) {
        rw::setRequestSequence(0);
        FakeLink device;
        for (const ReplyPieces& reply : c.script) device.queueReplyPieces(reply);
        EXPECT_EQ(rw::sendDeviceCommand(device, job, rw::CMD_FLASH_INIT), c.expected);
        EXPECT_EQ(device.writeCount(), 3);
    }
}

TEST_F(ProtocolTest, StaleReplyIsAFailedTryAndTheSameFrameIsSentAgain) {
    FakeLink device;
    device.queueReply(withOptions(buildRequest(101, 0, 0x4B, {0x01, 0x26, 0x01}), {.stale = true}));
    device.setResponder(acceptingResponder());
    EXPECT_EQ(rw::setProgrammingMode(device, job, true), rw::LINK_OK);
    ASSERT_EQ(device.writeCount(), 2);
    EXPECT_EQ(device.writes()[0], device.writes()[1]);
    EXPECT_EQ(device.purgeCount(), 1);
}

TEST_F(ProtocolTest, InputWaitingBeforeTheRequestIsPurged) {
    // A late reply to an earlier request sits in the input; read first, it would
    // cost a try.
    link.injectInput(buildReply(buildRequest(101, 3, 0xF2, {0x44, 0x00})));
    link.setResponder(acceptingResponder());
    EXPECT_EQ(rw::sendDeviceCommand(link, job, rw::CMD_PERMISSION), rw::LINK_OK);
    EXPECT_EQ(link.writeCount(), 1);
}

TEST_F(ProtocolTest, ShortWriteIsAFailedTry) {
    link.setResponder(acceptingResponder());
    link.setWriteLimit(5, 2);
    EXPECT_EQ(rw::sendDeviceCommand(link, job, rw::CMD_FLASH_INIT), rw::LINK_OK);
    EXPECT_EQ(link.writeCount(), 3);

    FakeLink deaf;
    deaf.setResponder(acceptingResponder());
    deaf.setWriteLimit(0);
    EXPECT_EQ(rw::sendDeviceCommand(deaf, job, rw::CMD_FLASH_INIT), rw::LINK_FAIL);
    EXPECT_EQ(deaf.writeCount(), 3);
}

TEST_F(ProtocolTest, SettlePauseFollowsOnlySuccessfulMode38Requests) {
    struct Case {
        ModelRow row;
        bool on;
        bool answered;
        std::vector<int64_t> sleeps;
    };
    const std::vector<Case> cases = {
        {KVTC_4400, true, true, {1250}}, {KVTC_4400, false, true, {1250}},
        {KVTC_3000, true, true, {1250}}, {KVTC_3000, false, true, {1250}},
        {KVTC_4255, true, true, {}},     {KVTC_4400, true, false, {}},
        {KVTC_5140, true, true, {}},
    };
    for (const Case& c : cases) {
        useModel(c.row);
        clock.clearSleeps();
        FakeLink device;
        if (c.answered) device.setResponder(acceptingResponder());
        rw::setProgrammingMode(device, job, c.on);
        EXPECT_EQ(clock.sleeps(), c.sleeps) << job.model->name << " on=" << c.on;
    }
}

TEST_F(ProtocolTest, OtherCommandsNeverPause) {
    giveImage(300);
    link.setResponder(acceptingResponder());
    ASSERT_EQ(rw::sendDeviceCommand(link, job, rw::CMD_PERMISSION), rw::LINK_OK);
    ASSERT_EQ(rw::sendDeviceCommand(link, job, rw::CMD_FLASH_INIT), rw::LINK_OK);
    ASSERT_EQ(rw::writeBlock(link, job), rw::LINK_OK);
    ASSERT_EQ(rw::writeCrcByte(link, job), rw::LINK_OK);
    ASSERT_EQ(rw::sendDeviceCommand(link, job, rw::CMD_FLASH_VERIFY), rw::LINK_OK);
    EXPECT_TRUE(clock.sleeps().empty());
}

TEST_F(ProtocolTest, ModeRequestWaitsThreeSecondsForEveryReply) {
    job.replyTimeoutMs = 0;
    FakeLink silent;
    EXPECT_EQ(rw::setProgrammingMode(silent, job, true), rw::LINK_FAIL);
    ASSERT_EQ(silent.readTimeouts().size(), 3u);
    for (uint32_t timeoutMs : silent.readTimeouts()) {
        EXPECT_GE(timeoutMs, 2000u);
        EXPECT_LE(timeoutMs, 3000u);
    }
}

}  // namespace
}  // namespace rwtest

namespace rwtest {
namespace {

TEST_F(ProtocolTest, TruncatedReplyNeverBorrowsBytesOfAnEarlierTry) {
    // First try: a whole frame with a wrong command echo (a failed try) whose
    // checksum byte is the one the right reply needs. Second try: the right reply
    // without its checksum byte. It must not pass on the first try's byte.
    Bytes request = buildRequest(101, 0, 0xF2, {0x44, 0x00});
    Bytes good = buildReply(request);
    Bytes wrongEcho = corrupt(good, 6, 0xF3);
    link.queueReply(wrongEcho);
    link.queueReply(Bytes(good.begin(), good.end() - 1));
    link.queueSilence();
    EXPECT_EQ(rw::sendDeviceCommand(link, job, rw::CMD_FLASH_INIT), rw::LINK_FAIL);
    EXPECT_EQ(link.writeCount(), 3);
}

}  // namespace
}  // namespace rwtest
