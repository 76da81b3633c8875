// One simulated controller: NOR flash, region limits, verify, erase silence.
#include <gtest/gtest.h>

#include "SimTestFrames.h"
#include "sim/SimDevice.h"

using namespace rw::sim;
using simtest::Bytes;

namespace {

constexpr uint16_t kAddress = 101;

struct Device {
    explicit Device(const char* modelName = "KVTC/1-4400", DeviceSettings settings = {})
        : sim(kAddress, *findSimModel(modelName), settings), m(sim.model()) {}

    // The status of the reply to a request at nowMs (default: the time of the
    // previous one); -2 for the short acknowledge, -3 when the device is silent.
    int send(const Bytes& frame, int64_t nowMs = -1) {
        if (nowMs >= 0) lastMs = nowMs;
        SimDevice::Response response = sim.handle(Request{frame}, lastMs);
        if (response.silent) return -3;
        return response.reply.size() == 7 ? -2 : simtest::replyStatus(response.reply);
    }
    int init(int64_t nowMs = -1) {
        return send(simtest::codeRequest(kAddress, 0, 0xF2, m.code), nowMs);
    }
    int write(uint32_t at, const Bytes& data) {
        return send(simtest::writeRequest(kAddress, 1, at, data));
    }
    int verify(uint8_t crc) { return send(simtest::request(kAddress, 2, 0xF3, {crc})); }
    uint8_t at(uint32_t address) const { return sim.region()[address - m.regionStart()]; }
    uint8_t crcOf(const Bytes& image) const { return simtest::programmedRegion(m, image).back(); }
    // Writes image at the region start and its CRC into the last byte; the CRC.
    uint8_t program(const Bytes& image) {
        EXPECT_EQ(write(m.regionStart(), image), 0);
        EXPECT_EQ(write(m.crcAddress(), {crcOf(image)}), 0);
        return crcOf(image);
    }

    SimDevice sim;
    const SimModel& m;
    int64_t lastMs = 0;
};

}  // namespace

TEST(SimDevice, WritesClearBitsOnlyUntilAnErase) {
    Device d;
    ASSERT_EQ(d.init(), 0);
    EXPECT_EQ(d.write(0x2000, {0xF0, 0x0F, 0xAA}), 0);
    EXPECT_EQ(d.write(0x2000, {0x3C, 0xFF, 0x55}), 0);
    EXPECT_EQ(Bytes(d.sim.region().begin(), d.sim.region().begin() + 4),
              (Bytes{0x30, 0x0F, 0x00, 0xFF}));
    ASSERT_EQ(d.init(2000000), 0);
    EXPECT_EQ(d.at(0x2000), 0xFF);
}

TEST(SimDevice, WritesOutsideTheRegionAreRefusedAndChangeNothing) {
    struct Case {
        const char* modelName;
        uint32_t at;
        size_t count;
        bool accepted;
    };
    const Case cases[] = {
        {"KVTC/1-4400", 0x2000, 128, true},  {"KVTC/1-4400", 0x79FF, 1, true},
        {"KVTC/1-4400", 0x1FFF, 1, false},   {"KVTC/1-4400", 0x79FF, 2, false},
        {"KVTC/1-4400", 0x7A00, 1, false},   {"KVTC/1-4255", 0x1000, 16, true},
        {"KVTC/1-4255", 0x0FFF, 2, false},   {"KVTC/2-5140", 0xFE0000, 128, true},
        {"KVTC/2-5140", 0xFEFEFF, 1, true},  {"KVTC/2-5140", 0xFEFF00, 1, false},
        {"KVTC/2-5140", 0xFCFFFF, 1, false}, {"KVTC/2-5240", 0x00FD00, 1, false},
    };
    for (const Case& c : cases) {
        Device d(c.modelName);
        ASSERT_EQ(d.init(), 0);
        Bytes before = d.sim.region();
        int status = d.write(c.at, Bytes(c.count, 0x00));
        EXPECT_EQ(status, c.accepted ? 0 : STATUS_OUTSIDE_REGION)
            << c.modelName << " at " << std::hex << c.at;
        EXPECT_TRUE(c.accepted || d.sim.region() == before) << c.modelName;
    }
}

