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

// What became of each of `count` mode requests: 'o' intact, 'd' dropped,
// 'c' bad checksum, 's' stale sequence (valid checksum), 'x' both.
std::string faultPattern(const SimConfig& c, int count) {
    SimController controller(c);
    std::string pattern;
    for (int i = 0; i < count; ++i) {
        Bytes frame = simtest::modeRequest(101, static_cast<uint8_t>(i), 38, true);
        auto plan = controller.onRequest(Request{frame}, 0);
        const Bytes& r = plan->bytes;
        if (r.empty()) {
            pattern += 'd';
            continue;
        }
        bool stale = r[2] != frame[4];
        bool corrupt = r[6] != simtest::sum8(r, 6);
        pattern += stale && corrupt ? 'x' : stale ? 's' : corrupt ? 'c' : 'o';
    }
    return pattern;
}

}  // namespace

TEST(SimFaults, SameSeedSameFaultsOtherSeedOthers) {
    FaultSettings faults;
    faults.dropRate = 0.2;
    faults.corruptRate = 0.2;
    faults.staleRate = 0.2;
    faults.seed = 7;
    std::string first = faultPattern(config(faults), 200);
    EXPECT_EQ(first, faultPattern(config(faults), 200));
    for (char kind : {'o', 'd', 'c', 's'}) {
        EXPECT_NE(first.find(kind), std::string::npos) << "no '" << kind << "' in " << first;
    }
    size_t drops = std::count(first.begin(), first.end(), 'd');
    EXPECT_GT(drops, 20u);
    EXPECT_LT(drops, 60u);
    faults.seed = 8;
    EXPECT_NE(first, faultPattern(config(faults), 200));
}

TEST(SimFaults, RatesOfZeroAndOne) {
    FaultSettings none;
    EXPECT_EQ(faultPattern(config(none), 50), std::string(50, 'o'));
    FaultSettings all;
    all.corruptRate = 1;
    EXPECT_EQ(faultPattern(config(all), 10), std::string(10, 'c'));
    all.staleRate = 1;
    EXPECT_EQ(faultPattern(config(all), 10), std::string(10, 'x'));
}

TEST(SimFaults, AddingAFaultKeepsTheOthersOnTheSameRequests) {
    // Every request draws all its faults, so switching one on does not move
    // the others to different requests.
    FaultSettings drops;
    drops.seed = 3;
    drops.dropRate = 0.3;
    FaultSettings both = drops;
    both.staleRate = 0.3;
    std::string dropOnly = faultPattern(config(drops), 100);
    std::string withStale = faultPattern(config(both), 100);
    for (size_t i = 0; i < dropOnly.size(); ++i) {
        EXPECT_EQ(dropOnly[i] == 'd', withStale[i] == 'd') << "request " << i + 1;
    }
}

TEST(SimFaults, DropListNamesRequestNumbersAcrossDevices) {
    FaultSettings faults;
    faults.dropRequests = {2, 5};
    SimController controller(config(faults, {101, 102}));
    std::string pattern;
    for (int i = 0; i < 6; ++i) {
        uint16_t address = i % 2 ? 102 : 101;
        auto plan = controller.onRequest(Request{simtest::modeRequest(address, 0, 38, true)}, 0);
        ASSERT_TRUE(plan);
        EXPECT_EQ(plan->number, static_cast<uint64_t>(i + 1));
        pattern += plan->bytes.empty() ? 'd' : 'o';
    }
    EXPECT_EQ(pattern, "odoodo");
    // Frames for other addresses are not ours and get no number.
    EXPECT_FALSE(controller.onRequest(Request{simtest::modeRequest(103, 0, 38, true)}, 0));
    EXPECT_EQ(controller.requests(), 6u);
}

TEST(SimFaults, DroppedReplyStillCarriesTheRequestOut) {
    FaultSettings faults;
    faults.dropRequests = {2};
    SimController controller(config(faults));
    controller.onRequest(Request{simtest::codeRequest(101, 0, 0xF2, 0x4400)}, 0);
    auto plan = controller.onRequest(Request{simtest::writeRequest(101, 1, 0x2000, {0x00})}, 0);
    EXPECT_TRUE(plan->bytes.empty());
    EXPECT_EQ(controller.device(101)->region()[0], 0x00);
}

TEST(SimFaults, CloseAfterBlocksCountsAcceptedWritesOnce) {
    SimConfig c = config({}, {101, 102});
    c.closeAfterBlocks = 3;
    SimController controller(c);
    std::string closes;
    auto send = [&](const Bytes& frame) {
        closes += controller.onRequest(Request{frame}, 0)->closeAfter ? 'C' : '.';
    };
    send(simtest::writeRequest(101, 0, 0x2000, {1}));
    send(simtest::writeRequest(101, 1, 0x1000, {1}));  // refused: outside, not counted
    send(simtest::modeRequest(102, 2, 38, true));
    send(simtest::writeRequest(102, 3, 0x2000, {1}));
    send(simtest::writeRequest(101, 0, 0x2001, {1}));
    send(simtest::writeRequest(101, 1, 0x2002, {1}));
    EXPECT_EQ(closes, "....C.");
}

TEST(SimLineTiming, DelaySplitAndGaps) {
    LineTiming timing;
    timing.delayMs = 40;
    timing.splitPieces = 3;
    timing.splitGapMs = 10;
    OutputQueue queue(timing);
    Bytes reply = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    queue.schedule(reply, 1000000, PeerAddress{}, false);
    std::vector<std::pair<int64_t, Bytes>> chunks;
    while (!queue.empty()) {
        auto chunk = queue.popDue(INT64_MAX);
        chunks.emplace_back(chunk->dueNs, chunk->bytes);
    }
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[0], std::make_pair(int64_t{41000000}, Bytes{1, 2, 3}));
    EXPECT_EQ(chunks[1], std::make_pair(int64_t{51000000}, Bytes{4, 5, 6}));
    EXPECT_EQ(chunks[2], std::make_pair(int64_t{61000000}, Bytes{7, 8, 9}));
}

TEST(SimLineTiming, NothingLeavesBeforeItIsDue) {
    LineTiming timing;
    timing.delayMs = 5;
    OutputQueue queue(timing);
    queue.schedule({1, 2}, 0, PeerAddress{}, false);
    EXPECT_FALSE(queue.popDue(4999999));
    EXPECT_TRUE(queue.popDue(5000000));
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
    while (!queue.empty()) {
        auto chunk = queue.popDue(INT64_MAX);
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

TEST(SimFaults, PermissionRefusedOnlyByTheNamedDevices) {
    SimConfig c = config(FaultSettings{}, {21, 22, 23});
    c.refusePermissionFor = {22};
    SimController controller(c);
    std::string statuses;
    for (uint16_t address : {21, 22, 23}) {
        Bytes frame = simtest::codeRequest(address, 0, 0x7F, 0x4400);
        auto plan = controller.onRequest(Request{frame}, 0);
        ASSERT_EQ(plan->bytes.size(), 9u);
        statuses += plan->bytes[7] == 0 ? 'a' : 'r';
    }
    EXPECT_EQ(statuses, "ara");
}
