// The real romwright binary in command-line mode without a display, against
// romwright-sim over TCP, UDP and a pseudo-terminal: exit codes, what it prints,
// the log file, signals and the stall limit.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "fakes/TestEnv.h"
#include "sequence/SequenceSupport.h"
#include "sequence/SimProcess.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

constexpr int kTimeoutMs = 60000;
const std::string kModel = "KVTC/1-4255";  // flash from 1000h
const std::string kFlashing = "FLASHING KVTC/1-4255 @ 5...";
const Lines kJob{kModel, "5", "38400", "IMAGE"};  // IMAGE: the test's HEX file

enum class Link { Tcp, Udp, Pty };
const char* const kLinkNames[] = {"Tcp", "Udp", "Pty"};

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

Lines lines(const std::string& text) {
    Lines result;
    std::stringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        result.push_back(line);
    }
    return result;
}

// The status part of "<date and time>  STATUS" lines; in the C locale "%c" is
// 24 characters ("Sun Dec  6 21:19:17 2026").
Lines statuses(const std::string& text) {
    Lines result;
    for (const std::string& line : lines(text)) {
        const bool stamped = line.size() > 26 && line.compare(24, 2, "  ") == 0;
        result.push_back(stamped ? line.substr(26) : "unstamped: " + line);
    }
    return result;
}

// Runs the program as a user's script would: without a display, in a private
// HOME / XDG folder whose settings the test wrote first, its output in files
// there. Every wait is bounded; the child is ended by its own process id.
class CommandLineEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(home_.path() / "run");
        fs::permissions(home_.path() / "run", fs::perms::owner_all);
        setImage(2048);
    }
    void TearDown() override {
        if (pid_ > 0 && ::kill(pid_, SIGKILL) == 0) ::waitpid(pid_, nullptr, 0);
    }
    void setImage(size_t bytes) {
        hexPath_ = rwtest::writeFile(home_.path() / "image.hex",
                                     rwtest::intelHex(0x1000, rwtest::patternImage(bytes)))
                       .string();
    }

    // Starts the simulator, writes the program's settings for it and starts the program.
    void run(Link link, Lines simArgs, Lines args = kJob, const std::string& stallSeconds = "60") {
        simArgs.insert(simArgs.end(), {"--model", kModel, "--address", "5", "--erase-ms", "0"});
        if (link == Link::Pty) {
            simArgs.insert(simArgs.end(), {"--pty", "--baud", "38400"});
        } else {
            simArgs.insert(simArgs.end(), {link == Link::Tcp ? "--tcp" : "--udp", "127.0.0.2:0"});
        }
        ASSERT_TRUE(sim_.start(std::string(ROMWRIGHT_BIN_DIR) + "/romwright-sim", simArgs));
        const std::optional<std::string> line =
            sim_.waitForLine(link == Link::Pty ? "/dev/" : "127.0.0.2", 5000);
        ASSERT_TRUE(line);
        std::string settings = "[Info]\nSounds=\nStallSeconds=" + stallSeconds + "\n";
        if (link == Link::Pty) {
            const size_t at = line->find("/dev/");
            settings += "Driver=1\nPort=0\n[Ports]\nCOM1=" +
                        line->substr(at, line->find_first_of(" \t", at) - at) + "\n";
        } else {
            settings += std::string("Driver=") + (link == Link::Tcp ? "2" : "3") +
                        "\nIP=127.0.0.2:" + line->substr(line->rfind(':') + 1) + "\n";
        }
        rwtest::writeFile(home_.path() / "config" / "KVT Controls" / "romwright.conf", settings);

        const std::string home = home_.str();
        std::replace(args.begin(), args.end(), std::string("IMAGE"), hexPath_);
        args.insert(args.begin(), std::string(ROMWRIGHT_BIN_DIR) + "/romwright");
        Lines env{"HOME=" + home,        "XDG_CONFIG_HOME=" + home + "/config",
                  "TMPDIR=" + home,      "XDG_DATA_HOME=" + home + "/data",
                  "LC_ALL=C",            "XDG_RUNTIME_DIR=" + home + "/run"};
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string text(*entry), name = text.substr(0, text.find('='));
            const Lines dropped{"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "HOME", "LANG"};
            if (std::find(dropped.begin(), dropped.end(), name) == dropped.end() &&
                name.rfind("XDG_", 0) != 0 && name.rfind("LC_", 0) != 0) {
                env.push_back(text);
            }
        }
        std::vector<char*> argv, envp;
        for (std::string& arg : args) argv.push_back(arg.data());
        for (std::string& entry : env) envp.push_back(entry.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        for (int fd : {1, 2}) {
            const std::string file = home + (fd == 1 ? "/stdout" : "/stderr");
            posix_spawn_file_actions_addopen(&actions, fd, file.c_str(), O_WRONLY | O_CREAT, 0600);
        }
        const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        ASSERT_EQ(rc, 0);
    }

    // The program's exit code (128 + signal when killed), or nothing after timeoutMs.
    std::optional<int> wait() {
        for (int waited = 0; pid_ > 0 && waited <= kTimeoutMs; waited += 10) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return std::nullopt;
    }
    std::string out() const { return readFile(home_.path() / "stdout"); }
    std::string err() const { return readFile(home_.path() / "stderr"); }
    std::string log() const { return readFile(home_.path() / "data/KVT/Romwright/Romwright.log"); }

    rwtest::TempDir home_;
    rwtest::SimProcess sim_;
    pid_t pid_ = -1;
    std::string hexPath_;
};

