// The simulator in-process: its devices' NOR flash, region limits, verify, erase
// silence and refusals, and the seeded reply faults. Requests and
// CRCs come from the test support's reference code, apart from the simulator's own.
#include <gtest/gtest.h>

#include "sim/SimController.h"
#include "support/ReplyBuilder.h"
#include "support/TestImages.h"

namespace rwtest {
namespace {

using namespace rw::sim;

Bytes code(uint8_t command, uint16_t model, uint16_t address = 101) {
    return buildRequest(address, 0, command, {uint8_t(model >> 8), uint8_t(model)});
}
Bytes write(uint32_t at, const Bytes& data, uint16_t address = 101) {
    Bytes payload = {uint8_t(at >> 16), uint8_t(at >> 8), uint8_t(at), 0, uint8_t(data.size())};
    for (const uint8_t byte : data) payload.push_back(byte);
    return buildRequest(address, 0, 0xF0, payload);
}
// A whole job for `image` on device 101: initialise, the image at the region start,
// the region's CRC plus storedDelta into its last byte, then verify with the CRC
// plus requestDelta.
std::vector<Bytes> job(const SimModel& m, const Bytes& image, int storedDelta = 0,
                       int requestDelta = 0) {
    const uint8_t crc = crc8Reference(image, m.regionSize() - 1 - image.size());
    return {code(0xF2, m.code), write(m.regionStart(), image),
            write(m.crcAddress(), {uint8_t(crc + storedDelta)}),
            buildRequest(101, 0, 0xF3, {uint8_t(crc + requestDelta)})};
}

SimConfig config(const char* model = "KVTC/1-4400", std::vector<uint16_t> addresses = {101}) {
    SimConfig c;
    c.model = findSimModel(model);
    c.addresses = std::move(addresses);
    return c;
}

// One mark per request: a full reply's status as a hex digit, 'a' for the short
// acknowledge, '-' for silence or a dropped reply, 'c' for a bad checksum, 's' for
// a stale sequence, 'x' for both, 'C' for a reply that closes the connection.
// Request i arrives at i * stepMs.
std::string run(SimController& sim, const std::vector<Bytes>& frames, int64_t stepMs = 0) {
    std::string marks;
    for (size_t i = 0; i < frames.size(); ++i) {
        const auto plan = sim.onRequest(Request{frames[i]}, int64_t(i) * stepMs);
        const Bytes& r = plan->bytes;
        const int faults =
            r.empty() ? 0 : (r.back() != byteSum(r, r.size() - 1)) + 2 * (r[2] != frames[i][4]);
        marks += plan->closeAfter ? 'C'
                 : r.empty()      ? '-'
                 : faults != 0    ? "csx"[faults - 1]
                 : r.size() == 7  ? 'a'
                                  : "0123456789abcdef"[r[7] & 15];
    }
    return marks;
}

TEST(SimDevice, NorWritesClearBitsInsideTheRegionOnly) {
    SimController nor(config());
    EXPECT_EQ(run(nor, {code(0xF2, 0x4400), write(0x2000, {0xF0, 0x0F, 0xAA}),
                        write(0x2000, {0x3C, 0xFF, 0x55})}),
              "000");
    const Bytes& region = nor.device(101)->region();
    EXPECT_EQ(Bytes(region.begin(), region.begin() + 4), (Bytes{0x30, 0x0F, 0x00, 0xFF}));
    // {model, writes after an initialise, their marks, bytes they cleared}
    const std::tuple<const char*, std::vector<Bytes>, std::string, long> limits[] = {
        {"KVTC/1-4400", {write(0x79FF, {0}), write(0x1FFF, {0}), write(0x79FF, {0, 0})}, "033", 1},
        {"KVTC/2-5140", {write(0xFEFEFF, {0}), write(0xFEFF00, {0})}, "03", 1},
        {"KVTC/2-5240", {write(0xFD0000, {0}), write(0x00FD00, {0})}, "03", 1}};
    for (const auto& [model, frames, marks, cleared] : limits) {
        SimController sim(config(model));
        const SimDevice& d = *sim.device(101);
        ASSERT_EQ(run(sim, {code(0xF2, d.model().code)}), "0");
        EXPECT_EQ(run(sim, frames), marks) << model;
        EXPECT_EQ(std::count(d.region().begin(), d.region().end(), 0), cleared) << model;
    }
}

TEST(SimDevice, VerifyPassesOnlyWithTheRegionsCrcInTheRequestAndInTheLastByte) {
    // {model, CRC byte written off by, request off by, refusing every verify, forgetting
    // the erase after this many blocks (once), the verify's status}
    const std::tuple<const char*, int, int, bool, int, char> cases[] = {
        {"KVTC/1-4400", 0, 0, false, 0, '0'}, {"KVTC/2-5240", 0, 0, false, 0, '0'},
        {"KVTC/1-4400", 0, 1, false, 0, '4'}, {"KVTC/1-4400", 1, 0, false, 0, '4'},
        {"KVTC/1-4400", 1, 1, false, 0, '4'}, {"KVTC/2-5240", -1, 0, false, 0, '4'},
        {"KVTC/1-4400", 0, 0, true, 0, '5'},  {"KVTC/2-5140", 0, 0, false, 1, '4'}};
    for (const auto& [model, storedDelta, requestDelta, refuse, resetAfter, status] : cases) {
        SimConfig c = config(model);
        c.device.refuseVerify = refuse;
        c.device.resetAfterBlocks = resetAfter;
        SimController sim(c);
        const Bytes image = {0x75, 0x81, 0x60, 0x02};
        EXPECT_EQ(run(sim, job(*c.model, image, storedDelta, requestDelta)).back(), status)
            << model << " " << storedDelta << requestDelta << refuse << resetAfter;
        EXPECT_EQ(sim.allVerified(), status == '0');
        EXPECT_EQ(run(sim, job(*c.model, image)).back(), refuse ? '5' : '0') << "a second job";
        EXPECT_FALSE((run(sim, {code(0xF2, c.model->code)}), sim.allVerified())) << "erased";
    }
}

TEST(SimDevice, SilentWhileErasingAndRefusals) {
    SimConfig c = config();
    c.device.eraseMs = 800;
    SimController erasing(c);  // requests at 0, 400 and 800 ms
    const Bytes mode = buildRequest(101, 0, 0x4B, {1, 38, 1});
    EXPECT_EQ(run(erasing, {code(0xF2, 0x4400), write(0x2000, {0}), mode}, 400), "0-a");

    // Wrong model codes, an unknown command, a refusing device; a refused
    // initialise erases nothing, so the old firmware fails the verify.
    c = config("KVTC/1-4255", {101, 102});
    c.refusePermissionFor = {102};
    c.closeAfterBlocks = 2;  // the second block accepted on the link closes it
    SimController refusing(c);
    std::vector<Bytes> frames = {code(0x7F, 0x4255), code(0x7F, 0x4400), code(0xF2, 0x4400),
                                 buildRequest(101, 0, 0x3C, {}), code(0x7F, 0x4255, 102)};
    for (const Bytes& frame : job(*c.model, Bytes(16, 0x12))) frames.push_back(frame);
    frames.erase(frames.begin() + 5);  // the job's initialise
    EXPECT_EQ(run(refusing, frames), "011f20C4");
}

TEST(SimFaults, EachFaultOnAFixedSeedRepeats) {
    // {seed, drop rate, corrupt rate, stale rate, dropped request numbers, marks}
    for (const auto& [seed, drop, corrupt, stale, list, marks] :
         {std::tuple{7u, 0.3, 0.0, 0.0, std::set<uint64_t>{}, "aaaaaaa-aaa---aa"},
          {7, 0, 0, 0, {2, 5, 6}, "a-aa--aaaaaaaaaa"},
          {7, 0, 0.3, 0, {}, "caacaaaaaacaaaca"},
          {7, 0, 0, 0.3, {}, "assaaaaasaaasasa"}}) {
        SimConfig c = config();
        std::tie(c.faults.seed, c.faults.dropRate, c.faults.corruptRate, c.faults.staleRate,
                 c.faults.dropRequests) = std::tie(seed, drop, corrupt, stale, list);
        SimController sim(c);
        std::vector<Bytes> frames;
        for (uint8_t i = 0; i < 16; ++i) frames.push_back(buildRequest(101, i, 0x4B, {1, 38, 1}));
        EXPECT_EQ(run(sim, frames), marks) << seed << " " << drop << corrupt << stale;
    }
}

}  // namespace
}  // namespace rwtest
