// One simulated controller: NOR flash, region limits, verify, erase silence, refusals.
#include <gtest/gtest.h>

#include "SimTestFrames.h"
#include "sim/Crc8Maxim.h"
#include "sim/SimDevice.h"

namespace rwtest {
namespace {

using namespace rw::sim;

constexpr int kSilent = -3, kShortAck = -2;

DeviceSettings settings(int eraseMs, bool refuse, int resetAfterBlocks, uint64_t firmwareSeed) {
    DeviceSettings s;
    std::tie(s.eraseMs, s.refusePermission, s.refuseVerify, s.resetAfterBlocks, s.firmwareSeed) =
        std::make_tuple(eraseMs, refuse, refuse, resetAfterBlocks, firmwareSeed);
    return s;
}

struct Device {
    explicit Device(const char* modelName = "KVTC/1-4400", DeviceSettings settings = {})
        : sim(101, *findSimModel(modelName), settings), m(sim.model()) {}

    // The reply's status, kShortAck or kSilent, at nowMs (default: the previous request's time).
    int send(const Bytes& frame, int64_t nowMs = -1) {
        lastMs = nowMs >= 0 ? nowMs : lastMs;
        SimDevice::Response response = sim.handle(Request{frame}, lastMs);
        if (response.silent) return kSilent;
        return response.reply.size() == 7 ? kShortAck : replyStatus(response.reply);
    }
    int init(int64_t nowMs = -1) { return send(codeRequest(101, 0, 0xF2, m.code), nowMs); }
    int write(uint32_t at, const Bytes& data) { return send(writeRequest(101, 1, at, data)); }
    int verify(uint8_t crc) { return send(buildRequest(101, 2, 0xF3, {crc})); }
    // Writes image at the region start and its CRC plus storedDelta into the last
    // byte, then verifies with the CRC plus requestDelta; the verify status.
    int program(const Bytes& image, int storedDelta = 0, int requestDelta = 0) {
        Bytes region(m.regionSize(), 0xFF);
        std::copy(image.begin(), image.end(), region.begin());
        uint8_t crc = crc8Maxim(region.data(), region.size() - 1);
        EXPECT_EQ(write(m.regionStart(), image), 0);
        EXPECT_EQ(write(m.crcAddress(), {uint8_t(crc + storedDelta)}), 0);
        return verify(uint8_t(crc + requestDelta));
    }

