// The real romwright binary in command-line mode without a display, against
// romwright-sim over TCP, UDP and a pseudo-terminal: exit codes, what it prints,
// the log file, signals and the stall limit.
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "e2e/RomwrightProcess.h"
#include "fakes/TestEnv.h"
#include "sequence/SimProcess.h"

namespace {

namespace fs = std::filesystem;

constexpr int kAddress = 5;
constexpr int kRunTimeoutMs = 60000;
const std::string kModel = "KVTC/1-4255";

enum class Link { Tcp, Udp, Pty };

std::string hexLine(unsigned address, const std::vector<uint8_t>& data) {
    char head[16];
    std::snprintf(head, sizeof head, ":%02X%04X00", static_cast<unsigned>(data.size()), address);
    std::string line = head;
    unsigned sum = data.size() + (address >> 8) + (address & 0xFF);
    for (uint8_t byte : data) {
        char text[3];
        std::snprintf(text, sizeof text, "%02X", byte);
        line += text;
        sum += byte;
    }
    char check[4];
    std::snprintf(check, sizeof check, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + check;
}

// bytes of image at the KVTC/1-4255 flash start, 16 per record.
std::string hexImage(int bytes) {
    std::string text;
    for (int offset = 0; offset < bytes; offset += 16) {
        std::vector<uint8_t> data;
        for (int i = 0; i < 16; ++i) data.push_back(static_cast<uint8_t>((offset + i) * 7));
        text += hexLine(0x1000 + static_cast<unsigned>(offset), data);
    }
    return text + ":00000001FF\n";
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::stringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        result.push_back(line);
    }
    return result;
}

// The status part of a "<date and time>  STATUS" line; the program runs in the
// C locale, whose "%c" is 24 characters ("Sun Dec  6 21:19:17 2026").
std::vector<std::string> statuses(const std::string& text) {
    std::vector<std::string> result;
    for (const std::string& line : lines(text)) {
        const bool stamped = line.size() > 26 && line.compare(24, 2, "  ") == 0;
        result.push_back(stamped ? line.substr(26) : "unstamped: " + line);
    }
    return result;
}

class CommandLineEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(home_.path() / "run");
        fs::permissions(home_.path() / "run", fs::perms::owner_all);
        hexPath_ = rwtest::writeFile(home_.path() / "image.hex", hexImage(2048)).string();
    }

    // Starts the simulator and writes the program's settings for it.
    bool startSim(Link link, std::vector<std::string> extra = {}, const std::string& stall = "60") {
        std::vector<std::string> args{"--model",    kModel, "--address", std::to_string(kAddress),
                                      "--erase-ms", "0"};
        args.insert(args.end(), extra.begin(), extra.end());
        if (link == Link::Pty) {
            args.insert(args.end(), {"--pty", "--baud", "38400"});
        } else {
            args.push_back(link == Link::Tcp ? "--tcp" : "--udp");
            args.push_back("127.0.0.2:0");
        }
        if (!sim_.start(std::string(ROMWRIGHT_BIN_DIR) + "/romwright-sim", args)) return false;
        const std::optional<std::string> line =
            sim_.waitForLine(link == Link::Pty ? "/dev/" : "127.0.0.2", 5000);
        if (!line) return false;
        std::string settings = "[Info]\nSounds=\nStallSeconds=" + stall + "\n";
        if (link == Link::Pty) {
            const size_t at = line->find("/dev/");
            const size_t end = line->find_first_of(" \t", at);
            settings += "Driver=1\nPort=0\n[Ports]\nCOM1=" + line->substr(at, end - at) + "\n";
        } else {
            const std::string port = line->substr(line->rfind(':') + 1);
            settings += std::string("Driver=") + (link == Link::Tcp ? "2" : "3") +
                        "\nIP=127.0.0.2:" + port + "\n";
        }
        rwtest::writeFile(home_.path() / "config" / "KVT Controls" / "romwright.conf", settings);
        return true;
    }

    bool run(const std::vector<std::string>& args) {
        return program_.start(std::string(ROMWRIGHT_BIN_DIR) + "/romwright", args, home_.str());
    }
    std::vector<std::string> jobArgs() const {
        return {kModel, std::to_string(kAddress), "38400", hexPath_};
    }
    std::string logText() const {
        return readFile(home_.path() / "data" / "KVT" / "Romwright" / "Romwright.log");
    }

    rwtest::TempDir home_;
    rwtest::SimProcess sim_;
    e2e::RomwrightProcess program_;
    std::string hexPath_;
};

class SuccessfulJob : public CommandLineEndToEnd, public ::testing::WithParamInterface<Link> {};

