// The real romwright in command-line mode without a display, against
// romwright-sim over TCP: exit codes, printed lines, the log file, SIGTERM and
// the stall limit.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "fakes/TestEnv.h"
#include "sequence/SequenceSupport.h"
#include "sequence/SimProcess.h"

extern char** environ;

namespace {

using Lines = std::vector<std::string>;
const std::string kModel = "KVTC/1-4255";  // flash from 1000h
const std::string kFlash = "FLASHING KVTC/1-4255 @ 5...";
const std::string kStalled = "NO BLOCK WRITTEN FOR 1 SECONDS";
const Lines kJob{kModel, "5", "38400", "IMAGE"};  // IMAGE: the test's HEX file

// The status part of "<date and time>  STATUS" lines; in the C locale "%c" is
// 24 characters ("Sun Dec  6 21:19:17 2026").
Lines statuses(const std::string& text) {
    Lines result;
    std::stringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        const bool stamped = line.size() > 26 && line.compare(24, 2, "  ") == 0;
        result.push_back(stamped ? line.substr(26, line.find('\r') - 26) : "unstamped: " + line);
    }
    return result;
}

// The program without a display, its HOME and XDG folders being $0.
const char* const kShell =
    "exec env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u LANG -u XDG_CONFIG_DIRS LC_ALL=C "
    "HOME=\"$0\" XDG_RUNTIME_DIR=\"$0\" XDG_CONFIG_HOME=\"$0/config\" XDG_DATA_HOME=\"$0/data\" "
    "\"$@\" >\"$0/stdout\" 2>\"$0/stderr\"";

class CommandLine : public ::testing::Test {
  protected:
    void TearDown() override {
        if (pid_ > 0 && ::kill(pid_, SIGKILL) == 0) ::waitpid(pid_, nullptr, 0);
    }

    // Starts the simulator, writes the program's settings for it in a fresh
    // folder and starts the program there, its output in files there.
    void run(Lines simArgs, Lines args, int stallSeconds, int imageAt) {
        home_ = std::make_unique<rwtest::TempDir>();
        const std::string home = home_->str();
        simArgs.insert(simArgs.end(), {"--model", kModel, "--address", "5", "--erase-ms", "0",
                                       "--tcp", "127.0.0.2:0"});
        ASSERT_TRUE(sim_.start(std::string(ROMWRIGHT_BIN_DIR) + "/romwright-sim", simArgs));
        const auto line = sim_.waitForLine("127.0.0.2", 5000);
        ASSERT_TRUE(line);
        rwtest::writeFile(home + "/config/KVT Controls/romwright.conf",
                          "[Info]\nSounds=\nStallSeconds=" + std::to_string(stallSeconds) +
                              "\nDriver=2\nIP=" + *line + "\n");
        const std::string hex = home + "/image.hex";
        rwtest::writeFile(hex, rwtest::intelHex(imageAt, rwtest::patternImage(2048)));
        std::replace(args.begin(), args.end(), std::string("IMAGE"), hex);
        start(std::move(args));
    }

    // Starts the program in the current folder with these arguments.
    void start(Lines args) {
        args.insert(args.begin(),
                    {"/bin/sh", "-c", kShell, home_->str(), ROMWRIGHT_BIN_DIR "/romwright"});
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        ASSERT_EQ(posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ), 0);
    }

    // The program's exit code (128 + signal when killed), or -1 after a minute.
    int wait() {
        int status = 0, waited = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0 && waited++ < 6000) ::usleep(10000);
        if (waited > 6000) return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::string file(const char* name) const {
        std::ifstream in(home_->path() / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    std::unique_ptr<rwtest::TempDir> home_;
    rwtest::SimProcess sim_;
    pid_t pid_ = -1;
};

TEST_F(CommandLine, JobsRefusalsSigtermAndTheStallLimit) {
    const struct {
        Lines simArgs, args;
        int stallSeconds, exitCode;
        Lines printed;  // on standard output and, CR LF ended, in the log
        const char* error;
        bool sigterm;  // sent once the job has started; slow replies keep it running
        int imageAt = 0x1000;
    } cases[] = {
        {{}, kJob, 60, 0, {kFlash, "*** FLASH PROGRAMMING COMPLETE ***"}, "", 0},
        {{},
         kJob,
         60,
         0,
         {kFlash, "*** FLASH PROGRAMMING COMPLETE ***"},
         "romwright: warning: 256 bytes outside the region 0x1000-0x79FF ignored: 0x0F00-0x0FFF",
         0,
         0x0F00},
        {{"--refuse-permission"}, kJob, 60, 1, {kFlash, "5: PERMISSION DENIED"}, "", 0},
        {{}, {kModel, "5", "38400", "/none.hex"}, 60, 1, {}, "romwright: Invalid Binary File", 0},
        {{}, {kModel, "65536", "38400", "IMAGE"}, 60, 1, {}, "between 0 and 65535", 0},
        {{"--close-after-blocks", "2"}, kJob, 1, 1, {kFlash, kStalled}, "", 0},
        {{"--delay-ms", "250"}, kJob, 60, 1, {kFlash}, "", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        ASSERT_NO_FATAL_FAILURE(run(c.simArgs, c.args, c.stallSeconds, c.imageAt));
        for (int waited = 0; c.sigterm && file("stdout").empty() && waited < 6000; ++waited)
            ::usleep(10000);
        if (c.sigterm) ::kill(pid_, SIGTERM);
        EXPECT_EQ(wait(), c.exitCode) << file("stderr");
        const std::string log = file("data/KVT/Romwright/Romwright.log");
        EXPECT_EQ(statuses(file("stdout")), c.printed);
        EXPECT_EQ(statuses(log), c.printed);
        EXPECT_EQ(std::count(log.begin(), log.end(), '\r'), long(c.printed.size()));
        EXPECT_NE(file("stderr").find(c.error), std::string::npos) << file("stderr");
        EXPECT_EQ(std::filesystem::exists(home_->path() / "data/KVT/Romwright/Sounds"),
                  !c.args.empty());
        sim_.stop();
    }
}

TEST_F(CommandLine, HelpVersionAndNothingToDo) {
    const struct {
        Lines args;
        int exitCode;
        const char *out, *error;
    } cases[] = {
        {{"--help"}, 0, "usage: romwright", ""},
        {{"--version"}, 0, "romwright 1.1.0.4", ""},
        {{}, 2, "", "romwright: no display; give a command line"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        home_ = std::make_unique<rwtest::TempDir>();
        ASSERT_NO_FATAL_FAILURE(start(c.args));
        EXPECT_EQ(wait(), c.exitCode);
        EXPECT_NE(file("stdout").find(c.out), std::string::npos) << file("stdout");
        EXPECT_NE(file("stderr").find(c.error), std::string::npos) << file("stderr");
    }
}

}  // namespace
