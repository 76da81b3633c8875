// The simulator's command line.
#include <gtest/gtest.h>

#include <sstream>

#include "sim/SimOptions.h"

using namespace rw::sim;

namespace {

// Parses a command line given as one string, words split at spaces.
bool parse(const std::string& line, SimOptions* options) {
    std::istringstream words(line);
    std::vector<std::string> args{std::istream_iterator<std::string>(words), {}};
    std::string error;
    bool ok = parseSimOptions(args, options, &error);
    EXPECT_EQ(ok, error.empty()) << line << ": " << error;
    return ok;
}

}  // namespace

TEST(SimOptions, UsageErrors) {
    const std::string udp = "--udp 127.0.0.2:1 --address 5 ";
    const std::vector<std::string> bad = {
        "",
        "--address 5",
        "--tcp 127.0.0.2:4000",
        "--tcp 127.0.0.2 --address 5",
        "--tcp 127.0.0.2:70000 --address 5",
        "--tcp 127.0.0.2:1 " + udp,
        "--udp 127.0.0.2:1 --address 65536",
        "--udp 127.0.0.2:1 --address 5x",
        udp + "--model KVTC/1-440",
        udp + "--drop-rate 1.5",
        udp + "--drop-requests 0",
        udp + "--drop-requests 4-2",
        udp + "--split 3",
        udp + "--split 0:5",
        udp + "--close-after-blocks 2",
        udp + "--pty-link /tmp/x",
        "--pty --address 5 --erase-ms -1",
        "--pty --address 5 --verbose=1",
        "--pty --address 5 --bogus",
        "--pty --address",
    };
    for (const std::string& line : bad) {
        SimOptions options;
        EXPECT_FALSE(parse(line, &options)) << line;
    }
}

TEST(SimOptions, ValuesAndDefaults) {
    SimOptions o;
    ASSERT_TRUE(
        parse("--tcp=127.0.0.2:4000 --address 101 --address 7 --seed 42 --drop-rate 0.25 "
              "--corrupt-rate 0.5 --stale-rate 1 --drop-requests 3,7,10-12 --split 3:25 "
              "--baud 9600 --close-after-blocks 4",
              &o));
    EXPECT_EQ(o.link, LinkKind::Tcp);
    EXPECT_EQ(o.host, "127.0.0.2");
    EXPECT_EQ(o.port, 4000);
    EXPECT_EQ(o.config.addresses, (std::vector<uint16_t>{101, 7}));
    EXPECT_EQ(o.config.model->name, "KVTC/1-4400");
    EXPECT_EQ(o.config.device.eraseMs, 1500);
    const FaultSettings& f = o.config.faults;
    EXPECT_EQ(std::make_tuple(f.seed, f.dropRate, f.corruptRate, f.staleRate),
              std::make_tuple(uint64_t{42}, 0.25, 0.5, 1.0));
    EXPECT_EQ(f.dropRequests, (std::set<uint64_t>{3, 7, 10, 11, 12}));
    EXPECT_EQ(o.timing.splitPieces, 3);
    EXPECT_EQ(o.timing.splitGapMs, 25);
    EXPECT_EQ(o.timing.baud, 9600);
    EXPECT_FALSE(o.timing.datagram);
    EXPECT_EQ(o.config.closeAfterBlocks, 4);

    SimOptions udp, pty;
    ASSERT_TRUE(parse("--udp 127.0.0.2:0 --address 1 --model KVTC/2-5240", &udp));
    EXPECT_EQ(udp.config.device.eraseMs, 800);
    EXPECT_TRUE(udp.timing.datagram);
    ASSERT_TRUE(parse("--pty --address 1 --model KVTC/2-5240 --erase-ms 0", &pty));
    EXPECT_EQ(pty.config.device.eraseMs, 0);
}