TEST(SimDevice, VerifyNeedsTheCrcInTheRequestAndInTheLastByte) {
    Bytes image = {0x75, 0x81, 0x60, 0x02, 0x20, 0x00};
    struct Case {
        const char* name;
        bool writeImage;
        int storedDelta;   // added to the CRC written into the last byte; -1: none written
        int requestDelta;  // added to the CRC in the verify request
        bool passes;
    };
    const Case cases[] = {
        {"correct", true, 0, 0, true},
        {"request byte wrong", true, 0, 1, false},
        {"last byte differs", true, 1, 1, false},
        {"last byte never written", true, -1, 0, false},
        {"image missing", false, 0, 0, false},
    };
    for (const Case& c : cases) {
        Device d;
        uint8_t crc = d.crcOf(image);
        ASSERT_EQ(d.init(), 0);
        ASSERT_EQ(c.writeImage ? d.write(d.m.regionStart(), image) : 0, 0);
        if (c.storedDelta >= 0) {
            ASSERT_EQ(d.write(d.m.crcAddress(), {static_cast<uint8_t>(crc + c.storedDelta)}), 0);
        }
        int status = d.verify(static_cast<uint8_t>(crc + c.requestDelta));
        EXPECT_EQ(status, c.passes ? 0 : STATUS_VERIFY_MISMATCH) << c.name;
        EXPECT_EQ(d.sim.verifyResult(),
                  c.passes ? SimDevice::Verify::Passed : SimDevice::Verify::Failed)
            << c.name;
    }
}

TEST(SimDevice, OldFirmwareIsSeededAndOnlyAnEraseRemovesIt) {
    DeviceSettings settings;
    settings.firmwareSeed = 99;
    Device d("KVTC/2-5140", settings);
    EXPECT_EQ(d.sim.region(), Device("KVTC/2-5140", settings).sim.region());
    EXPECT_NE(d.sim.region(), Device("KVTC/2-5140").sim.region());
    Bytes image(64, 0x12);
    EXPECT_NE(d.verify(d.program(image)), 0) << "written over the old firmware";
    // A reset after the first block forgets the erase, once.
    settings.resetAfterBlocks = 1;
    Device r("KVTC/2-5140", settings);
    ASSERT_EQ(r.init(), 0);
    EXPECT_NE(r.verify(r.program(image)), 0);
    ASSERT_EQ(r.init(2000000), 0);
    EXPECT_EQ(r.verify(r.program(image)), 0);
}

TEST(SimDevice, SilentWhileErasing) {
    DeviceSettings settings;
    settings.eraseMs = 800;
    Device d("KVTC/1-4400", settings);
    ASSERT_EQ(d.init(10000), 0);
    EXPECT_EQ(d.send(simtest::modeRequest(kAddress, 1, 38, true), 10000), -3);
    EXPECT_EQ(d.send(simtest::writeRequest(kAddress, 1, 0x2000, {0}), 10799), -3);
    EXPECT_EQ(d.at(0x2000), 0xFF) << "a request during the erase must not be carried out";
    EXPECT_EQ(d.send(simtest::modeRequest(kAddress, 2, 38, true), 10800), -2);
    // Erase time 0: the very next request is answered.
    Device quick;
    ASSERT_EQ(quick.init(5), 0);
    EXPECT_EQ(quick.send(simtest::modeRequest(kAddress, 1, 38, true), 5), -2);
}

TEST(SimDevice, RefusalsByModelCodeSettingAndCommand) {
    Device d("KVTC/1-4255");
    EXPECT_EQ(d.send(simtest::codeRequest(kAddress, 0, 0x7F, 0x4255)), 0);
    EXPECT_EQ(d.send(simtest::codeRequest(kAddress, 1, 0x7F, 0x4400)), STATUS_WRONG_MODEL);
    EXPECT_EQ(d.send(simtest::codeRequest(kAddress, 1, 0xF2, 0x4400)), STATUS_WRONG_MODEL);
    EXPECT_NE(d.at(0x1000), 0xFF) << "a refused initialise must not erase";
    EXPECT_EQ(d.send(simtest::request(kAddress, 0, 0x3C, {})), STATUS_UNKNOWN_COMMAND);

    DeviceSettings refusing;
    refusing.refusePermission = true;
    refusing.refuseVerify = true;
    Device r("KVTC/1-4255", refusing);
    EXPECT_EQ(r.send(simtest::codeRequest(kAddress, 0, 0x7F, 0x4255)), STATUS_PERMISSION_REFUSED);
    ASSERT_EQ(r.init(), 0);
    EXPECT_EQ(r.verify(r.program(Bytes(16, 0x5A))), STATUS_VERIFY_REFUSED);
}

TEST(SimDevice, CountsRepeatedRequests) {
    Device d;
    Bytes mode = simtest::modeRequest(kAddress, 0, 38, true);
    for (const Bytes& frame : {mode, mode, simtest::modeRequest(kAddress, 1, 38, true), mode}) {
        d.send(frame);  // only the second is a retry: same sequence, command and payload
    }
    EXPECT_EQ(d.sim.requests(), 4u);
    EXPECT_EQ(d.sim.repeats(), 1u);
}
