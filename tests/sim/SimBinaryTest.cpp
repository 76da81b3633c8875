// The real romwright-sim over UDP with seeded faults: the same seed gives the
// same replies and the same flash dump, written when SIGTERM stops it.
#include <gtest/gtest.h>

#include "SimTestFrames.h"
#include "sim/SimModel.h"
#include "support/ChildProcess.h"
#include "support/LoopbackSockets.h"
#include "support/TestEnv.h"

namespace rwtest {
namespace {

// A short job on a device never erased, so the block lands on the seeded old
// firmware; request 2's reply is dropped. Returns the replies and the dump.
void runSimulator(const std::string& dir, std::vector<Bytes>* replies, std::string* dump) {
    ChildProcess sim;
    const std::optional<std::string> endpoint =
        startSimulator(sim, {"--udp", "127.0.0.2:0", "--address", "9", "--seed", "11",
                             "--corrupt-rate", "0.5", "--drop-requests", "2", "--dump-dir", dir});
    ASSERT_TRUE(endpoint);
    const sockaddr_in to = addressOf(kPeerHost, static_cast<uint16_t>(portOf(*endpoint)));
    const Fd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ASSERT_EQ(::connect(fd.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to), 0);
    const Bytes frames[] = {modeRequest(9, 0), codeRequest(9, 1, 0x7F, 0x4400),
                            writeRequest(9, 2, 0x2000, {0x0F, 0xF0, 0x00}),
                            buildRequest(9, 3, 0xF3, {0}), modeRequest(9, 0)};
    for (const Bytes& frame : frames) {
        ASSERT_EQ(::send(fd.get(), frame.data(), frame.size(), 0), ssize_t(frame.size()));
        if (&frame == &frames[1]) {
            replies->emplace_back();
            continue;
        }
        const Bytes reply = receive(fd.get());
        ASSERT_GE(reply.size(), 7u);
        EXPECT_EQ(Bytes(reply.begin() + 1, reply.begin() + 5),
                  (Bytes{frame[3], frame[4], frame[1], frame[2]}));
        replies->push_back(reply);
    }
    sim.stop();
    *dump = readFile(dir + "/9.bin");
}

TEST(SimBinary, SeededUdpRunRepeatsExactlyAndSigtermWritesTheDump) {
    TempDir firstDir, secondDir;
    std::vector<Bytes> first, second;
    std::string dump, again;
    ASSERT_NO_FATAL_FAILURE(runSimulator(firstDir.str(), &first, &dump));
    ASSERT_NO_FATAL_FAILURE(runSimulator(secondDir.str(), &second, &again));
    EXPECT_EQ(first, second);
    EXPECT_EQ(dump, again);
    std::string checks;
    for (const Bytes& reply : first)
        checks += reply.empty()                                      ? '-'
                  : reply.back() == byteSum(reply, reply.size() - 1) ? 'o'
                                                                     : 'c';
    EXPECT_EQ(checks, "c-oco") << "seeded bad checksums, request 2 dropped";
    ASSERT_EQ(dump.size(), rw::sim::findSimModel("KVTC/1-4400")->regionSize());
    EXPECT_EQ(std::make_tuple(dump[0] & 0xF0, dump[1] & 0x0F, int(dump[2])),
              std::make_tuple(0, 0, 0));
    EXPECT_LT(std::count(dump.begin(), dump.end(), '\xFF'), long(dump.size()) / 2)
        << "old firmware kept";
}

}  // namespace
}  // namespace rwtest
