// The production record: what one line says, the order of the file calls that
// make it durable, torn lines, and two processes appending at once.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "control/ProductionRecord.h"
#include "support/TestEnv.h"

namespace rwtest {
namespace {

using Json = nlohmann::json;
using Clock = std::chrono::system_clock;

rw::JobOutcome serialOutcome() {
    rw::JobOutcome o;
    o.programmed = true;
    o.status = "*** FLASH PROGRAMMING COMPLETE ***";
    o.model = "KVTC/1-4255";
    o.address = 5;
    o.link = "COM3";
    o.device = "/dev/ttyUSB0";
    o.baudRate = 38400;
    o.file = "/work/image.hex";
    o.fileSha256 = std::string(64, 'a');
    o.imageLength = 300;
    o.imageCrc = 10;
    o.bytesWritten = 300;
    o.requests = 9;
    o.retries = 1;
    return o;
}

TEST(ProductionRecord, OneLineSaysWhatWentWhereAndHowItEnded) {
    rw::RecordContext context;
    context.program = "romwright 1.1.0.4";
    context.station = "bench-7";
    context.user = "tech";
    context.started = Clock::now();
    const auto time = context.started + std::chrono::milliseconds(1500);

    const auto line = nlohmann::ordered_json::parse(
        rw::ProductionRecord::line(context, serialOutcome(), "programmed", time));
    const std::vector<std::string> keys = {"time",       "started",      "durationMs", "station",
                                           "user",       "program",      "model",      "address",
                                           "link",       "device",       "baud",       "file",
                                           "fileSha256", "imageLength",  "imageCrc",   "result",
                                           "status",     "bytesWritten", "requests",   "retries"};
    std::vector<std::string> seen;
    for (const auto& item : line.items()) seen.push_back(item.key());
    EXPECT_EQ(seen, keys) << "stable key names, in this order";
    EXPECT_EQ(line["durationMs"], 1500);
    EXPECT_EQ(line["imageCrc"], "0a");
    EXPECT_EQ(line["device"], "/dev/ttyUSB0");
    EXPECT_EQ(line["baud"], 38400);
    EXPECT_EQ(line["time"].get<std::string>().size(), 25u) << line["time"];  // ...T..:..:..+hh:mm
    EXPECT_EQ(line["time"].get<std::string>()[22], ':');

    // A network link has no device; a list job says where it stood; a batch
    // names its plan line; bytes that are not UTF-8 still give a valid line.
    rw::JobOutcome network = serialOutcome();
    network.link = "UDP 127.0.0.2:3001";
    network.device.clear();
    network.file = std::string("/work/\xff\xfe.hex");
    network.imageCrc = -1;
    context.queuePosition = 2;
    context.queueLength = 3;
    context.plan = "site.plan";
    context.planLine = 12;
    const Json other = Json::parse(rw::ProductionRecord::line(context, network, "failed", time));
    EXPECT_FALSE(other.contains("device"));
    EXPECT_FALSE(other.contains("baud"));
    EXPECT_EQ(other["queue"], (Json{{"position", 2}, {"length", 3}}));
    EXPECT_EQ(other["plan"], "site.plan");
    EXPECT_EQ(other["planLine"], 12);
    EXPECT_EQ(other["file"], "/work/\xef\xbf\xbd\xef\xbf\xbd.hex");
    EXPECT_TRUE(other["imageCrc"].is_null());
}

// Records every call; the file's content is a string.
struct WatchedFile : rw::RecordFile {
    std::vector<std::string>* calls;
    std::string content;
    explicit WatchedFile(std::vector<std::string>* log, std::string start = {})
        : calls(log), content(std::move(start)) {}
    bool open(const std::string&, std::string&) override { return note("open"); }
    void close() override {}
    bool lock() override { return note("lock"); }
    void unlock() override { note("unlock"); }
    std::optional<char> lastByte() override {
        note("lastByte");
        if (content.empty()) return std::nullopt;
        return content.back();
    }
    bool append(const std::string& bytes) override {
        content += bytes;
        return note("append " + std::to_string(bytes.front() == '\n' ? 1 : 0));
    }
    bool sync() override { return note("sync"); }
    bool note(const std::string& call) {
        calls->push_back(call);
        return true;
    }
};

TEST(ProductionRecord, TheLineIsWrittenWholeAndSyncedUnderTheLockAfterATornOneIsEnded) {
    const struct {
        std::string before;
        bool newLineFirst;
    } cases[] = {{"", false}, {"{\"complete\":1}\n", false}, {"{\"torn\":", true}};
    for (const auto& c : cases) {
        std::vector<std::string> calls;
        auto file = std::make_unique<WatchedFile>(&calls, c.before);
        WatchedFile& watched = *file;
        rw::ProductionRecord record(std::move(file));
        std::string error;
        ASSERT_TRUE(record.open("record.jsonl", error));
        record.beginJob({});
        record.jobEnded(serialOutcome());
        EXPECT_EQ(calls, (std::vector<std::string>{"open", "lock", "lastByte",
                                                   c.newLineFirst ? "append 1" : "append 0", "sync",
                                                   "unlock"}));
        std::istringstream lines(watched.content);
        std::string lastLine;
        for (std::string l; std::getline(lines, l);) lastLine = l;
        EXPECT_NO_THROW(Json::parse(lastLine));
        EXPECT_EQ(watched.content.back(), '\n');
    }
}

TEST(ProductionRecord, AStoppedJobIsAbortedOnlyWhenTheOperatorStoppedIt) {
    const struct {
        bool programmed, stopped, operatorAbort;
        const char* result;
    } cases[] = {{true, true, true, "programmed"},  // the Abort came too late
                 {false, true, true, "aborted"},
                 {false, true, false, "failed"},  // the stall limit
                 {false, false, true, "failed"}};
    TempDir dir;
    const std::string path = (dir.path() / "Production.jsonl").string();
    for (const auto& c : cases) {
        rw::ProductionRecord record;
        std::string error;
        ASSERT_TRUE(record.open(path, error)) << error;
        record.beginJob({});
        record.markStopped("STOPPED", c.operatorAbort);
        rw::JobOutcome outcome = serialOutcome();
        outcome.programmed = c.programmed;
        outcome.stopped = c.stopped;
        if (!c.programmed) outcome.status.clear();  // ended without a final line
        record.jobEnded(outcome);
        EXPECT_EQ(record.lastError(), "");
        std::istringstream lines(readFile(path));
        std::string last;
        for (std::string l; std::getline(lines, l);) last = l;
        EXPECT_EQ(Json::parse(last)["result"], c.result);
        // A stopped job without a final line has the stop's own status.
        EXPECT_EQ(Json::parse(last)["status"] == "STOPPED", c.stopped && !c.programmed);
    }
    rw::ProductionRecord unwritable;
    std::string error;
    EXPECT_FALSE(unwritable.open((dir.path() / "missing" / "x.jsonl").string(), error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
    unwritable.jobEnded(serialOutcome());  // no file: nothing, no crash
}

TEST(ProductionRecord, TwoProcessesAppendingAtOnceNeverInterleave) {
    TempDir dir;
    const std::string path = (dir.path() / "Production.jsonl").string();
    constexpr int kLines = 150;
    pid_t children[2];
    for (pid_t& child : children) {
        child = ::fork();
        if (child == 0) {
            rw::ProductionRecord record;
            std::string error;
            if (!record.open(path, error)) ::_exit(1);
            rw::JobOutcome outcome = serialOutcome();
            outcome.status = std::string(3000, 'x');  // long lines: more to interleave
            for (int i = 0; i < kLines; ++i) {
                record.beginJob({});
                record.jobEnded(outcome);
            }
            ::_exit(record.lastError().empty() ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = -1;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_EQ(status, 0);
    }
    std::istringstream lines(readFile(path));
    int count = 0;
    for (std::string l; std::getline(lines, l); ++count) {
        ASSERT_NO_THROW(Json::parse(l)) << "line " << count;
    }
    EXPECT_EQ(count, 2 * kLines);
}

}  // namespace
}  // namespace rwtest
