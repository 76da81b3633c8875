// Request frames as they go on the wire.
#include "ProtocolFixture.h"
#include "engine/HexImage.h"

namespace rwtest {
namespace {

TEST_F(ProtocolTest, FirstRequestsOfAJobMatchTheReferenceExchangeByteForByte) {
    const Bytes modeReply = {0x02, 0xFF, 0xF8, 0x00, 0x65, 0x06, 0x64};
    const Bytes permissionReply = {0x02, 0xFF, 0xF9, 0x00, 0x65, 0x06, 0x7F, 0x00, 0xE4};
    link.queueReply(modeReply);
    link.queueReply(permissionReply);
    EXPECT_EQ(rw::setProgrammingMode(link, job, true), rw::LINK_OK);
    EXPECT_EQ(rw::sendDeviceCommand(link, job, rw::CMD_PERMISSION), rw::LINK_OK);
    const std::vector<Bytes> expected = {
        {0x02, 0x00, 0x65, 0xFF, 0xF8, 0x4B, 0x77, 0x01, 0x26, 0x01, 0x48},
        {0x02, 0x00, 0x65, 0xFF, 0xF9, 0x7F, 0x77, 0x44, 0x00, 0x99}};
    EXPECT_EQ(link.writes(), expected);
    // The reference reply builder that the other tests rely on reproduces the exchange.
    EXPECT_EQ(buildReply(expected[0]), modeReply);
    EXPECT_EQ(buildReply(expected[1]), permissionReply);
    EXPECT_EQ(buildRequest(101, 0, 0x4B, {0x01, 0x26, 0x01}), expected[0]);
}

TEST_F(ProtocolTest, FrameSumKeepsTheFullSum) {
    Bytes ones(300, 0xFF);
    EXPECT_EQ(rw::frameSum(ones.data(), 300), 300u * 255u);
}

TEST_F(ProtocolTest, ModeFrameCarriesTheModelsParameterAndTheSwitch) {
    const std::tuple<ModelRow, bool, uint8_t> cases[] = {{KVTC_4400, true, 0x26},
                                                         {KVTC_4400, false, 0x26},
                                                         {KVTC_3000, true, 0x26},
                                                         {KVTC_4255, true, 0x2A},
                                                         {KVTC_4255, false, 0x2A}};
    job.deviceAddress = 65535;
    link.setResponder(acceptingResponder());
    for (const auto& [row, on, parameter] : cases) {
        useModel(row);
        sequence = 0;
        ASSERT_EQ(rw::setProgrammingMode(link, job, on), rw::LINK_OK);
        EXPECT_EQ(link.lastWrite(), buildRequest(0xFFFF, 0, 0x4B, {0x01, parameter, uint8_t(on)}));
    }
}

TEST_F(ProtocolTest, ModelWithoutModeParametersSendsNothingButSetsTheShortenedReplyTimeout) {
    for (const int shortened : {0, 150}) {
        if (shortened != 0) services.modeReplyTimeoutMs = shortened;
        for (ModelRow row : {KVTC_5140, KVTC_5240}) {
            useModel(row);
            job.replyTimeoutMs = 0;
            EXPECT_EQ(rw::setProgrammingMode(link, job, true), rw::LINK_FAIL);
            EXPECT_EQ(job.replyTimeoutMs, shortened ? shortened : 3000);
        }
    }
    EXPECT_EQ(link.writeCount() + link.purgeCount() + sequence, 0);
}

TEST_F(ProtocolTest, DeviceCommandsCarryModelCodeOrImageCrcAndUndefinedOnesAreRefused) {
    for (uint8_t command : {rw::CMD_MODE, rw::CMD_FLASH_WRITE, uint8_t{0x00}, uint8_t{0xFF}})
        EXPECT_EQ(rw::sendDeviceCommand(link, job, command), rw::LINK_FAIL) << int(command);
    EXPECT_EQ(link.writeCount(), 0);

    useModel(KVTC_5140);
    giveImage(1000);
    link.setResponder(acceptingResponder());
    for (uint8_t command : {rw::CMD_PERMISSION, rw::CMD_FLASH_INIT, rw::CMD_FLASH_VERIFY})
        ASSERT_EQ(rw::sendDeviceCommand(link, job, command), rw::LINK_OK);
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
        ASSERT_EQ(rw::sendDeviceCommand(link, job, rw::CMD_FLASH_INIT), rw::LINK_OK);
    std::vector<uint8_t> sources;
    for (const Bytes& frame : link.writes()) sources.push_back(frame[4]);
    EXPECT_EQ(sources, (std::vector<uint8_t>{0xF8, 0xF8, 0xF8, 0xF9, 0xFA, 0xFB, 0xF8}));

    FakeLink silent;
    sequence = 3;
    EXPECT_EQ(rw::sendDeviceCommand(silent, job, rw::CMD_PERMISSION), rw::LINK_FAIL);
    EXPECT_EQ(silent.lastWrite()[4], 0xFB);
    EXPECT_EQ(sequence, 0) << "a failed request still advances the sequence";

    // A job whose services bring no sequence advances the process-wide one.
    job.services = nullptr;
    const uint8_t before = rw::requestSequence();
    ASSERT_EQ(rw::sendDeviceCommand(link, job, rw::CMD_FLASH_INIT), rw::LINK_OK);
    EXPECT_EQ(link.lastWrite()[4], 0xF8 + before);
    EXPECT_EQ(rw::requestSequence(), (before + 1) & 3);
    EXPECT_EQ(sequence, 0);
}

TEST_F(ProtocolTest, WriteBlockSendsAtMost128BytesAtTheRegionAddress) {
    struct Case {
        ModelRow row;
        int imageLength, bytesWritten, count;
        uint32_t address;
    };
    const Case cases[] = {{KVTC_4400, 300, 0, 128, 0x002000},  // L 141
                          {KVTC_4400, 305, 300, 5, 0x00212C},  // L 18
                          {KVTC_4255, 129, 128, 1, 0x001080},
                          {KVTC_5140, 0x10080, 0x10000, 128, 0xFE0000},
                          {KVTC_5240, 0x1FEFF, 0x1FE80, 127, 0xFEFE80}};
    link.setResponder(acceptingResponder());
    for (const Case& c : cases) {
        useModel(c.row);
        giveImage(c.imageLength);
        job.bytesWritten = c.bytesWritten;
        sequence = 0;
        ASSERT_EQ(rw::writeBlock(link, job), rw::LINK_OK);
        Bytes payload = {uint8_t(c.address >> 16), uint8_t(c.address >> 8), uint8_t(c.address),
                         uint8_t(c.count >> 8), uint8_t(c.count)};
        for (int i = 0; i < c.count; ++i)
            payload.push_back(job.image[static_cast<size_t>(c.bytesWritten + i)]);
        EXPECT_EQ(link.lastWrite().size(), static_cast<size_t>(c.count + 13));
        EXPECT_EQ(link.lastWrite(), buildRequest(101, 0, 0xF0, payload)) << c.address;
        EXPECT_EQ(job.bytesWritten, c.bytesWritten + c.count);
    }
}

TEST_F(ProtocolTest, WriteBlockFailsWithoutAdvancingOnRefusalNothingLeftOrOverrun) {
    giveImage(300);
    job.bytesWritten = 300;
    EXPECT_EQ(rw::writeBlock(link, job), rw::LINK_FAIL);
    job.bytesWritten = 0;
    job.imageLength = job.model->flashEnd + 1;
    EXPECT_EQ(rw::writeBlock(link, job), rw::LINK_FAIL);
    EXPECT_EQ(link.writeCount(), 0);

    job.imageLength = 300;
    job.bytesWritten = 128;
    link.setResponder(refusing(1));
    EXPECT_EQ(rw::writeBlock(link, job), rw::LINK_FAIL);
    EXPECT_EQ(job.bytesWritten, 128);
    EXPECT_EQ(link.writeCount(), 3);
}

TEST_F(ProtocolTest, CrcByteGoesToTheLastByteOfTheRegion) {
    const std::pair<ModelRow, Bytes> cases[] = {{KVTC_4400, {0x00, 0x79, 0xFF}},
                                                {KVTC_4255, {0x00, 0x79, 0xFF}},
                                                {KVTC_5240, {0xFE, 0xFE, 0xFF}}};
    link.setResponder(acceptingResponder());
    for (const auto& [row, address] : cases) {
        useModel(row);
        giveImage(200);
        sequence = 0;
        ASSERT_EQ(rw::writeCrcByte(link, job), rw::LINK_OK);
        Bytes payload = address;
        payload.insert(payload.end(), {0x00, 0x01, rw::imageCrc8(job)});
        EXPECT_EQ(link.lastWrite(), buildRequest(101, 0, 0xF0, payload));
    }
    link.setResponder(refusing(0x15));
    EXPECT_EQ(rw::writeCrcByte(link, job), rw::LINK_FAIL);
}

}  // namespace
}  // namespace rwtest
