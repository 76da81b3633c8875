// Request frames as they go on the wire.
#include "engine/HexImage.h"
#include "tests/protocol/ProtocolFixture.h"

namespace rwtest {
namespace {

TEST_F(ProtocolTest, FirstRequestsOfAJobMatchTheReferenceExchangeByteForByte) {
    link.queueReply({0x02, 0xFF, 0xF8, 0x00, 0x65, 0x06, 0x64});
    link.queueReply({0x02, 0xFF, 0xF9, 0x00, 0x65, 0x06, 0x7F, 0x00, 0xE4});

    EXPECT_EQ(rw::setProgrammingMode(link, job, true), rw::LINK_OK);
    EXPECT_EQ(rw::sendDeviceCommand(link, job, rw::CMD_PERMISSION), rw::LINK_OK);

    const std::vector<Bytes> expected = {
        {0x02, 0x00, 0x65, 0xFF, 0xF8, 0x4B, 0x77, 0x01, 0x26, 0x01, 0x48},
        {0x02, 0x00, 0x65, 0xFF, 0xF9, 0x7F, 0x77, 0x44, 0x00, 0x99}};
    EXPECT_EQ(link.writes(), expected);
}

TEST_F(ProtocolTest, ReferenceReplyBuilderReproducesTheKnownReplies) {
    Bytes mode = {0x02, 0x00, 0x65, 0xFF, 0xF8, 0x4B, 0x77, 0x01, 0x26, 0x01, 0x48};
    Bytes permission = {0x02, 0x00, 0x65, 0xFF, 0xF9, 0x7F, 0x77, 0x44, 0x00, 0x99};
    EXPECT_EQ(buildReply(mode), (Bytes{0x02, 0xFF, 0xF8, 0x00, 0x65, 0x06, 0x64}));
    EXPECT_EQ(buildReply(permission),
              (Bytes{0x02, 0xFF, 0xF9, 0x00, 0x65, 0x06, 0x7F, 0x00, 0xE4}));
    EXPECT_EQ(buildRequest(101, 0, 0x4B, {0x01, 0x26, 0x01}), mode);
}

TEST_F(ProtocolTest, FrameSumKeepsTheFullSum) {
    Bytes ones(300, 0xFF);
    EXPECT_EQ(rw::frameSum(ones.data(), 300), 300u * 255u);
    EXPECT_EQ(rw::frameSum(ones.data(), 0), 0u);
}

struct ModeCase {
    ModelRow row;
    bool on;
    uint8_t parameter;
};

class ModeFrameTest : public ProtocolTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(ModeFrameTest, CarriesTheModelsParameterAndTheSwitch) {
    const ModeCase& c = GetParam();
    useModel(c.row);
    job.deviceAddress = 65535;
    link.setResponder(acceptingResponder());
    ASSERT_EQ(rw::setProgrammingMode(link, job, c.on), rw::LINK_OK);
    EXPECT_EQ(link.lastWrite(),
              buildRequest(0xFFFF, 0, 0x4B, {0x01, c.parameter, c.on ? uint8_t{1} : uint8_t{0}}));
}

INSTANTIATE_TEST_SUITE_P(Models, ModeFrameTest,
                         ::testing::Values(ModeCase{KVTC_4400, true, 0x26},
                                           ModeCase{KVTC_4400, false, 0x26},
                                           ModeCase{KVTC_3000, true, 0x26},
                                           ModeCase{KVTC_4255, true, 0x2A},
                                           ModeCase{KVTC_4255, false, 0x2A}));

TEST_F(ProtocolTest, ModelWithoutModeParametersSendsNothingButSetsTheReplyTimeout) {
    for (ModelRow row : {KVTC_5140, KVTC_5240}) {
        useModel(row);
        job.replyTimeoutMs = 0;
        EXPECT_EQ(rw::setProgrammingMode(link, job, true), rw::LINK_FAIL);
        EXPECT_EQ(job.replyTimeoutMs, 3000);
    }
    EXPECT_EQ(link.writeCount(), 0);
    EXPECT_EQ(link.purgeCount(), 0);
    EXPECT_EQ(rw::requestSequence(), 0);
}

TEST_F(ProtocolTest, ShortenedModeReplyTimeoutAppliesUntilRestored) {
    useModel(KVTC_5240);
    rw::setModeReplyTimeoutMs(150);
    rw::setProgrammingMode(link, job, true);
    EXPECT_EQ(job.replyTimeoutMs, 150);
    rw::setModeReplyTimeoutMs(0);
    rw::setProgrammingMode(link, job, true);
    EXPECT_EQ(job.replyTimeoutMs, 3000);
}

TEST_F(ProtocolTest, DeviceCommandsCarryModelCodeOrImageCrc) {
    useModel(KVTC_5140);
    giveImage(1000);
    link.setResponder(acceptingResponder());
    ASSERT_EQ(rw::sendDeviceCommand(link, job, rw::CMD_PERMISSION), rw::LINK_OK);
    ASSERT_EQ(rw::sendDeviceCommand(link, job, rw::CMD_FLASH_INIT), rw::LINK_OK);
    ASSERT_EQ(rw::sendDeviceCommand(link, job, rw::CMD_FLASH_VERIFY), rw::LINK_OK);
    const std::vector<Bytes> expected = {buildRequest(101, 0, 0x7F, {0x51, 0x40}),
                                         buildRequest(101, 1, 0xF2, {0x51, 0x40}),
                                         buildRequest(101, 2, 0xF3, {rw::imageCrc8(job)})};
    EXPECT_EQ(link.writes(), expected);
}

TEST_F(ProtocolTest, UndefinedDeviceCommandIsRefusedWithoutSending) {
    for (uint8_t command : {rw::CMD_MODE, rw::CMD_FLASH_WRITE, uint8_t{0x00}, uint8_t{0xFF}}) {
        EXPECT_EQ(rw::sendDeviceCommand(link, job, command), rw::LINK_FAIL) << int(command);
    }
    EXPECT_EQ(link.writeCount(), 0);
}

TEST_F(ProtocolTest, SequenceAdvancesPerRequestNotPerTryAndWrapsAfterFour) {
    link.setResponder(acceptingResponder());
    link.queueSilence();
    link.queueSilence();  // the first request needs three tries
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(rw::sendDeviceCommand(link, job, rw::CMD_FLASH_INIT), rw::LINK_OK);
    }
    std::vector<uint8_t> sources;
    for (const Bytes& frame : link.writes()) sources.push_back(frame[4]);
    EXPECT_EQ(sources, (std::vector<uint8_t>{0xF8, 0xF8, 0xF8, 0xF9, 0xFA, 0xFB, 0xF8}));
    EXPECT_EQ(rw::requestSequence(), 1);
}

TEST_F(ProtocolTest, FailedRequestStillAdvancesTheSequence) {
    rw::setRequestSequence(3);
    EXPECT_EQ(rw::sendDeviceCommand(link, job, rw::CMD_PERMISSION), rw::LINK_FAIL);
    EXPECT_EQ(link.lastWrite()[4], 0xFB);
    EXPECT_EQ(rw::requestSequence(), 0);
}

struct BlockCase {
    ModelRow row;
    int imageLength;
    int bytesWritten;
    int expectedCount;
    uint32_t expectedAddress;
};

class WriteBlockTest : public ProtocolTest, public ::testing::WithParamInterface<BlockCase> {};

TEST_P(WriteBlockTest, SendsAtMost128BytesAtTheRegionAddress) {
    const BlockCase& c = GetParam();
    useModel(c.row);
    giveImage(c.imageLength);
    job.bytesWritten = c.bytesWritten;
    link.setResponder(acceptingResponder());

    ASSERT_EQ(rw::writeBlock(link, job), rw::LINK_OK);

    Bytes payload = {uint8_t(c.expectedAddress >> 16), uint8_t(c.expectedAddress >> 8),
                     uint8_t(c.expectedAddress), uint8_t(c.expectedCount >> 8),
                     uint8_t(c.expectedCount)};
    for (int i = 0; i < c.expectedCount; ++i) payload.push_back(job.image[c.bytesWritten + i]);
    Bytes frame = link.lastWrite();
    EXPECT_EQ(frame.size(), static_cast<size_t>(c.expectedCount + 13));
    EXPECT_EQ(hex(frame), hex(buildRequest(101, 0, 0xF0, payload)));
    EXPECT_EQ(job.bytesWritten, c.bytesWritten + c.expectedCount);
}

INSTANTIATE_TEST_SUITE_P(Blocks, WriteBlockTest,
                         ::testing::Values(BlockCase{KVTC_4400, 300, 0, 128, 0x002000},  // L 141
                                           BlockCase{KVTC_4400, 305, 300, 5, 0x00212C},  // L 18
                                           BlockCase{KVTC_4255, 129, 128, 1, 0x001080},
                                           BlockCase{KVTC_5140, 0x10080, 0x10000, 128, 0xFE0000},
                                           BlockCase{KVTC_5240, 0x1FEFF, 0x1FE80, 127, 0xFEFE80}));

TEST_F(ProtocolTest, FailedBlockLeavesBytesWrittenUnchanged) {
    giveImage(300);
    job.bytesWritten = 128;
    link.setResponder([](const Bytes& frame) {
        ReplyOptions refused;
        refused.status = 1;
        return ReplyPieces{buildReply(frame, refused)};
    });
    EXPECT_EQ(rw::writeBlock(link, job), rw::LINK_FAIL);
    EXPECT_EQ(job.bytesWritten, 128);
    EXPECT_EQ(link.writeCount(), 3);
}

TEST_F(ProtocolTest, WriteBlockRefusesWhenNothingIsLeftOrTheImageOverrunsItsBuffer) {
    giveImage(300);
    job.bytesWritten = 300;
    EXPECT_EQ(rw::writeBlock(link, job), rw::LINK_FAIL);
    job.bytesWritten = 0;
    job.imageLength = job.model->flashEnd + 1;
    EXPECT_EQ(rw::writeBlock(link, job), rw::LINK_FAIL);
    EXPECT_EQ(link.writeCount(), 0);
}

TEST_F(ProtocolTest, CrcByteGoesToTheLastByteOfTheRegion) {
    struct Case {
        ModelRow row;
        Bytes address;
    };
    for (const Case& c : {Case{KVTC_4400, {0x00, 0x79, 0xFF}}, Case{KVTC_4255, {0x00, 0x79, 0xFF}},
                          Case{KVTC_5240, {0xFE, 0xFE, 0xFF}}}) {
        useModel(c.row);
        giveImage(200);
        rw::setRequestSequence(0);
        link.setResponder(acceptingResponder());
        ASSERT_EQ(rw::writeCrcByte(link, job), rw::LINK_OK);
        Bytes payload = c.address;
        payload.insert(payload.end(), {0x00, 0x01, rw::imageCrc8(job)});
        EXPECT_EQ(hex(link.lastWrite()), hex(buildRequest(101, 0, 0xF0, payload)));
        EXPECT_EQ(link.lastWrite().size(), 14u);
    }
}

TEST_F(ProtocolTest, CrcByteRefusalIsReportedAsFailure) {
    giveImage(200);
    link.setResponder([](const Bytes& frame) {
        ReplyOptions refused;
        refused.status = 0x15;
        return ReplyPieces{buildReply(frame, refused)};
    });
    EXPECT_EQ(rw::writeCrcByte(link, job), rw::LINK_FAIL);
}

}  // namespace
}  // namespace rwtest
