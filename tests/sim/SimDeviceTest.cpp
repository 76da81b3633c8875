// One simulated controller: NOR flash, region limits, verify, erase silence.
#include <gtest/gtest.h>

#include "SimTestFrames.h"
#include "sim/Crc8Maxim.h"
#include "sim/SimDevice.h"

using namespace rw::sim;
using simtest::Bytes;

namespace {

constexpr uint16_t kAddress = 101;

const SimModel& model(const char* name) {
    return *findSimModel(name);
}

struct Device {
    explicit Device(const char* modelName = "KVTC/1-4400", DeviceSettings settings = {})
        : sim(kAddress, model(modelName), settings) {}

    // Sends one request at nowMs (default: the time of the previous one); the
    // reply's status, -2 for the short acknowledge, -3 when the device stayed
    // silent.
    int send(const Bytes& frame, int64_t nowMs = -1) {
        if (nowMs >= 0) lastMs = nowMs;
        SimDevice::Response response = sim.handle(Request{frame}, lastMs);
        if (response.silent) return -3;
        if (response.reply.size() == 7) return -2;
        return simtest::replyStatus(response.reply);
    }
    int init(uint16_t code, int64_t nowMs = -1) {
        return send(simtest::codeRequest(kAddress, 0, 0xF2, code), nowMs);
    }
    int write(uint32_t at, const Bytes& data) {
        return send(simtest::writeRequest(kAddress, 1, at, data));
    }
    int verify(uint8_t crc) { return send(simtest::verifyRequest(kAddress, 2, crc)); }
    uint8_t at(uint32_t address) const { return sim.region()[address - sim.model().regionStart()]; }

    SimDevice sim;
    int64_t lastMs = 0;
};

// The region's CRC with the image at its start and 0xFF everywhere else.
uint8_t regionCrc(const SimModel& m, const Bytes& image) {
    Bytes region(m.regionSize(), 0xFF);
    std::copy(image.begin(), image.end(), region.begin());
    return crc8Maxim(region.data(), region.size() - 1);
}

}  // namespace

TEST(SimModelTable, RegionsMatchTheModelRows) {
    struct Row {
        const char* name;
        uint16_t code;
        uint32_t start, end, crcAt;
        int eraseMs;
    };
    const Row rows[] = {
        {"KVTC/1-4400", 0x4400, 0x2000, 0x7A00, 0x79FF, 1500},
        {"KVTC/1-4255", 0x4255, 0x1000, 0x7A00, 0x79FF, 1500},
        {"KVTC/1-3000", 0x3000, 0x2000, 0x7A00, 0x79FF, 1500},
        {"KVTC/2-5140", 0x5140, 0xFD0000, 0xFEFF00, 0xFEFEFF, 800},
        {"KVTC/2-5240", 0x5240, 0xFD0000, 0xFEFF00, 0xFEFEFF, 800},
    };
    ASSERT_EQ(simModels().size(), 5u);
    for (const Row& row : rows) {
        const SimModel* m = findSimModel(row.name);
        ASSERT_NE(m, nullptr) << row.name;
        EXPECT_EQ(m->code, row.code);
        EXPECT_EQ(m->regionStart(), row.start);
        EXPECT_EQ(m->regionEnd(), row.end);
        EXPECT_EQ(m->crcAddress(), row.crcAt);
        EXPECT_EQ(m->defaultEraseMs, row.eraseMs);
    }
    EXPECT_EQ(findSimModel("KVTC/1-440"), nullptr);
}

TEST(SimDevice, WritesClearBitsOnly) {
    Device d;
    ASSERT_EQ(d.init(0x4400), 0);
    EXPECT_EQ(d.at(0x2000), 0xFF);
    EXPECT_EQ(d.write(0x2000, {0xF0, 0x0F, 0xAA}), 0);
    EXPECT_EQ(d.write(0x2000, {0x3C, 0xFF, 0x55}), 0);
    EXPECT_EQ(d.at(0x2000), 0x30);
    EXPECT_EQ(d.at(0x2001), 0x0F);
    EXPECT_EQ(d.at(0x2002), 0x00);
    EXPECT_EQ(d.at(0x2003), 0xFF);
    // An erase brings every bit back.
    ASSERT_EQ(d.init(0x4400, 2000000), 0);
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
        ASSERT_EQ(d.init(d.sim.model().code), 0);
        Bytes before = d.sim.region();
        int status = d.write(c.at, Bytes(c.count, 0x00));
        EXPECT_EQ(status == 0, c.accepted) << c.modelName << " at " << std::hex << c.at;
        EXPECT_NE(status, -1);
        if (!c.accepted) {
            EXPECT_EQ(d.sim.region(), before) << c.modelName;
        }
    }
}

TEST(SimDevice, VerifyNeedsTheCrcInTheRequestAndInTheLastByte) {
    const SimModel& m = model("KVTC/1-4400");
    Bytes image = {0x75, 0x81, 0x60, 0x02, 0x20, 0x00};
    uint8_t crc = regionCrc(m, image);
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
        ASSERT_EQ(d.init(m.code), 0);
        if (c.writeImage) {
            ASSERT_EQ(d.write(m.regionStart(), image), 0);
        }
        if (c.storedDelta >= 0) {
            ASSERT_EQ(d.write(m.crcAddress(), {static_cast<uint8_t>(crc + c.storedDelta)}), 0);
        }
        int status = d.verify(static_cast<uint8_t>(crc + c.requestDelta));
        EXPECT_EQ(status == 0, c.passes) << c.name;
        EXPECT_NE(status, -1) << c.name;
        EXPECT_EQ(d.sim.verifyResult(),
                  c.passes ? SimDevice::Verify::Passed : SimDevice::Verify::Failed)
            << c.name;
    }
}

