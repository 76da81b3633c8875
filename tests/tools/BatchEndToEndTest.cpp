// romwright-batch against several romwright-sim processes at once: TCP, a
// pseudo-terminal and two UDP devices on one port of two hosts; refusing and
// absent devices, retries, the stall limit, a bad plan or option, a file gone
// in the middle of a run, and SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <tuple>

#include "support/ChildProcess.h"
#include "support/LoopbackSockets.h"
#include "support/TestEnv.h"
#include "support/TestImages.h"

namespace rwtest {
namespace {

using Lines = std::vector<std::string>;
const std::string kModel = "KVTC/1-4255";  // flash from 1000h, no erase wait
const std::vector<uint8_t> kImage = patternBytes(1500, 7);
// The production record's lines: device address, result and plan line.
using Records = std::multiset<std::tuple<int, std::string, int>>;

class Batch : public ::testing::Test {
  protected:
    Batch() { writeFile(dir.path() / "image.hex", intelHex(0x1000, kImage)); }

    // Starts a simulator of kModel (its requests traced into NAME.err, its flash
    // dumped into dumps/ when it ends); the address it bound, or its terminal.
    std::string startSim(const std::string& name, Lines args) {
        args.insert(args.begin(), programPath("romwright-sim"));
        args.insert(args.end(),
                    {"--model", kModel, "--erase-ms", "0", "--verbose", "--dump-dir", dir.str()});
        ProcessOptions options;
        options.errorFile = trace(name);
        EXPECT_TRUE(sims[name].start(args, options));
        return sims[name].readLine(5000).value_or("no simulator");
    }
    std::string trace(const std::string& name) const { return dir.str() + "/" + name + ".err"; }
    // Writes the plan and starts the batch on it with `options` (outputs merged);
    // a reply wait of 250 ms lets an absent device fail in about two seconds
    // while a loaded machine still answers in time.
    void startBatch(const std::string& plan, Lines options) {
        writeFile(dir.path() / "plan.txt", plan);
        options.insert(options.begin(), {programPath("romwright-batch"), dir.str() + "/plan.txt",
                                         "--model", kModel, "--file", dir.str() + "/image.hex",
                                         "--record", dir.str() + "/record.jsonl"});
        const std::string home = dir.str();
        ProcessOptions process;
        process.mergeErrors = true;
        process.environment = {"HOME=" + home, "XDG_CONFIG_HOME=" + home + "/config",
                               "XDG_DATA_HOME=" + home + "/data", "XDG_RUNTIME_DIR=" + home,
                               "ROMWRIGHT_TEST_REPLY_MS=250"};
        ASSERT_TRUE(batch.start(options, process));
    }
    int batchExit() { return batch.waitExit(60000).value_or(-1); }
    // Waits (bounded) until every named simulator saw a block written.
    bool writing(const Lines& names) {
        const auto all = [&] {
            return std::all_of(names.begin(), names.end(), [&](const std::string& name) {
                return readFile(trace(name)).find("cmd F0") != std::string::npos;
            });
        };
        for (int waits = 0; waits < 2000 && !all(); ++waits) std::this_thread::sleep_for(Ms(10));
        return all();
    }
    void stopSims() {
        for (auto& [name, sim] : sims) sim.stop();
    }
    // The production record's lines, each checked for its plan and its place
    // in the link's list (`queueLength` devices on a link, 0: not checked).
    Records records(int queueLength = 0) const {
        Records byAddress;
        std::stringstream lines(readFile(dir.path() / "record.jsonl"));
        for (std::string line; std::getline(lines, line);) {
            const auto record = nlohmann::json::parse(line);
            EXPECT_EQ(record["plan"], dir.str() + "/plan.txt");
            const int address = record["address"];
            if (address <= queueLength) {
                EXPECT_EQ(record["queue"],
                          nlohmann::json({{"position", address}, {"length", queueLength}}));
            }
            byAddress.emplace(address, record["result"], record["planLine"]);
        }
        return byAddress;
    }
    // The flash a programmed device must hold: the image, erased bytes, the CRC.
    static std::string programmedFlash() {
        const rw::ModelTable models = rw::buildModelTable();
        const rw::DeviceModel& model = *rw::findModel(models, kModel);
        std::string flash(static_cast<size_t>(model.flashEnd - model.pageOffset()), '\xFF');
        std::copy(kImage.begin(), kImage.end(), flash.begin());
        flash.back() = static_cast<char>(expectedCrc(model, kImage));
        return flash;
    }

