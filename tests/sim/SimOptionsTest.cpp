// The simulator's command line: the values it takes and each model's defaults.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <tuple>

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

TEST(SimOptions, ValuesAndEachModelsDefaults) {
    SimOptions o, udp, pty;
    ASSERT_TRUE(
        parse("--tcp=127.0.0.2:4000 --address 101 --address 7 --seed 42 --drop-rate 0.25 "
              "--corrupt-rate 0.5 --stale-rate 1 --drop-requests 3,7,10-12 --split 3:25 "
              "--baud 9600 --close-after-blocks 4 --refuse-permission-for 7",
              &o));
    const FaultSettings& f = o.config.faults;
    EXPECT_EQ(
        std::tuple(o.link, o.host, o.port, o.config.addresses, o.config.model->name,
                   o.config.device.eraseMs, o.config.closeAfterBlocks, f.seed, f.dropRate,
                   f.corruptRate, f.staleRate, f.dropRequests, o.config.refusePermissionFor,
                   o.timing.splitPieces, o.timing.splitGapMs, o.timing.baud, o.timing.datagram),
        std::tuple(LinkKind::Tcp, std::string("127.0.0.2"), 4000, std::vector<uint16_t>{101, 7},
                   std::string("KVTC/1-4400"), 1500, 4, uint64_t{42}, 0.25, 0.5, 1.0,
                   std::set<uint64_t>{3, 7, 10, 11, 12}, std::vector<uint16_t>{7}, 3, 25, 9600,
                   false));
    ASSERT_TRUE(parse("--udp 127.0.0.2:0 --address 1 --model KVTC/2-5240", &udp));
    ASSERT_TRUE(parse("--pty --address 1 --model KVTC/2-5240 --erase-ms 0", &pty));
    EXPECT_EQ(std::tuple(udp.config.device.eraseMs, udp.timing.datagram, pty.config.device.eraseMs),
              std::tuple(800, true, 0));
}

}  // namespace
}  // namespace rwtest