    SimDevice sim;
    const SimModel& m;
    int64_t lastMs = 0;
};

TEST(SimDevice, NorWritesInsideTheRegionOnly) {
    Device nor;
    ASSERT_EQ(nor.init(), 0);
    EXPECT_EQ(nor.write(0x2000, {0xF0, 0x0F, 0xAA}), 0);
    EXPECT_EQ(nor.write(0x2000, {0x3C, 0xFF, 0x55}), 0);
    EXPECT_EQ(Bytes(nor.sim.region().begin(), nor.sim.region().begin() + 4),
              (Bytes{0x30, 0x0F, 0x00, 0xFF}));
    ASSERT_EQ(nor.init(2000000), 0);
    EXPECT_EQ(nor.sim.region()[0], 0xFF);
    for (auto [modelName, at, count, accepted] :
         {std::tuple{"KVTC/1-4400", 0x79FFu, size_t{1}, true},
          {"KVTC/1-4400", 0x1FFF, 1, false},
          {"KVTC/1-4400", 0x79FF, 2, false},
          {"KVTC/1-4255", 0x1000, 16, true},
          {"KVTC/1-4255", 0x0FFF, 2, false},
          {"KVTC/2-5140", 0xFEFEFF, 1, true},
          {"KVTC/2-5140", 0xFEFF00, 1, false},
          {"KVTC/2-5240", 0x00FD00, 1, false}}) {
        Device d(modelName);
        ASSERT_EQ(d.init(), 0);
        SCOPED_TRACE(modelName + (" at " + std::to_string(at)));
        EXPECT_EQ(d.write(at, Bytes(count, 0x00)), accepted ? 0 : kStatusOutsideRegion);
        EXPECT_EQ(std::count(d.sim.region().begin(), d.sim.region().end(), 0xFF),
                  long(d.m.regionSize() - (accepted ? count : 0)));
    }
}

TEST(SimDevice, VerifyNeedsTheCrcInTheRequestAndInTheLastByte) {
    for (auto [storedDelta, requestDelta, status] : {std::tuple{0, 0, 0},
                                                     {0, 1, int(kStatusVerifyMismatch)},
                                                     {1, 0, int(kStatusVerifyMismatch)},
                                                     {1, 1, int(kStatusVerifyMismatch)}}) {
        Device d;
        ASSERT_EQ(d.init(), 0);
        EXPECT_EQ(d.program({0x75, 0x81, 0x60, 0x02}, storedDelta, requestDelta), status);
        EXPECT_EQ(d.sim.verifyResult(),
                  status ? SimDevice::Verify::Failed : SimDevice::Verify::Passed);
    }
}

TEST(SimDevice, SilentWhileErasing) {
    Device d("KVTC/1-4400", settings(800, false, 0, 0));
    ASSERT_EQ(d.init(10000), 0);
    EXPECT_EQ(d.send(modeRequest(101, 1), 10000), kSilent);
    EXPECT_EQ(d.send(writeRequest(101, 1, 0x2000, {0}), 10799), kSilent);
    EXPECT_EQ(d.sim.region()[0], 0xFF) << "a request during the erase must not be carried out";
    EXPECT_EQ(d.send(modeRequest(101, 2), 10800), kShortAck);
    Device quick;
    ASSERT_EQ(quick.init(5), 0);
    EXPECT_EQ(quick.send(modeRequest(101, 1), 5), kShortAck);
}

TEST(SimDevice, RefusalsAndOldFirmware) {
    Device d("KVTC/1-4255", settings(0, false, 0, 99));
    EXPECT_EQ(d.sim.region(), Device("KVTC/1-4255", settings(0, false, 0, 99)).sim.region());
    EXPECT_NE(d.sim.region(), Device("KVTC/1-4255").sim.region());
    EXPECT_EQ(d.send(codeRequest(101, 0, 0x7F, 0x4255)), 0);
    EXPECT_EQ(d.send(codeRequest(101, 1, 0x7F, 0x4400)), kStatusWrongModel);
    EXPECT_EQ(d.send(codeRequest(101, 1, 0xF2, 0x4400)), kStatusWrongModel);
    EXPECT_EQ(d.send(buildRequest(101, 0, 0x3C, {})), kStatusUnknownCommand);
    EXPECT_NE(d.program(Bytes(16, 0x12)), 0)
        << "written over the old firmware: a refused initialise must not erase";

    Device r("KVTC/1-4255", settings(0, true, 0, 0));
    EXPECT_EQ(r.send(codeRequest(101, 0, 0x7F, 0x4255)), kStatusPermissionRefused);
    ASSERT_EQ(r.init(), 0);
    EXPECT_EQ(r.program(Bytes(16, 0x5A)), kStatusVerifyRefused);
}

TEST(SimDevice, ResetAfterBlocksForgetsTheEraseOnceAndRepeatsAreCounted) {
    Device d("KVTC/2-5140", settings(0, false, 1, 5));
    for (int job = 0; job < 2; ++job) {
        ASSERT_EQ(d.init(job * 2000000), 0);
        EXPECT_EQ(d.program(Bytes(64, 0x12)) == 0, job == 1) << "job " << job;
    }
    Device r;
    for (const Bytes& frame : {modeRequest(101, 0), modeRequest(101, 0), modeRequest(101, 1)})
        r.send(frame);
    EXPECT_EQ(std::make_pair(r.sim.requests(), r.sim.repeats()),
              std::make_pair(uint64_t{3}, uint64_t{1}));
}

}  // namespace
}  // namespace rwtest