class SuccessfulJob : public CommandLineEndToEnd, public ::testing::WithParamInterface<Link> {};

TEST_P(SuccessfulJob, ExitsZeroAndPrintsTheLoggedLines) {
    ASSERT_NO_FATAL_FAILURE(run(GetParam(), {}));
    ASSERT_EQ(wait(), 0) << out() << err();
    EXPECT_EQ(statuses(out()), (Lines{kFlashing, "*** FLASH PROGRAMMING COMPLETE ***"}));
    // The log holds the same lines, CR LF ended.
    EXPECT_EQ(lines(log()), lines(out()));
    EXPECT_NE(log().find("COMPLETE ***\r\n"), std::string::npos);
    // The sounds folder was set up for a new user.
    EXPECT_TRUE(fs::exists(home_.path() / "data" / "KVT" / "Romwright" / "Sounds"));
}

INSTANTIATE_TEST_SUITE_P(Links, SuccessfulJob, ::testing::Values(Link::Tcp, Link::Udp, Link::Pty),
                         [](const auto& info) { return kLinkNames[int(info.param)]; });

struct Refusal {
    const char* name;
    Lines simArgs, args;
    int exitCode;
    Lines printed;
    const char* error;
};

class Refused : public CommandLineEndToEnd, public ::testing::WithParamInterface<Refusal> {};

TEST_P(Refused, ExitsNonZeroWithItsMessage) {
    const Refusal& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(run(Link::Tcp, c.simArgs, c.args));
    ASSERT_EQ(wait(), c.exitCode) << err();
    EXPECT_EQ(statuses(out()), c.printed);
    EXPECT_NE(err().find(c.error), std::string::npos) << err();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Refused,
    ::testing::Values(
        Refusal{"Permission", {"--refuse-permission"}, kJob, 1, {kFlashing, "5: PERMISSION DENIED"}, ""},
        Refusal{"MissingFile", {}, {kModel, "5", "38400", "/nonexistent/none.hex"}, 1, {},
                "romwright: Invalid Binary File"},
        Refusal{"AddressOutOfRange", {}, {kModel, "65536", "38400", "IMAGE"}, 1, {},
                "between 0 and 65535"},
        Refusal{"NoDisplayNorCommandLine", {}, {}, 2, {}, "romwright: no display"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CommandLineEndToEnd, SigtermAbortsAndExitsOneAfterWindingDown) {
    // Slow replies to a long image keep the job running long enough to be interrupted.
    setImage(16384);
    ASSERT_NO_FATAL_FAILURE(run(Link::Tcp, {"--delay-ms", "30"}));
    for (int waited = 0; out().find("FLASHING") == std::string::npos && waited < kTimeoutMs;
         waited += 10) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_NE(out().find("FLASHING"), std::string::npos) << err();
    ::kill(pid_, SIGTERM);
    ASSERT_EQ(wait(), 1) << err();
    EXPECT_EQ(out().find("COMPLETE"), std::string::npos);
    EXPECT_EQ(log().find("COMPLETE"), std::string::npos);
}

TEST_F(CommandLineEndToEnd, StallLimitEndsAJobWhoseDeviceWentAway) {
    ASSERT_NO_FATAL_FAILURE(run(Link::Tcp, {"--close-after-blocks", "2"}, kJob, "1"));
    ASSERT_EQ(wait(), 1) << err();
    EXPECT_EQ(statuses(out()), (Lines{kFlashing, "NO BLOCK WRITTEN FOR 1 SECONDS"}));
}

}  // namespace
