// Seeded reply faults and the line timing of the simulator, in-process.
#include <gtest/gtest.h>

#include "SimTestFrames.h"
#include "sim/OutputQueue.h"
#include "sim/SimController.h"

using namespace rw::sim;
using simtest::Bytes;

namespace {

SimConfig config(FaultSettings faults, std::vector<uint16_t> addresses = {101}) {
    SimConfig c;
    c.model = findSimModel("KVTC/1-4400");
    c.addresses = std::move(addresses);
    c.faults = std::move(faults);
    return c;
}

FaultSettings faults(uint64_t seed, double drop, double corrupt, double stale) {
    FaultSettings f;
    f.seed = seed;
    f.dropRate = drop;
    f.corruptRate = corrupt;
    f.staleRate = stale;
    return f;
}

// What became of each of `count` mode requests: 'o' intact, 'd' dropped,
// 'c' bad checksum, 's' stale sequence (valid checksum), 'x' both.
std::string faultPattern(const FaultSettings& f, int count) {
    SimController controller(config(f));
    std::string pattern;
    for (int i = 0; i < count; ++i) {
        Bytes frame = simtest::modeRequest(101, static_cast<uint8_t>(i), 38, true);
        const Bytes r = controller.onRequest(Request{frame}, 0)->bytes;
        bool stale = !r.empty() && r[2] != frame[4];
        bool corrupt = !r.empty() && r[6] != simtest::sum8(r, 6);
        pattern += r.empty() ? 'd' : stale && corrupt ? 'x' : stale ? 's' : corrupt ? 'c' : 'o';
    }
    return pattern;
}

// Sends each frame to a controller; one character per reply plan from `mark`.
template <typename Mark>
std::string run(const SimConfig& c, const std::vector<Bytes>& frames, Mark mark) {
    SimController controller(c);
    std::string marks;
    for (const Bytes& frame : frames) marks += mark(*controller.onRequest(Request{frame}, 0));
    return marks;
}

}  // namespace

TEST(SimFaults, SameSeedSameFaultsOtherSeedOthers) {
    std::string first = faultPattern(faults(7, 0.2, 0.2, 0.2), 200);
    EXPECT_EQ(first, faultPattern(faults(7, 0.2, 0.2, 0.2), 200));
    EXPECT_NE(first, faultPattern(faults(8, 0.2, 0.2, 0.2), 200));
    for (char kind : {'o', 'd', 'c', 's'}) {
        EXPECT_NE(first.find(kind), std::string::npos) << "no '" << kind << "' in " << first;
    }
    size_t drops = std::count(first.begin(), first.end(), 'd');
    EXPECT_GT(drops, 20u);
    EXPECT_LT(drops, 60u);
    // Rates of zero and one.
    EXPECT_EQ(faultPattern(faults(1, 0, 0, 0), 50), std::string(50, 'o'));
    EXPECT_EQ(faultPattern(faults(1, 0, 1, 0), 10), std::string(10, 'c'));
    EXPECT_EQ(faultPattern(faults(1, 0, 1, 1), 10), std::string(10, 'x'));
}

TEST(SimFaults, AddingAFaultKeepsTheOthersOnTheSameRequests) {
    std::string dropOnly = faultPattern(faults(3, 0.3, 0, 0), 100);
    std::string withStale = faultPattern(faults(3, 0.3, 0, 0.3), 100);
    for (size_t i = 0; i < dropOnly.size(); ++i) {
        EXPECT_EQ(dropOnly[i] == 'd', withStale[i] == 'd') << "request " << i + 1;
    }
}

TEST(SimFaults, DropListNamesRequestNumbersAcrossDevices) {
    FaultSettings f;
    f.dropRequests = {2, 5};
    SimController controller(config(f, {101, 102}));
    std::string pattern;
    for (int i = 0; i < 6; ++i) {
        // Request 2 erases device 102: carried out although its reply is dropped.
        Bytes frame = i == 1 ? simtest::codeRequest(102, 0, 0xF2, 0x4400)
                             : simtest::modeRequest(i % 2 ? 102 : 101, 0, 38, true);
        auto plan = controller.onRequest(Request{frame}, 0);
        ASSERT_TRUE(plan);
        EXPECT_EQ(plan->number, static_cast<uint64_t>(i + 1));
        pattern += plan->bytes.empty() ? 'd' : 'o';
    }
    EXPECT_EQ(pattern, "odoodo");
    const Bytes& erased = controller.device(102)->region();
    EXPECT_EQ(std::count(erased.begin(), erased.end(), 0xFF), static_cast<long>(erased.size()));
    // Frames for other addresses are not ours and get no number.
    EXPECT_FALSE(controller.onRequest(Request{simtest::modeRequest(103, 0, 38, true)}, 0));
    EXPECT_EQ(controller.requests(), 6u);
}