    TempDir dir;
    std::map<std::string, ChildProcess> sims;
    ChildProcess batch;
};

TEST_F(Batch, ProgramsEveryLinkSideBySideAndFailsOnlyTheRefusingAndAbsentDevices) {
    const std::string tcp =
        startSim("tcp", {"--tcp", "127.0.0.2:0", "--address", "1", "--address", "2", "--address",
                         "3", "--refuse-permission-for", "2"});
    const std::string pty = dir.str() + "/ttySIM";
    startSim("pty", {"--pty", "--pty-link", pty, "--address", "4", "--address", "5"});
    const std::string port =
        std::to_string(portOf(startSim("udp2", {"--udp", "127.0.0.2:0", "--address", "6"})));
    startSim("udp3", {"--udp", "127.0.0.3:" + port, "--address", "7"});
    uint16_t closedPort = 0;
    Fd notListening = peerSocket(SOCK_STREAM, closedPort, -1, false);
    const std::string closed = "127.0.0.2:" + std::to_string(closedPort);
    ASSERT_NO_FATAL_FAILURE(
        startBatch("# every kind of link\ntcp:" + tcp + " 1\ntcp:" + tcp + " 2\ntcp:" + tcp +
                       " 3\nserial:" + pty + "@38400 4\nserial:" + pty +
                       "@38400 5\n\nudp:127.0.0.2:" + port + " 6\nudp:127.0.0.3:" + port + " 7 " +
                       kModel + "\nudp:127.0.0.4:" + port + " 8\ntcp:" + closed + " 9\n",
                   {}));
    EXPECT_EQ(batchExit(), 1) << batch.output();
    stopSims();

    const std::string udp4 = "UDP 127.0.0.4:" + port;
    for (const std::string& line :
         {"TCP " + tcp + "  1  programmed  *** FLASH PROGRAMMING COMPLETE ***",
          "TCP " + tcp + "  2  failed  2: PERMISSION DENIED",
          udp4 + "  8  failed  " + udp4 + " FLASH INITIALIZE ERROR",
          "TCP " + closed + "  9  failed  TCP " + closed + " PORT INITIALIZE ERROR",
          "TCP " + tcp + "                2       1  2\n",
          std::string("total                              6       3\n9 devices on 6 links in ")})
        EXPECT_NE(batch.output().find(line), std::string::npos) << line << "\n" << batch.output();
    const Records expected = {{1, "programmed", 2}, {2, "failed", 3},     {3, "programmed", 4},
                              {4, "programmed", 5}, {5, "programmed", 6}, {6, "programmed", 8},
                              {7, "programmed", 9}, {8, "failed", 10},    {9, "failed", 11}};
    EXPECT_EQ(records(3), expected);
    for (const int address : {1, 3, 4, 5, 6, 7}) {
        EXPECT_EQ(readFile(dir.path() / (std::to_string(address) + ".bin")), programmedFlash())
            << "device " << address;
    }
    // One request sequence per link, one step per request, whatever the other links do.
    std::stringstream requests(readFile(trace("tcp")));
    int previous = -1, count = 0;
    for (std::string line; std::getline(requests, line);) {
        const size_t at = line.find(" seq F");
        if (at == std::string::npos) continue;
        const int sequence = std::stoi(line.substr(at + 5, 2), nullptr, 16) & 3;
        EXPECT_TRUE(previous < 0 || sequence == ((previous + 1) & 3)) << line;
        previous = sequence;
        ++count;
    }
    EXPECT_GT(count, 30);
}

TEST_F(Batch, RetriesStallLimitAndBadInputDecideEachDeviceAndTheExitStatus) {
    // Dropped replies: device 1's flash initialise goes unanswered three times
    // and it fails once. A closed connection: device 1 writes no more blocks.
    const Lines dropped{"--drop-requests", "3-5"}, closed{"--close-after-blocks", "2"};
    const struct {
        Lines simArgs, options;
        int exitCode;
        Records records;
        std::string output;
        std::string secondLine = "2";
    } cases[] = {
        {dropped, {}, 1, {{1, "failed", 1}, {2, "programmed", 2}}, "  1  failed  "},
        {dropped,
         {"--retries", "2"},
         0,
         {{1, "failed", 1}, {1, "programmed", 1}, {2, "programmed", 2}},
         "  1  programmed  "},
        {closed,
         {"--stall", "1"},
         1,
         {{1, "failed", 1}, {2, "programmed", 2}},
         "  1  failed  NO BLOCK WRITTEN FOR 1 SECONDS\n"},
        {{}, {}, 2, {}, "plan.txt:2: address 0", "0"},
        {{}, {"--jobs", "0"}, 2, {}, "--jobs"},
        {{}, {"--stall"}, 2, {}, "--stall"},
        {{}, {"--version"}, 0, {}, std::string("romwright-batch ") + ROMWRIGHT_VERSION + "\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output);
        std::filesystem::remove(dir.path() / "record.jsonl");
        Lines simArgs{"--tcp", "127.0.0.2:0", "--address", "1", "--address", "2"};
        simArgs.insert(simArgs.end(), c.simArgs.begin(), c.simArgs.end());
        const std::string tcp = startSim("tcp", simArgs);
        ASSERT_NO_FATAL_FAILURE(
            startBatch("tcp:" + tcp + " 1\ntcp:" + tcp + " " + c.secondLine + "\n", c.options));
        EXPECT_EQ(batchExit(), c.exitCode) << batch.output();
        EXPECT_EQ(records(), c.records);
        EXPECT_NE(batch.output().find(c.output), std::string::npos) << batch.output();
        stopSims();
        EXPECT_EQ(sims["tcp"].output().find("\nrequests: 0\n") != std::string::npos,
                  c.records.empty());
    }
}

// A file that goes away after the plan was checked fails its device only (and
// again on the retry the failure earns it).
TEST_F(Batch, AFileGoneBeforeItsDeviceStartsFailsThatDeviceAndTheListGoesOn) {
    const std::string tcp = startSim("tcp", {"--tcp", "127.0.0.2:0", "--address", "1", "--address",
                                             "2", "--address", "3", "--delay-ms", "20"});
    const std::string gone = writeFile(dir.path() / "gone.hex", intelHex(0x1000, kImage)).string();
    ASSERT_NO_FATAL_FAILURE(startBatch(
        "tcp:" + tcp + " 1\ntcp:" + tcp + " 2 gone.hex\ntcp:" + tcp + " 3\n", {"--retries", "1"}));
    ASSERT_TRUE(writing({"tcp"}));
    std::filesystem::remove(gone);
    EXPECT_EQ(batchExit(), 1) << batch.output();
    const std::string failure = "  2  failed  Invalid Binary File: " + gone;
    const size_t first = batch.output().find(failure);
    EXPECT_NE(batch.output().find(failure, first + 1), std::string::npos) << "and on its retry";
    EXPECT_EQ(records(), (Records{{1, "programmed", 1}, {3, "programmed", 3}}));
}

// With --jobs 1 the second link waits for the first: the signal finds it unstarted.
TEST_F(Batch, SigtermAbortsEveryRunningDeviceWhichIsSwitchedOutOfProgrammingMode) {
    const struct {
        Lines options, running;
        Records records;
    } cases[] = {
        {{}, {"a", "b"}, {{1, "aborted", 1}, {1, "aborted", 3}}},
        {{"--jobs", "1"}, {"a"}, {{1, "aborted", 1}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.running.size());
        std::filesystem::remove(dir.path() / "record.jsonl");
        std::string plan;
        for (const std::string name : {"a", "b"}) {
            const std::string tcp = startSim(name, {"--tcp", "127.0.0.2:0", "--address", "1",
                                                    "--address", "2", "--delay-ms", "50"});
            plan += "tcp:" + tcp + " 1\ntcp:" + tcp + " 2\n";
        }
        ASSERT_NO_FATAL_FAILURE(startBatch(plan, c.options));
        ASSERT_TRUE(writing(c.running)) << "the links write blocks";
        batch.signal(SIGTERM);
        EXPECT_EQ(batchExit(), 1) << batch.output();
        stopSims();
        for (const std::string& name : c.running) {
            const std::string requests = readFile(trace(name));
            EXPECT_NE(requests.find("mode param 42 off", requests.find("cmd F0")),
                      std::string::npos)
                << requests;
            EXPECT_NE(sims[name].output().find("device 2 (KVTC/1-4255): 0 requests"),
                      std::string::npos)
                << "the rest of the list never starts";
        }
        EXPECT_EQ(readFile(trace("b")).empty(), c.running.size() == 1) << "a link waiting its turn";
        EXPECT_EQ(records(), c.records);
    }
}

}  // namespace
}  // namespace rwtest
