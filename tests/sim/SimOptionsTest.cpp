// The simulator's command line.
#include <gtest/gtest.h>

#include <sstream>

#include "sim/SimOptions.h"

namespace rwtest {
namespace {

using namespace rw::sim;

bool parse(const std::string& line, SimOptions* options) {
    std::istringstream words(line);
    std::string error;
    bool ok = parseSimOptions({std::istream_iterator<std::string>(words), {}}, *options, error);
    EXPECT_EQ(ok, error.empty()) << line << ": " << error;
    return ok;
}

TEST(SimOptions, UsageErrors) {
    auto rejected = [](const std::string& line) {
        SimOptions options;
        return !parse(line, &options);
    };
    for (const char* line :
         {"", "--address 5", "--tcp 127.0.0.2:4000", "--tcp 127.0.0.2:70000 --address 5",
          "--tcp 127.0.0.2:1 --udp 127.0.0.2:1 --address 5", "--udp 127.0.0.2:1 --address 65536",
          "--pty --address 5 --erase-ms -1", "--pty --address 5 --bogus"})
        EXPECT_TRUE(rejected(line)) << line;
    for (const char* tail :
         {"--model KVTC/1-440", "--drop-rate 1.5", "--drop-requests 0", "--drop-requests 4-2",
          "--split 3", "--split 0:5", "--close-after-blocks 2", "--pty-link /tmp/x"})
        EXPECT_TRUE(rejected(std::string("--udp 127.0.0.2:1 --address 5 ") + tail)) << tail;
}

TEST(SimOptions, ValuesAndDefaults) {
    SimOptions o, udp, pty;
    ASSERT_TRUE(
        parse("--tcp=127.0.0.2:4000 --address 101 --address 7 --seed 42 --drop-rate 0.25 "
              "--corrupt-rate 0.5 --stale-rate 1 --drop-requests 3,7,10-12 --split 3:25 "
              "--baud 9600 --close-after-blocks 4 --refuse-permission-for 7",
              &o));
    EXPECT_EQ(std::make_tuple(o.link, o.host, o.port),
              std::make_tuple(LinkKind::Tcp, std::string("127.0.0.2"), 4000));
    EXPECT_EQ(o.config.addresses, (std::vector<uint16_t>{101, 7}));
    EXPECT_EQ(
        std::make_tuple(o.config.model->name, o.config.device.eraseMs, o.config.closeAfterBlocks),
        std::make_tuple(std::string("KVTC/1-4400"), 1500, 4));
    const FaultSettings& f = o.config.faults;
    EXPECT_EQ(std::make_tuple(f.seed, f.dropRate, f.corruptRate, f.staleRate),
              std::make_tuple(uint64_t{42}, 0.25, 0.5, 1.0));
    EXPECT_EQ(f.dropRequests, (std::set<uint64_t>{3, 7, 10, 11, 12}));
    EXPECT_EQ(o.config.refusePermissionFor, (std::vector<uint16_t>{7}));
    EXPECT_EQ(std::make_tuple(o.timing.splitPieces, o.timing.splitGapMs, o.timing.baud,
                              o.timing.datagram),
              std::make_tuple(3, 25, 9600, false));
    ASSERT_TRUE(parse("--udp 127.0.0.2:0 --address 1 --model KVTC/2-5240", &udp));
    EXPECT_EQ(std::make_pair(udp.config.device.eraseMs, udp.timing.datagram),
              std::make_pair(800, true));
    ASSERT_TRUE(parse("--pty --address 1 --model KVTC/2-5240 --erase-ms 0", &pty));
    EXPECT_EQ(pty.config.device.eraseMs, 0);
}

}  // namespace
}  // namespace rwtest
