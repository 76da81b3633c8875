// Seeded reply faults, per-device refusals and the line timing of the simulator.
#include <gtest/gtest.h>

#include "SimTestFrames.h"
#include "sim/OutputQueue.h"
#include "sim/SimController.h"

namespace rwtest {
namespace {

using namespace rw::sim;

SimConfig config(FaultSettings faults, std::vector<uint16_t> addresses = {101}) {
    SimConfig c;
    c.model = findSimModel("KVTC/1-4400");
    c.addresses = std::move(addresses);
    c.faults = std::move(faults);
    return c;
}

// One mark per request: 'o' intact, 'd' dropped, 'c' bad checksum, 's' stale
// sequence, 'x' stale and bad checksum, 'r' refused, 'C' closes the connection.
std::string run(SimController& controller, const std::vector<Bytes>& frames) {
    std::string marks;
    for (const Bytes& frame : frames) {
        auto plan = controller.onRequest(Request{frame}, 0);
        const Bytes& r = plan->bytes;
        bool stale = !r.empty() && r[2] != frame[4],
             corrupt = !r.empty() && r.back() != byteSum(r, r.size() - 1);
        char mark = r.empty() ? 'd' : "ocsx"[corrupt + 2 * stale];
        marks += plan->closeAfter ? 'C' : mark == 'o' && replyStatus(r) > 0 ? 'r' : mark;
    }
    return marks;
}

FaultSettings faults(uint64_t seed, double drop, double corrupt, double stale,
                     std::set<uint64_t> list = {}) {
    FaultSettings f;
    std::tie(f.seed, f.dropRate, f.corruptRate, f.staleRate, f.dropRequests) =
        std::tie(seed, drop, corrupt, stale, list);
    return f;
}

std::string modeRun(const FaultSettings& f, int count) {
    std::vector<Bytes> frames;
    for (int i = 0; i < count; ++i) frames.push_back(modeRequest(101, uint8_t(i)));
    SimController controller(config(f));
    return run(controller, frames);
}

TEST(SimFaults, EachFaultOnAFixedSeedRepeats) {
    const struct {
        FaultSettings faults;
        std::string marks;
    } cases[] = {
        {faults(7, 0, 0, 0), std::string(16, 'o')},
        {faults(7, 0.3, 0, 0), "ooooooodooodddoo"},
        {faults(7, 0, 0, 0, {2, 5, 6}), "odoodd" + std::string(10, 'o')},
        {faults(7, 0, 0.3, 0), "coocoooooocoooco"},
        {faults(7, 0, 0, 0.3), "ossooooosooososo"},
        {faults(7, 0, 1, 1), std::string(16, 'x')},
    };
    for (const auto& c : cases) EXPECT_EQ(modeRun(c.faults, 16), c.marks);
    EXPECT_NE(modeRun(faults(8, 0.3, 0, 0), 16), "ooooooodooodddoo") << "the seed counts";
    // Adding a fault keeps the others on the same requests.
    std::string dropOnly = modeRun(faults(3, 0.3, 0, 0), 100);
    std::string withStale = modeRun(faults(3, 0.3, 0, 0.3), 100);
    for (size_t i = 0; i < dropOnly.size(); ++i)
        EXPECT_EQ(dropOnly[i] == 'd', withStale[i] == 'd') << i;
}

TEST(SimFaults, DroppedRepliesCloseAfterBlocksAndRefusingDevices) {
    SimConfig c = config(faults(1, 0, 0, 0, {4}), {101, 102, 103});
    c.closeAfterBlocks = 2;
    c.refusePermissionFor = {102};
    const std::vector<Bytes> frames = {
        codeRequest(101, 0, 0x7F, 0x4400), codeRequest(102, 0, 0x7F, 0x4400),
        codeRequest(103, 0, 0x7F, 0x4400), codeRequest(102, 1, 0xF2, 0x4400),
        writeRequest(101, 1, 0x1000, {1}), writeRequest(101, 2, 0x2000, {1}),
        writeRequest(102, 2, 0x2000, {1}), writeRequest(101, 3, 0x2001, {1}),
    };
    SimController controller(c);
    EXPECT_EQ(run(controller, frames), "orodroCo");
    EXPECT_FALSE(controller.onRequest(Request{modeRequest(104, 0)}, 0)) << "not ours";
    EXPECT_EQ(controller.requests(), frames.size());
    EXPECT_EQ(controller.device(102)->region()[1], 0xFF) << "erased although the reply was dropped";
}

TEST(SimLineTiming, DelaySplitAndPacing) {
    LineTiming timing;
    std::tie(timing.delayMs, timing.splitPieces, timing.splitGapMs) = std::make_tuple(40, 3, 10);
    OutputQueue split(timing);
    split.schedule({1, 2, 3, 4, 5, 6, 7, 8, 9}, 1000000, PeerAddress{}, false);
    EXPECT_FALSE(split.popDue(40999999)) << "nothing leaves before it is due";
    std::vector<std::pair<int64_t, Bytes>> chunks;
    while (auto chunk = split.popDue(INT64_MAX)) chunks.emplace_back(chunk->dueNs, chunk->bytes);
    EXPECT_EQ(chunks, (std::vector<std::pair<int64_t, Bytes>>{
                          {41000000, {1, 2, 3}}, {51000000, {4, 5, 6}}, {61000000, {7, 8, 9}}}));

    timing = LineTiming{};
    timing.baud = 1100;  // 10 ms per 11-bit character
    OutputQueue paced(timing);
    EXPECT_EQ(paced.receivedAt(0, 11), 110000000);
    EXPECT_EQ(paced.receivedAt(5000000, 11), 220000000) << "queued behind the previous request";
    paced.schedule({1, 2, 3}, 220000000, PeerAddress{}, false);
    paced.schedule({}, 0, PeerAddress{}, true);  // a dropped reply that still closes
    std::vector<std::pair<int64_t, size_t>> due;
    while (auto chunk = paced.popDue(INT64_MAX))
        due.emplace_back(chunk->dueNs / 1000000, chunk->bytes.size() + 10 * chunk->closeAfter);
    EXPECT_EQ(due,
              (std::vector<std::pair<int64_t, size_t>>{{230, 1}, {240, 1}, {250, 1}, {250, 10}}));

    timing.datagram = true;
    OutputQueue datagram(timing);
    datagram.schedule({1, 2, 3, 4, 5, 6, 7}, 0, PeerAddress{1, 0x1234}, false);
    auto whole = datagram.popDue(INT64_MAX);
    EXPECT_EQ(std::make_tuple(whole->dueNs, whole->bytes.size(), whole->peer.port),
              std::make_tuple(int64_t{70000000}, size_t{7}, uint16_t{0x1234}));
}

}  // namespace
}  // namespace rwtest
