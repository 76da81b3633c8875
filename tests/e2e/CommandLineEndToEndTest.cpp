// The real romwright in command-line mode without a display, against
// romwright-sim over TCP: exit codes, printed lines, the log file, SIGTERM, the
// stall limit, a serial port that does not open, and settings left as they were.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "support/ChildProcess.h"
#include "support/TestEnv.h"
#include "support/TestImages.h"

namespace rwtest {
namespace {

using Lines = std::vector<std::string>;
const std::string kModel = "KVTC/1-4255";  // flash from 1000h
const std::string kFlash = "FLASHING KVTC/1-4255 @ 5...";
const std::string kStalled = "NO BLOCK WRITTEN FOR 1 SECONDS";
const Lines kJob{kModel, "5", "38400", "IMAGE"};  // IMAGE: the test's HEX file

// The status part of "<date and time>  STATUS" lines: after the year and two spaces.
Lines statuses(const std::string& text) {
    Lines result;
    std::stringstream stream(text);
    const std::regex stamp("^.*?[0-9]{4}  ([^\r]*)\r?$");
    for (std::string line; std::getline(stream, line);) {
        std::smatch match;
        result.push_back(std::regex_match(line, match, stamp) ? match[1].str()
                                                              : "unstamped: " + line);
    }
    return result;
}

class CommandLine : public ::testing::Test {
  protected:
    // Starts the simulator, writes the program's settings for it (or, serial,
    // for COM1 on HOME/ttyUSB9, which does not exist) in a fresh folder and
    // starts the program there.
    void run(Lines simArgs, Lines args, int stallSeconds, int imageAt, bool serial) {
        home_ = std::make_unique<TempDir>();
        const std::string home = home_->str();
        simArgs.insert(simArgs.end(), {"--model", kModel, "--address", "5", "--erase-ms", "0",
                                       "--tcp", "127.0.0.2:0"});
        const std::optional<std::string> endpoint = startSimulator(sim_, simArgs);
        ASSERT_TRUE(endpoint);
        endpoint_ = *endpoint;
        const std::string link = serial ? "Driver=1\n[Ports]\nCOM1=" + home + "/ttyUSB9\n"
                                        : "Driver=2\nIP=" + *endpoint + "\n";
        settings_ = "[Info]\nSounds=\nStallSeconds=" + std::to_string(stallSeconds) + "\n" + link;
        writeFile(home + "/config/KVT Controls/romwright.conf", settings_);
        const std::string hex = home + "/image.hex";
        writeFile(hex, intelHex(imageAt, patternBytes(2048)));
        std::replace(args.begin(), args.end(), std::string("IMAGE"), hex);
        start(std::move(args));
    }

    // Starts the program without a display, its HOME and XDG folders in the
    // test's folder, its standard error into a file there.
    void start(Lines args) {
        const std::string home = home_->str();
        args.insert(args.begin(), programPath("romwright"));
        ProcessOptions options;
        options.errorFile = home + "/stderr";
        options.environment = {"DISPLAY",
                               "WAYLAND_DISPLAY",
                               "QT_QPA_PLATFORM",
                               "LANG",
                               "XDG_CONFIG_DIRS",
                               "LC_ALL=C",
                               "HOME=" + home,
                               "XDG_RUNTIME_DIR=" + home,
                               "XDG_CONFIG_HOME=" + home + "/config",
                               "XDG_DATA_HOME=" + home + "/data"};
        ASSERT_TRUE(program_.start(args, options));
    }

    // The program's exit code (128 + signal when killed), or -1 after a minute.
    int wait() { return program_.waitExit(60000).value_or(-1); }
    std::string file(const char* name) const { return readFile(home_->path() / name); }

    std::unique_ptr<TempDir> home_;
    std::string settings_;                 // as written before the run
    std::optional<std::string> endpoint_;  // the simulator's host:port
    ChildProcess sim_;
    ChildProcess program_;
};

TEST_F(CommandLine, JobsRefusalsSigtermAndTheStallLimit) {
    const struct {
        Lines simArgs, args;
        int stallSeconds, exitCode;
        Lines printed;  // on standard output and, CR LF ended, in the log
        const char* error;
        bool sigterm;  // sent once the job has started; slow replies keep it running
        int imageAt = 0x1000;
        bool serial = false;  // COM1 on a device that does not exist
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
        {{},
         kJob,
         60,
         1,
         {"COM1 PORT INITIALIZE ERROR"},
         "romwright: COM1 (HOME/ttyUSB9): no such device\n",
         0,
         0x1000,
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        ASSERT_NO_FATAL_FAILURE(run(c.simArgs, c.args, c.stallSeconds, c.imageAt, c.serial));
        if (c.sigterm) {
            EXPECT_TRUE(program_.readLine(60000)) << "the job did not start";
            program_.signal(SIGTERM);
        }
        EXPECT_EQ(wait(), c.exitCode) << file("stderr");
        const std::string log = file("data/KVT/Romwright/Romwright.log");
        EXPECT_EQ(statuses(program_.output()), c.printed);
        EXPECT_EQ(statuses(log), c.printed);
        EXPECT_EQ(std::count(log.begin(), log.end(), '\r'), long(c.printed.size()));
        std::string error = c.error;
        if (error.find("HOME") != std::string::npos)
            error.replace(error.find("HOME"), 4, home_->str());
        EXPECT_NE(file("stderr").find(error), std::string::npos) << file("stderr");
        EXPECT_EQ(std::filesystem::exists(home_->path() / "data/KVT/Romwright/Sounds"),
                  !c.args.empty());
        EXPECT_EQ(file("config/KVT Controls/romwright.conf"), settings_)
            << "a command line writes no setting";
        // A job that started has one production record line; a refused Go none.
        const std::string records = file("data/KVT/Romwright/Production.jsonl");
        if (c.printed.empty()) {
            EXPECT_EQ(records, "");
        } else {
            ASSERT_EQ(std::count(records.begin(), records.end(), '\n'), 1) << records;
            const auto record = nlohmann::json::parse(records);
            const char* result = c.exitCode == 0 ? "programmed" : c.sigterm ? "aborted" : "failed";
            EXPECT_EQ(record["result"], result);
            EXPECT_EQ(record["status"], c.sigterm ? "Flash Download Aborted..." : c.printed.back());
            EXPECT_EQ(record["link"], c.serial ? "COM1" : "TCP " + *endpoint_);
            if (c.serial) {
                EXPECT_EQ(record["device"], home_->str() + "/ttyUSB9");
            }
        }
        sim_.stop();
    }
}

TEST_F(CommandLine, HelpVersionAndNothingToDo) {
    const struct {
        Lines args;
        int exitCode;
        const char *out, *error;  // out: a pattern
    } cases[] = {
        {{"--help"}, 0, "usage: romwright", ""},
        {{"--version"}, 0, "^romwright [0-9]+(\\.[0-9]+)+\n$", ""},  // the build's version
        {{}, 2, "", "romwright: no display; give a command line"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        home_ = std::make_unique<TempDir>();
        ASSERT_NO_FATAL_FAILURE(start(c.args));
        EXPECT_EQ(wait(), c.exitCode);
        EXPECT_TRUE(std::regex_search(program_.output(), std::regex(c.out))) << program_.output();
        EXPECT_NE(file("stderr").find(c.error), std::string::npos) << file("stderr");
    }
}

}  // namespace
}  // namespace rwtest
