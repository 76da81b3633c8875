// Reply validation, tries, pauses and replies that arrive in pieces.
#include <chrono>
#include <functional>
#include <thread>

#include "ProtocolFixture.h"

namespace rwtest {
namespace {

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
Bytes cut(const Bytes& bytes, size_t from, size_t to) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                 bytes.begin() + static_cast<std::ptrdiff_t>(to));
}
Bytes plus(Bytes bytes, const Bytes& extra) {
    bytes.insert(bytes.end(), extra.begin(), extra.end());
    return bytes;
}

TEST_F(ProtocolTest, CheckReplyAppliesTheTestsInOrder) {
    struct Case {
        const char* name;
        const Bytes& request;
        ReplyPieces reply;
        int expected;
    };
    const Case cases[] = {
        {"silence", kInit, {}, rw::LINK_TIMEOUT},
        {"start byte", kInit, {changed(kInitOk, 0, 0x03)}, rw::LINK_FAIL},
        {"source high", kInit, {changed(kInitOk, 1, 0xFE)}, rw::LINK_FAIL},
        {"device low", kInit, {changed(kInitOk, 4, 0x66)}, rw::LINK_FAIL},
        {"no acknowledge", kInit, {buildReply(kInit, {.acknowledge = 0x15})}, rw::LINK_FAIL},
        {"mode checksum", kMode, {buildReply(kMode, {.badChecksum = true})}, rw::LINK_BAD_CHECKSUM},
        {"full reply to mode", kMode, {kInitOk}, rw::LINK_BAD_CHECKSUM},
        {"command echo", kInit, {changed(kInitOk, 6, 0xF3)}, rw::LINK_FAIL},
        {"refused", kInit, {buildReply(kInit, {.status = 0x42})}, rw::LINK_DEVICE_REFUSED},
        {"refused before checksum",
         kInit,
         {buildReply(kInit, {.status = 0x80, .badChecksum = true})},
         rw::LINK_DEVICE_REFUSED},
        {"full checksum", kInit, {buildReply(kInit, {.badChecksum = true})}, rw::LINK_BAD_CHECKSUM},
        {"short header only", kInit, {cut(kInitOk, 0, 5)}, rw::LINK_FAIL},
        {"checksum missing", kInit, {cut(kInitOk, 0, 8)}, rw::LINK_BAD_CHECKSUM},
        {"trailing bytes", kInit, {plus(kInitOk, {0x02, 0xFF, 0x00, 0x13})}, rw::LINK_OK},
        {"full byte by byte", kInit, bytewise(kInitOk), rw::LINK_OK},
        {"pieces then extra", kInit, {cut(kInitOk, 0, 8), Bytes{kInitOk[8], 0x55}}, rw::LINK_OK},
        {"refused in pieces", kInit, bytewise(buildReply(kInit, {.status = 2})),
         rw::LINK_DEVICE_REFUSED},
        {"pieces cut short", kInit, splitBytes(cut(kInitOk, 0, 6), {3}), rw::LINK_FAIL},
        // Replies to earlier requests are skipped; the reply behind them is checked.
        {"stale alone", kInit, {kStaleFull}, rw::LINK_TIMEOUT},
        {"stale then reply in one read", kInit, {plus(kStaleFull, kInitOk)}, rw::LINK_OK},
        {"short stale then reply byte by byte", kInit, bytewise(plus(kStaleShort, kInitOk)),
         rw::LINK_OK},
        {"full stale before a mode reply", kMode, {kStaleFull, buildReply(kMode)}, rw::LINK_OK},
        {"two stale then refused",
         kInit,
         {plus(kStaleShort, kStaleFull), buildReply(kInit, {.status = 3})},
         rw::LINK_DEVICE_REFUSED},
        {"stale then reply without checksum",  // the stale checksum is the one it lacks
         kInit,
         {buildReply(kInit, {.status = 1, .stale = true}), cut(kInitOk, 0, 8)},
         rw::LINK_BAD_CHECKSUM},
        {"full stale with bad checksum",
         kInit,
         {buildReply(kInit, {.badChecksum = true, .stale = true}), kInitOk},
         rw::LINK_FAIL},
        {"short stale with bad checksum",
         kInit,
         {buildReply(kEarlierMode, {.badChecksum = true}), kInitOk},
         rw::LINK_FAIL},
        {"stale but bad start", kInit, {changed(kStaleFull, 0, 0x03), kInitOk}, rw::LINK_FAIL},
        {"stale to another host", kInit, {changed(kStaleFull, 1, 0xFE), kInitOk}, rw::LINK_FAIL},
        {"stale of device 0x165", kInit, {changed(kStaleFull, 3, 0x01), kInitOk}, rw::LINK_FAIL},
        {"stale of device 102", kInit, {changed(kStaleFull, 4, 0x66), kInitOk}, rw::LINK_FAIL},
        {"sequence byte out of range", kInit, {changed(kInitOk, 2, 0xF7), kInitOk}, rw::LINK_FAIL},
        {"short stale ending like a command",
         kInit242,
         {plus(kStaleShort242, buildReply(kInit242))},
         rw::LINK_OK},
        {"full stale byte by byte whose start passes as short", kInit242,
         bytewise(plus(buildReply(kInit242, {.stale = true}), buildReply(kInit242))), rw::LINK_OK},
        {"short stale ending like a command alone", kInit242, {kStaleShort242}, rw::LINK_TIMEOUT},
    };
    for (const Case& c : cases) {
        FakeLink device;
        std::copy(c.request.begin(), c.request.end(), job.txFrame);
        device.queueReplyPieces(c.reply);
        device.write(c.request.data(), static_cast<uint32_t>(c.request.size()));
        job.replyStatus = 0;
        EXPECT_EQ(rw::checkReply(device, job), c.expected) << c.name;
        if (c.reply.size() == 1 && c.reply[0] == buildReply(kInit, {.status = 0x42})) {
            EXPECT_EQ(job.replyStatus, 0x42) << "the refusal status is kept";
        }
    }
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

TEST_F(ProtocolTest, ModeRequestWaitsThreeSecondsForEveryReplyAndAFailedReceiveEndsTheWait) {
    job.replyTimeoutMs = 0;
    EXPECT_EQ(rw::setProgrammingMode(link, job, true), rw::LINK_FAIL);
    ASSERT_EQ(link.readTimeouts().size(), 3u);
    for (uint32_t timeoutMs : link.readTimeouts()) {
        EXPECT_GE(timeoutMs, 2000u);
        EXPECT_LE(timeoutMs, 3000u);
    }
    FunctionLink failing([](uint8_t*, uint32_t, uint32_t) { return 0; });
    std::copy(kInit.begin(), kInit.end(), job.txFrame);
    EXPECT_EQ(rw::checkReply(failing, job), rw::LINK_TIMEOUT);
    EXPECT_EQ(failing.reads, 1);
}

TEST_F(ProtocolTest, OneDeadlineCoversAllPiecesOfAReplyAndEndlessStaleReplies) {
    // One byte every 20 ms against a 50 ms reply time-out: the reply cannot be
    // complete in time, however many reads it takes.
    size_t next = 0;
    FunctionLink slow([&](uint8_t* buffer, uint32_t, uint32_t timeoutMs) -> int32_t {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeoutMs, 20u)));
        if (timeoutMs < 20) return rw::LINK_TIMEOUT;
        buffer[0] = kInitOk[next++];
        return 1;
    });
    std::copy(kInit.begin(), kInit.end(), job.txFrame);
    job.replyTimeoutMs = 50;
    EXPECT_NE(rw::checkReply(slow, job), rw::LINK_OK);
    EXPECT_LT(next, kInitOk.size());

    // A link that has a stale reply ready at every read, even past the deadline.
    FunctionLink flooding([](uint8_t* buffer, uint32_t, uint32_t) {
        std::copy(kStaleFull.begin(), kStaleFull.end(), buffer);
        return static_cast<int32_t>(kStaleFull.size());
    });
    job.replyTimeoutMs = 20;
    EXPECT_EQ(rw::checkReply(flooding, job), rw::LINK_TIMEOUT);
}