TEST(SimDevice, OldFirmwareCannotPassWithoutAnErase) {
    const SimModel& m = model("KVTC/2-5140");
    DeviceSettings settings;
    settings.firmwareSeed = 99;
    Device d("KVTC/2-5140", settings);
    Bytes image(64, 0x12);
    uint8_t crc = regionCrc(m, image);
    ASSERT_EQ(d.write(m.regionStart(), image), 0);
    ASSERT_EQ(d.write(m.crcAddress(), {crc}), 0);
    EXPECT_NE(d.verify(crc), 0);
    // The old firmware is seeded: the same seed gives the same bytes.
    Device twin("KVTC/2-5140", settings);
    Device other("KVTC/2-5140", DeviceSettings{});
    EXPECT_EQ(twin.sim.region(), Device("KVTC/2-5140", settings).sim.region());
    EXPECT_NE(twin.sim.region(), other.sim.region());
}

TEST(SimDevice, SilentWhileErasing) {
    DeviceSettings settings;
    settings.eraseMs = 800;
    Device d("KVTC/1-4400", settings);
    ASSERT_EQ(d.init(0x4400, 10000), 0);
    EXPECT_EQ(d.send(simtest::modeRequest(kAddress, 1, 38, true), 10000), -3);
    EXPECT_EQ(d.send(simtest::writeRequest(kAddress, 1, 0x2000, {0}), 10799), -3);
    EXPECT_EQ(d.at(0x2000), 0xFF) << "a request during the erase must not be carried out";
    EXPECT_EQ(d.send(simtest::modeRequest(kAddress, 2, 38, true), 10800), -2);
    // Erase time 0: the very next request is answered.
    Device quick;
    ASSERT_EQ(quick.init(0x4400, 5), 0);
    EXPECT_EQ(quick.send(simtest::modeRequest(kAddress, 1, 38, true), 5), -2);
}

TEST(SimDevice, ModelCodeAndPermission) {
    Device d("KVTC/1-4255");
    EXPECT_EQ(d.send(simtest::codeRequest(kAddress, 0, 0x7F, 0x4255)), 0);
    EXPECT_EQ(d.send(simtest::codeRequest(kAddress, 1, 0x7F, 0x4400)), STATUS_WRONG_MODEL);
    EXPECT_EQ(d.init(0x4400), STATUS_WRONG_MODEL);
    EXPECT_NE(d.at(0x1000), 0xFF) << "a refused initialise must not erase";

    DeviceSettings refusing;
    refusing.refusePermission = true;
    Device r("KVTC/1-4255", refusing);
    EXPECT_EQ(r.send(simtest::codeRequest(kAddress, 0, 0x7F, 0x4255)), STATUS_PERMISSION_REFUSED);
    EXPECT_EQ(r.send(simtest::request(kAddress, 0, 0x3C, {})), STATUS_UNKNOWN_COMMAND);
}

TEST(SimDevice, RefuseVerifyAndResetAfterBlocks) {
    const SimModel& m = model("KVTC/1-4400");
    Bytes image(16, 0x5A);
    uint8_t crc = regionCrc(m, image);

    DeviceSettings refusing;
    refusing.refuseVerify = true;
    Device r("KVTC/1-4400", refusing);
    ASSERT_EQ(r.init(m.code), 0);
    ASSERT_EQ(r.write(m.regionStart(), image), 0);
    ASSERT_EQ(r.write(m.crcAddress(), {crc}), 0);
    EXPECT_EQ(r.verify(crc), STATUS_VERIFY_REFUSED);

    DeviceSettings resetting;
    resetting.resetAfterBlocks = 1;
    Device d("KVTC/1-4400", resetting);
    ASSERT_EQ(d.init(m.code), 0);
    Bytes erased = d.sim.region();
    ASSERT_EQ(d.write(m.regionStart(), image), 0);
    EXPECT_NE(d.sim.region(), erased) << "the region holds the old firmware again";
    ASSERT_EQ(d.write(m.crcAddress(), {crc}), 0);
    EXPECT_NE(d.verify(crc), 0);
    // The reset happens once: a new erase and a rewrite pass.
    ASSERT_EQ(d.init(m.code, 2000000), 0);
    ASSERT_EQ(d.write(m.regionStart(), image), 0);
    ASSERT_EQ(d.write(m.crcAddress(), {crc}), 0);
    EXPECT_EQ(d.verify(crc), 0);
}

TEST(SimDevice, CountsRepeatedRequests) {
    Device d;
    Bytes mode = simtest::modeRequest(kAddress, 0, 38, true);
    d.send(mode);
    d.send(mode);  // a retry: same sequence, command and payload
    d.send(simtest::modeRequest(kAddress, 1, 38, true));
    d.send(mode);
    EXPECT_EQ(d.sim.requests(), 4u);
    EXPECT_EQ(d.sim.repeats(), 1u);
}