TEST(SimFaults, CloseAfterBlocksCountsAcceptedWritesOnce) {
    SimConfig c = config({}, {101, 102});
    c.closeAfterBlocks = 3;
    using simtest::writeRequest;
    std::vector<Bytes> frames = {
        writeRequest(101, 0, 0x2000, {1}),
        writeRequest(101, 1, 0x1000, {1}),  // refused: outside, not counted
        simtest::modeRequest(102, 2, 38, true),
        writeRequest(102, 3, 0x2000, {1}),
        writeRequest(101, 0, 0x2001, {1}),
        writeRequest(101, 1, 0x2002, {1}),
    };
    EXPECT_EQ(run(c, frames, [](const ReplyPlan& p) { return p.closeAfter ? 'C' : '.'; }),
              "....C.");
}

TEST(SimFaults, PermissionRefusedOnlyByTheNamedDevices) {
    SimConfig c = config({}, {21, 22, 23});
    c.refusePermissionFor = {22};
    std::vector<Bytes> frames;
    for (uint16_t address : {21, 22, 23}) {
        frames.push_back(simtest::codeRequest(address, 0, 0x7F, 0x4400));
    }
    EXPECT_EQ(run(c, frames,
                  [](const ReplyPlan& p) { return simtest::replyStatus(p.bytes) ? 'r' : 'a'; }),
              "ara");
}

TEST(SimLineTiming, DelaySplitAndGaps) {
    LineTiming timing;
    timing.delayMs = 40;
    timing.splitPieces = 3;
    timing.splitGapMs = 10;
    OutputQueue queue(timing);
    queue.schedule({1, 2, 3, 4, 5, 6, 7, 8, 9}, 1000000, PeerAddress{}, false);
    EXPECT_FALSE(queue.popDue(40999999)) << "nothing leaves before it is due";
    std::vector<std::pair<int64_t, Bytes>> chunks;
    while (auto chunk = queue.popDue(INT64_MAX)) chunks.emplace_back(chunk->dueNs, chunk->bytes);
    EXPECT_EQ(chunks, (std::vector<std::pair<int64_t, Bytes>>{
                          {41000000, {1, 2, 3}}, {51000000, {4, 5, 6}}, {61000000, {7, 8, 9}}}));
}

TEST(SimLineTiming, PacedStreamSendsByteByByte) {
    LineTiming timing;
    timing.baud = 1100;  // 10 ms per 11-bit character
    OutputQueue queue(timing);
    ASSERT_EQ(queue.charNs(), 10000000);
    // An 11-byte request arriving at once has fully come in after 110 ms, a
    // second one queued behind it after 220 ms.
    EXPECT_EQ(queue.receivedAt(0, 11), 110000000);
    EXPECT_EQ(queue.receivedAt(5000000, 11), 220000000);
    queue.schedule({1, 2, 3}, 220000000, PeerAddress{}, false);
    // A second reply starts only after the first one's last byte.
    queue.schedule({4}, 0, PeerAddress{}, true);
    std::vector<int64_t> due;
    bool closeSeen = false;
    while (auto chunk = queue.popDue(INT64_MAX)) {
        EXPECT_EQ(chunk->bytes.size(), 1u);
        due.push_back(chunk->dueNs / 1000000);
        closeSeen = chunk->closeAfter;
    }
    EXPECT_EQ(due, (std::vector<int64_t>{230, 240, 250, 260}));
    EXPECT_TRUE(closeSeen);
}

TEST(SimLineTiming, PacedDatagramLeavesWhole) {
    LineTiming timing;
    timing.baud = 1100;
    timing.datagram = true;
    OutputQueue queue(timing);
    queue.schedule({1, 2, 3, 4, 5, 6, 7}, 0, PeerAddress{0x0100007F, 0x1234}, false);
    auto chunk = queue.popDue(INT64_MAX);
    EXPECT_EQ(chunk->dueNs, 70000000);
    EXPECT_EQ(chunk->bytes.size(), 7u);
    EXPECT_EQ(chunk->peer.port, 0x1234);
    // A dropped reply that must still close the connection leaves an empty chunk.
    queue.clear();
    queue.schedule({}, 0, PeerAddress{}, true);
    auto closing = queue.popDue(INT64_MAX);
    ASSERT_TRUE(closing);
    EXPECT_TRUE(closing->bytes.empty());
    EXPECT_TRUE(closing->closeAfter);
}
