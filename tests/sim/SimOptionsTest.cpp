// The simulator's command line.
#include <gtest/gtest.h>

#include "sim/SimOptions.h"

using namespace rw::sim;

namespace {

bool parse(const std::vector<std::string>& args, SimOptions* options = nullptr) {
    SimOptions local;
    std::string error;
    bool ok = parseSimOptions(args, options ? options : &local, &error);
    if (ok) {
        EXPECT_TRUE(error.empty());
    }
    return ok;
}

}  // namespace

TEST(SimOptions, UsageErrors) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"--address", "5"},
        {"--tcp", "127.0.0.2:4000"},
        {"--tcp", "127.0.0.2", "--address", "5"},
        {"--tcp", "127.0.0.2:70000", "--address", "5"},
        {"--tcp", "127.0.0.2:1", "--udp", "127.0.0.2:1", "--address", "5"},
        {"--udp", "127.0.0.2:1", "--address", "65536"},
        {"--udp", "127.0.0.2:1", "--address", "5x"},
        {"--udp", "127.0.0.2:1", "--address", "5", "--model", "KVTC/9-0000"},
        {"--udp", "127.0.0.2:1", "--address", "5", "--drop-rate", "1.5"},
        {"--udp", "127.0.0.2:1", "--address", "5", "--drop-requests", "0"},
        {"--udp", "127.0.0.2:1", "--address", "5", "--drop-requests", "4-2"},
        {"--udp", "127.0.0.2:1", "--address", "5", "--split", "3"},
        {"--udp", "127.0.0.2:1", "--address", "5", "--split", "0:5"},
        {"--udp", "127.0.0.2:1", "--address", "5", "--close-after-blocks", "2"},
        {"--udp", "127.0.0.2:1", "--address", "5", "--pty-link", "/tmp/x"},
        {"--pty", "--address", "5", "--erase-ms", "-1"},
        {"--pty", "--address", "5", "--verbose=1"},
        {"--pty", "--address", "5", "--bogus"},
        {"--pty", "--address"},
    };
    for (const auto& args : bad) {
        std::string joined;
        for (const auto& a : args) joined += a + " ";
        EXPECT_FALSE(parse(args)) << joined;
    }
}

TEST(SimOptions, ValuesAndDefaults) {
    SimOptions o;
    ASSERT_TRUE(parse({"--tcp=127.0.0.2:4000", "--address", "101", "--address", "7", "--seed", "42",
                       "--drop-requests", "3,7,10-12", "--split", "3:25", "--baud", "9600",
                       "--close-after-blocks", "4"},
                      &o));
    EXPECT_EQ(o.link, LinkKind::Tcp);
    EXPECT_EQ(o.host, "127.0.0.2");
    EXPECT_EQ(o.port, 4000);
    EXPECT_EQ(o.config.addresses, (std::vector<uint16_t>{101, 7}));
    EXPECT_EQ(o.config.model->name, "KVTC/1-4400");
    EXPECT_EQ(o.config.device.eraseMs, 1500);
    EXPECT_EQ(o.config.faults.seed, 42u);
    EXPECT_EQ(o.config.faults.dropRequests, (std::set<uint64_t>{3, 7, 10, 11, 12}));
    EXPECT_EQ(o.timing.splitPieces, 3);
    EXPECT_EQ(o.timing.splitGapMs, 25);
    EXPECT_EQ(o.timing.baud, 9600);
    EXPECT_FALSE(o.timing.datagram);
    EXPECT_EQ(o.config.closeAfterBlocks, 4);

    SimOptions second;
    ASSERT_TRUE(
        parse({"--udp", "127.0.0.2:0", "--address", "1", "--model", "KVTC/2-5240"}, &second));
    EXPECT_EQ(second.config.device.eraseMs, 800);
    EXPECT_TRUE(second.timing.datagram);

    SimOptions third;
    ASSERT_TRUE(
        parse({"--pty", "--address", "1", "--model", "KVTC/2-5240", "--erase-ms", "0"}, &third));
    EXPECT_EQ(third.config.device.eraseMs, 0);

    SimOptions help;
    ASSERT_TRUE(parse({"--help"}, &help));
    EXPECT_TRUE(help.help);
}

TEST(SimOptions, HelpNamesEveryOption) {
    std::string usage = simUsage();
    for (const char* option : {"--tcp",
                               "--udp",
                               "--pty",
                               "--pty-link",
                               "--baud",
                               "--address",
                               "--model",
                               "--erase-ms",
                               "--refuse-permission",
                               "--refuse-permission-for",
                               "--refuse-verify",
                               "--seed",
                               "--drop-rate",
                               "--drop-requests",
                               "--corrupt-rate",
                               "--stale-rate",
                               "--delay-ms",
                               "--split",
                               "--close-after-blocks",
                               "--reset-after-blocks",
                               "--verbose",
                               "--dump-dir",
                               "--exit-after-verify",
                               "--help"}) {
        EXPECT_NE(usage.find(option), std::string::npos) << option;
    }
}
