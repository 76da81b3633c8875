// The real romwright-sim over UDP with seeded faults: the same seed gives the
// same replies and the same flash dump, written when SIGTERM stops it.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "SimTestFrames.h"
#include "fakes/TestEnv.h"
#include "sequence/SimProcess.h"
#include "sim/SimModel.h"

using namespace simtest;

namespace {

// A short job on a device never erased, so the block lands on the seeded old
// firmware; request 2's reply is dropped. Returns the replies and the dump.
void runSimulator(const std::string& dir, std::vector<Bytes>* replies, std::string* dump) {
    rwtest::SimProcess sim;
    ASSERT_TRUE(sim.start(std::string(ROMWRIGHT_BIN_DIR) + "/romwright-sim",
                          {"--udp", "127.0.0.2:0", "--address", "9", "--seed", "11",
                           "--corrupt-rate", "0.5", "--drop-requests", "2", "--dump-dir", dir}));
    std::optional<std::string> line = sim.readLine(5000);
    ASSERT_TRUE(line);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(std::stoi(line->substr(line->rfind(':') + 1))));
    to.sin_addr.s_addr = ::inet_addr("127.0.0.2");
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    const Bytes frames[] = {modeRequest(9, 0), codeRequest(9, 1, 0x7F, 0x4400),
                            writeRequest(9, 2, 0x2000, {0x0F, 0xF0, 0x00}),
                            request(9, 3, 0xF3, {0}), modeRequest(9, 0)};
    for (const Bytes& frame : frames) {
        ASSERT_EQ(::send(fd, frame.data(), frame.size(), 0), ssize_t(frame.size()));
        if (&frame == &frames[1]) {
            replies->emplace_back();
            continue;
        }
        pollfd p{fd, POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 5000), 1);
        Bytes reply(64);
        reply.resize(size_t(std::max<ssize_t>(::recv(fd, reply.data(), reply.size(), 0), 0)));
        ASSERT_GE(reply.size(), 7u);
        EXPECT_EQ(Bytes(reply.begin() + 1, reply.begin() + 5),
                  (Bytes{frame[3], frame[4], frame[1], frame[2]}));
        replies->push_back(reply);
    }
    ::close(fd);
    sim.stop();
    std::ifstream in(dir + "/9.bin", std::ios::binary);
    dump->assign(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(SimBinary, SeededUdpRunRepeatsExactlyAndSigtermWritesTheDump) {
    rwtest::TempDir firstDir, secondDir;
    std::vector<Bytes> first, second;
    std::string dump, again;
    ASSERT_NO_FATAL_FAILURE(runSimulator(firstDir.str(), &first, &dump));
    ASSERT_NO_FATAL_FAILURE(runSimulator(secondDir.str(), &second, &again));
    EXPECT_EQ(first, second);
    EXPECT_EQ(dump, again);
    std::string checks;
    for (const Bytes& reply : first)
        checks += reply.empty() ? '-' : reply.back() == sum8(reply, reply.size() - 1) ? 'o' : 'c';
    EXPECT_EQ(checks, "c-oco") << "seeded bad checksums, request 2 dropped";
    ASSERT_EQ(dump.size(), rw::sim::findSimModel("KVTC/1-4400")->regionSize());
    EXPECT_EQ(std::make_tuple(dump[0] & 0xF0, dump[1] & 0x0F, int(dump[2])),
              std::make_tuple(0, 0, 0));
    EXPECT_LT(std::count(dump.begin(), dump.end(), '\xFF'), long(dump.size()) / 2)
        << "old firmware kept";
}