TEST_F(ProtocolTest, TriesPerCommandRepeatTheSameFrameAfterOnePurge) {
    giveImage(16);
    for (const auto& [command, tries] :
         {std::pair{rw::CMD_PERMISSION, 1}, {rw::CMD_FLASH_INIT, 3}, {rw::CMD_FLASH_VERIFY, 3}}) {
        FakeLink silent;
        EXPECT_EQ(rw::sendDeviceCommand(silent, job, command), rw::LINK_FAIL);
        EXPECT_EQ(silent.writes(), std::vector<Bytes>(size_t(tries), silent.writes()[0]));
        EXPECT_EQ(silent.purgeCount(), 1);
    }
}

TEST_F(ProtocolTest, LastTryDecidesBetweenRefusedAndFailed) {
    const Bytes request = buildRequest(101, 0, 0xF2, {0x44, 0x00});
    const Bytes refused = buildReply(request, {.status = 1});
    const std::pair<std::vector<ReplyPieces>, int> cases[] = {
        {{{refused}, {refused}, {refused}}, rw::LINK_DEVICE_REFUSED},
        {{{}, {}, {refused}}, rw::LINK_DEVICE_REFUSED},
        {{{refused}, {refused}, {}}, rw::LINK_FAIL},
        {{{refused}, {buildReply(request, {.badChecksum = true})}, {refused}},
         rw::LINK_DEVICE_REFUSED},
        {{{refused}, {}, {buildReply(request)}}, rw::LINK_OK},
    };
    for (const auto& [script, expected] : cases) {
        sequence = 0;
        FakeLink device;
        for (const ReplyPieces& reply : script) device.queueReplyPieces(reply);
        EXPECT_EQ(rw::sendDeviceCommand(device, job, rw::CMD_FLASH_INIT), expected);
        EXPECT_EQ(device.writeCount(), 3);
    }
}