TEST_P(SuccessfulJob, ExitsZeroAndPrintsTheLoggedLines) {
    ASSERT_TRUE(startSim(GetParam()));
    ASSERT_TRUE(run(jobArgs()));
    ASSERT_EQ(program_.wait(kRunTimeoutMs), 0) << program_.out() << program_.err();
    const std::vector<std::string> printed = statuses(program_.out());
    EXPECT_EQ(printed, (std::vector<std::string>{"FLASHING KVTC/1-4255 @ 5...",
                                                 "*** FLASH PROGRAMMING COMPLETE ***"}));
    // The log holds the same lines, CR LF ended, in the same order.
    const std::string log = logText();
    EXPECT_EQ(statuses(log), printed);
    EXPECT_EQ(lines(log), lines(program_.out()));
    EXPECT_NE(log.find("COMPLETE ***\r\n"), std::string::npos);
    // The sounds folder was set up for a new user.
    EXPECT_TRUE(fs::exists(home_.path() / "data" / "KVT" / "Romwright" / "Sounds"));
}

INSTANTIATE_TEST_SUITE_P(Links, SuccessfulJob, ::testing::Values(Link::Tcp, Link::Udp, Link::Pty),
                         [](const auto& info) {
                             return info.param == Link::Tcp   ? "Tcp"
                                    : info.param == Link::Udp ? "Udp"
                                                              : "Pty";
                         });

TEST_F(CommandLineEndToEnd, RefusedPermissionExitsOne) {
    ASSERT_TRUE(startSim(Link::Tcp, {"--refuse-permission"}));
    ASSERT_TRUE(run(jobArgs()));
    ASSERT_EQ(program_.wait(kRunTimeoutMs), 1) << program_.err();
    EXPECT_EQ(statuses(program_.out()),
              (std::vector<std::string>{"FLASHING KVTC/1-4255 @ 5...", "5: PERMISSION DENIED"}));
}

TEST_F(CommandLineEndToEnd, MissingFileIsRefusedAtOnceWithoutAWindow) {
    ASSERT_TRUE(startSim(Link::Tcp));
    ASSERT_TRUE(run({kModel, "5", "38400", (home_.path() / "none.hex").string()}));
    ASSERT_EQ(program_.wait(kRunTimeoutMs), 1);
    EXPECT_EQ(program_.out(), "");
    EXPECT_NE(program_.err().find("romwright: Invalid Binary File"), std::string::npos);
}

TEST_F(CommandLineEndToEnd, AddressOutOfRangeIsRefused) {
    ASSERT_TRUE(startSim(Link::Tcp));
    ASSERT_TRUE(run({kModel, "65536", "38400", hexPath_}));
    ASSERT_EQ(program_.wait(kRunTimeoutMs), 1);
    EXPECT_NE(program_.err().find("between 0 and 65535"), std::string::npos);
}

TEST_F(CommandLineEndToEnd, SigtermAbortsAndExitsOneAfterWindingDown) {
    // Slow replies to a long image keep the job running long enough to be interrupted.
    hexPath_ = rwtest::writeFile(home_.path() / "long.hex", hexImage(16384)).string();
    ASSERT_TRUE(startSim(Link::Tcp, {"--delay-ms", "30"}));
    ASSERT_TRUE(run(jobArgs()));
    ASSERT_TRUE(program_.waitForOutput("FLASHING", kRunTimeoutMs)) << program_.err();
    program_.kill(SIGTERM);
    ASSERT_EQ(program_.wait(kRunTimeoutMs), 1) << program_.err();
    EXPECT_EQ(program_.out().find("COMPLETE"), std::string::npos);
    EXPECT_EQ(logText().find("COMPLETE"), std::string::npos);
}

TEST_F(CommandLineEndToEnd, StallLimitEndsAJobWhoseDeviceWentAway) {
    ASSERT_TRUE(startSim(Link::Tcp, {"--close-after-blocks", "2"}, "1"));
    ASSERT_TRUE(run(jobArgs()));
    ASSERT_EQ(program_.wait(kRunTimeoutMs), 1) << program_.err();
    const std::vector<std::string> printed = statuses(program_.out());
    ASSERT_EQ(printed.size(), 2u) << program_.out();
    EXPECT_EQ(printed[1], "NO BLOCK WRITTEN FOR 1 SECONDS");
}

TEST_F(CommandLineEndToEnd, HelpVersionAndNothingToDo) {
    ASSERT_TRUE(run({"--help"}));
    EXPECT_EQ(program_.wait(kRunTimeoutMs), 0);
    EXPECT_NE(program_.out().find("usage: romwright"), std::string::npos);
    e2e::RomwrightProcess version;
    ASSERT_TRUE(
        version.start(std::string(ROMWRIGHT_BIN_DIR) + "/romwright", {"--version"}, home_.str()));
    EXPECT_EQ(version.wait(kRunTimeoutMs), 0);
    EXPECT_EQ(version.out(), "romwright 1.1.0.4\n");
    e2e::RomwrightProcess idle;
    ASSERT_TRUE(idle.start(std::string(ROMWRIGHT_BIN_DIR) + "/romwright", {}, home_.str()));
    EXPECT_EQ(idle.wait(kRunTimeoutMs), 2);
    EXPECT_EQ(std::count(idle.err().begin(), idle.err().end(), '\n'), 1) << idle.err();
}

}  // namespace
