// The real romwright in command-line mode without a display, against
// romwright-sim over TCP: exit codes, printed lines, the log file, the production
// record, SIGTERM, the stall limit, a serial port that does not open, and
// settings left as they were.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>

#include "support/ChildProcess.h"
#include "support/TestEnv.h"
#include "support/TestImages.h"

namespace rwtest {
namespace {

using Lines = std::vector<std::string>;
const std::string kModel = "KVTC/1-4255";  // flash from 1000h
const std::string kFlash = "FLASHING KVTC/1-4255 @ 5...";
const Lines kJob{kModel, "5", "38400", "IMAGE"};  // IMAGE: the test's HEX file

// The status part of "<date and time>  STATUS" lines: after the year and two spaces.
Lines statuses(const std::string& text) {
    Lines result;
    const std::regex line("[^\n]*?[0-9]{4}  ([^\r\n]*)\r?\n|([^\n]*)\n");
    for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it)
        result.push_back((*it)[1].matched ? (*it)[1].str() : "unstamped: " + (*it)[2].str());
    return result;
}

// kSigterm: the simulator over TCP, SIGTERM sent once the job has started (slow
// replies keep it running); kSerial: COM1 on HOME/ttyUSB9, which does not exist.
enum Link { kTcp, kSigterm, kSerial };

TEST(CommandLine, JobsRefusalsSigtermAndTheStallLimit) {
    const struct {
        Lines simArgs, args;
        int stallSeconds, exitCode;
        Lines printed;  // on standard output and, CR LF ended, in the log
        std::string error;
        Link link = kTcp;
    } cases[] = {
        {{}, kJob, 60, 0, {kFlash, "*** FLASH PROGRAMMING COMPLETE ***"}, ""},
        {{"--refuse-permission"}, kJob, 60, 1, {kFlash, "5: PERMISSION DENIED"}, ""},
        {{}, {kModel, "5", "38400", "/none.hex"}, 60, 1, {}, "romwright: Invalid Binary File"},
        {{}, {kModel, "65536", "38400", "IMAGE"}, 60, 1, {}, "between 0 and 65535"},
        {{"--close-after-blocks", "2"}, kJob, 1, 1, {kFlash, "NO BLOCK WRITTEN FOR 1 SECONDS"}, ""},
        {{"--delay-ms", "250"}, kJob, 60, 1, {kFlash}, "", kSigterm},
        {{}, kJob, 60, 1, {"COM1 PORT INITIALIZE ERROR"}, "COM1 (HOME): no such device\n", kSerial},
        {{}, {}, 60, 2, {}, "romwright: no display; give a command line"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        TempDir dir;
        const std::string home = dir.str(), device = home + "/ttyUSB9";
        const bool sigterm = c.link == kSigterm, serial = c.link == kSerial;
        ChildProcess sim, program;
        Lines simArgs = c.simArgs;
        simArgs.insert(simArgs.end(), {"--model", kModel, "--address", "5", "--erase-ms", "0",
                                       "--tcp", "127.0.0.2:0"});
        const std::optional<std::string> endpoint = startSimulator(sim, simArgs);
        ASSERT_TRUE(endpoint);
        const std::string settings =
            "[Info]\nSounds=\nStallSeconds=" + std::to_string(c.stallSeconds) + "\n" +
            (serial ? "Driver=1\n[Ports]\nCOM1=" + device + "\n"
                    : "Driver=2\nIP=" + *endpoint + "\n");
        writeFile(home + "/config/KVT Controls/romwright.conf", settings);
        writeFile(home + "/image.hex", intelHex(0x1000, patternBytes(2048)));
        Lines args = c.args;
        std::replace(args.begin(), args.end(), std::string("IMAGE"), home + "/image.hex");
        args.insert(args.begin(), programPath("romwright"));
        ProcessOptions options;
        options.errorFile = home + "/stderr";
        options.environment = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM",
                               "LANG",    "XDG_CONFIG_DIRS", "LC_ALL=C"};
        for (std::string var :
             {"HOME=", "XDG_RUNTIME_DIR=", "XDG_CONFIG_HOME=/config", "XDG_DATA_HOME=/data"})
            options.environment.push_back(var.insert(var.find('=') + 1, home));
        ASSERT_TRUE(program.start(args, options));
        if (sigterm) {
            EXPECT_TRUE(program.readLine(60000)) << "the job did not start";
            program.signal(SIGTERM);
        }
        const auto file = [&](const char* name) { return readFile(dir.path() / name); };
        EXPECT_EQ(program.waitExit(60000), c.exitCode) << file("stderr");
        const std::string log = file("data/KVT/Romwright/Romwright.log");
        EXPECT_EQ(statuses(program.output()), c.printed);
        EXPECT_EQ(statuses(log), c.printed);
        EXPECT_EQ(std::count(log.begin(), log.end(), '\r'), long(c.printed.size()));
        std::string error = std::regex_replace(c.error, std::regex("HOME"), device);
        EXPECT_NE(file("stderr").find(error), std::string::npos) << file("stderr");
        EXPECT_EQ(std::filesystem::exists(dir.path() / "data/KVT/Romwright/Sounds"),
                  !c.args.empty());
        EXPECT_EQ(file("config/KVT Controls/romwright.conf"), settings)
            << "a command line writes no setting";
        // A job that started has one production record line; a refused Go none.
        const std::string records = file("data/KVT/Romwright/Production.jsonl");
        if (c.printed.empty()) {
            EXPECT_EQ(records, "");
            continue;
        }
        ASSERT_EQ(std::count(records.begin(), records.end(), '\n'), 1) << records;
        const auto record = nlohmann::json::parse(records);
        const char* result = c.exitCode == 0 ? "programmed" : sigterm ? "aborted" : "failed";
        EXPECT_EQ(record["result"], result);
        EXPECT_EQ(record["status"], sigterm ? "Flash Download Aborted..." : c.printed.back());
        EXPECT_EQ(record["link"], serial ? "COM1" : "TCP " + *endpoint);
        if (serial) {
            EXPECT_EQ(record["device"], device);
        }
    }
}

}  // namespace
}  // namespace rwtest