TEST_F(ProtocolTest, LateReplyLeavesLaterRequestsInStep) {
    // Replies arrive while the host waits. The reply to the second frame comes
    // after its time-out, during the retry's wait; the retry's own reply then
    // lands behind the next request and must not cost that request a try.
    giveImage(6 * 128);
    link.setResponder(acceptingResponder());
    link.setRepliesInFlight(2);
    std::vector<int> writesPerBlock;
    for (int block = 0; block < 6; ++block) {
        const int before = link.writeCount();
        ASSERT_EQ(rw::writeBlock(link, job), rw::LINK_OK) << block;
        writesPerBlock.push_back(link.writeCount() - before);
    }
    EXPECT_EQ(writesPerBlock, (std::vector<int>{1, 2, 1, 1, 1, 1}));
}

TEST_F(ProtocolTest, InputWaitingBeforeTheRequestIsPurged) {
    // A late reply to an earlier request sits in the input; read first, it would cost a try.
    link.injectInput(buildReply(buildRequest(101, 3, 0xF2, {0x44, 0x00})));
    link.setResponder(acceptingResponder());
    EXPECT_EQ(rw::sendDeviceCommand(link, job, rw::CMD_PERMISSION), rw::LINK_OK);
    EXPECT_EQ(link.writeCount(), 1);
}

TEST_F(ProtocolTest, ShortWriteIsAFailedTry) {
    for (const bool recovers : {true, false}) {
        FakeLink device;
        device.setResponder(acceptingResponder());
        recovers ? device.setWriteLimit(5, 2) : device.setWriteLimit(0);
        EXPECT_EQ(rw::sendDeviceCommand(device, job, rw::CMD_FLASH_INIT),
                  recovers ? rw::LINK_OK : rw::LINK_FAIL);
        EXPECT_EQ(device.writeCount(), 3);
    }
}

TEST_F(ProtocolTest, SettlePauseFollowsOnlySuccessfulMode38RequestsAndNothingElse) {
    const std::tuple<ModelRow, bool, bool, std::vector<int64_t>> cases[] = {
        {KVTC_4400, true, true, {1250}}, {KVTC_4400, false, true, {1250}},
        {KVTC_3000, true, true, {1250}}, {KVTC_3000, false, true, {1250}},
        {KVTC_4255, true, true, {}},     {KVTC_4400, true, false, {}},
        {KVTC_5140, true, true, {}}};
    for (const auto& [row, on, answered, sleeps] : cases) {
        useModel(row);
        clock.clearSleeps();
        FakeLink device;
        if (answered) device.setResponder(acceptingResponder());
        rw::setProgrammingMode(device, job, on);
        EXPECT_EQ(clock.sleeps(), sleeps) << job.model->name << " on=" << on;
    }
    useModel(KVTC_4400);
    clock.clearSleeps();
    giveImage(300);
    link.setResponder(acceptingResponder());
    ASSERT_EQ(rw::sendDeviceCommand(link, job, rw::CMD_PERMISSION), rw::LINK_OK);
    ASSERT_EQ(rw::sendDeviceCommand(link, job, rw::CMD_FLASH_INIT), rw::LINK_OK);
    ASSERT_EQ(rw::writeBlock(link, job), rw::LINK_OK);
    ASSERT_EQ(rw::writeCrcByte(link, job), rw::LINK_OK);
    ASSERT_EQ(rw::sendDeviceCommand(link, job, rw::CMD_FLASH_VERIFY), rw::LINK_OK);
    EXPECT_TRUE(clock.sleeps().empty()) << "other commands never pause";
}

TEST_F(ProtocolTest, TruncatedReplyNeverBorrowsBytesOfAnEarlierTry) {
    // First try: a whole frame with a wrong command echo (a failed try) whose
    // checksum byte is the one the right reply needs. Second try: the right reply
    // without its checksum byte. It must not pass on the first try's byte.
    const Bytes good = buildReply(buildRequest(101, 0, 0xF2, {0x44, 0x00}));
    Bytes wrongEcho = good;
    wrongEcho[6] = 0xF3;
    link.queueReply(wrongEcho);
    link.queueReply(cut(good, 0, good.size() - 1));
    link.queueSilence();
    EXPECT_EQ(rw::sendDeviceCommand(link, job, rw::CMD_FLASH_INIT), rw::LINK_FAIL);
    EXPECT_EQ(link.writeCount(), 3);
}

}  // namespace
}  // namespace rwtest
