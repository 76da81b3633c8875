// The production record: what one line says, the order of the file calls that
// make it durable, torn lines, and the result a stopped job gets.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "control/ProductionRecord.h"
#include "support/TestEnv.h"

namespace rwtest {
namespace {

using Json = nlohmann::ordered_json;

rw::JobOutcome serialOutcome() {
    rw::JobOutcome o{.programmed = true,
                     .status = "*** FLASH PROGRAMMING COMPLETE ***",
                     .model = "KVTC/1-4255",
                     .address = 5,
                     .link = "COM3",
                     .device = "/dev/ttyUSB0",
                     .baudRate = 38400,
                     .file = "/work/image.hex",
                     .fileSha256 = std::string(64, 'a')};
    o.imageLength = o.bytesWritten = 300;
    o.imageCrc = 10;
    o.requests = 9;
    o.retries = 1;
    return o;
}

// The last line of the file, parsed.
Json lastLine(const std::string& text) {
    std::istringstream lines(text);
    std::string last;
    for (std::string l; std::getline(lines, l);) last = l;
    return Json::parse(last);
}

TEST(ProductionRecord, OneLineSaysWhatWentWhereAndHowItEnded) {
    rw::RecordContext context{.program = "romwright 1.1.0.4",
                              .station = "bench-7",
                              .user = "tech",
                              .started = std::chrono::system_clock::now(),
                              .plan = {}};
    const auto time = context.started + std::chrono::milliseconds(1500);
    const Json line =
        Json::parse(rw::ProductionRecord::line(context, serialOutcome(), "programmed", time));
    Json expected = Json::parse(R"({"time": 0, "started": 0, "durationMs": 1500,
        "station": "bench-7", "user": "tech", "program": "romwright 1.1.0.4",
        "model": "KVTC/1-4255", "address": 5, "link": "COM3", "device": "/dev/ttyUSB0",
        "baud": 38400, "file": "/work/image.hex", "fileSha256": "", "imageLength": 300,
        "imageCrc": "0a", "result": "programmed", "status": "*** FLASH PROGRAMMING COMPLETE ***",
        "bytesWritten": 300, "requests": 9, "retries": 1})");
    expected["time"] = rw::isoLocalTime(time);
    expected["started"] = rw::isoLocalTime(context.started);
    expected["fileSha256"] = std::string(64, 'a');
    EXPECT_EQ(line.dump(), expected.dump()) << "stable key names, in this order";
    const std::string iso = line["time"];
    EXPECT_EQ(iso.size(), 25u) << iso;  // ...T..:..:..+hh:mm
    EXPECT_EQ(iso[22], ':');

    // A network link has no device; a list job says where it stood; a batch
    // names its plan line; bytes that are not UTF-8 still give a valid line.
    rw::JobOutcome network = serialOutcome();
    network.link = "UDP 127.0.0.2:3001";
    network.device.clear();
    network.file = std::string("/work/\xff.hex");
    network.imageCrc = -1;
    context.queuePosition = 2;
    context.queueLength = 3;
    context.plan = "site.plan";
    context.planLine = 12;
    const Json other = Json::parse(rw::ProductionRecord::line(context, network, "failed", time));
    EXPECT_FALSE(other.contains("device") || other.contains("baud"));
    EXPECT_EQ(other["queue"], (Json{{"position", 2}, {"length", 3}}));
    EXPECT_EQ(std::tie(other["plan"], other["planLine"]), std::make_tuple("site.plan", 12));
    EXPECT_EQ(other["file"], "/work/\xef\xbf\xbd.hex");
    EXPECT_TRUE(other["imageCrc"].is_null());
}

// Records every call; the file's content is a string.
struct WatchedFile : rw::RecordFile {
    std::vector<std::string>* calls;
    std::string content;
    bool open(const std::string&, std::string&) override { return note("open"); }
    void close() override {}
    bool lock() override { return note("lock"); }
    void unlock() override { note("unlock"); }
    std::optional<char> lastByte() override {
        note("lastByte");
        return content.empty() ? std::nullopt : std::optional<char>(content.back());
    }
    bool append(const std::string& bytes) override {
        content += bytes;
        return note("append");
    }
    bool sync() override { return note("sync"); }
    bool note(const std::string& call) {
        calls->push_back(call);
        return true;
    }
};

TEST(ProductionRecord, TheLineIsWrittenWholeAndSyncedUnderTheLockAfterATornOneIsEnded) {
    for (const std::string before : {"", "{\"complete\":1}\n", "{\"torn\":"}) {
        std::vector<std::string> calls;
        auto file = std::make_unique<WatchedFile>();
        file->calls = &calls;
        file->content = before;
        WatchedFile& watched = *file;
        rw::ProductionRecord record(std::move(file));
        std::string error;
        ASSERT_TRUE(record.open("record.jsonl", error));
        record.beginJob({});
        record.jobEnded(serialOutcome());
        EXPECT_EQ(calls, (std::vector<std::string>{"open", "lock", "lastByte", "append", "sync",
                                                   "unlock"}));
        EXPECT_EQ(lastLine(watched.content)["address"], 5);
        EXPECT_EQ(watched.content.substr(0, before.size() + 1),
                  before + (before.ends_with(':') ? "\n" : "{"));
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
    const std::string path = writeFile(dir.path() / "Production.jsonl", "{\"torn\":").string();
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
        const Json last = lastLine(readFile(path));
        EXPECT_EQ(last["result"], c.result);
        // A stopped job without a final line has the stop's own status.
        EXPECT_EQ(last["status"] == "STOPPED", c.stopped && !c.programmed);
    }
    EXPECT_EQ(readFile(path).find("{\"torn\":\n{"), 0u) << "a torn line is ended, not mended";
    rw::ProductionRecord unwritable;
    std::string error;
    EXPECT_FALSE(unwritable.open((dir.path() / "missing" / "x.jsonl").string(), error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
    unwritable.jobEnded(serialOutcome());  // no file: nothing, no crash
}

// Two programs sharing one record file: every line whole, none lost.
TEST(ProductionRecord, TwoProcessesAppendingAtOnceNeverInterleave) {
    TempDir dir;
    const std::string path = (dir.path() / "Production.jsonl").string();
    constexpr int kLines = 150;
    pid_t children[2];
    for (pid_t& child : children) {
        child = ::fork();
        if (child != 0) continue;
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
    for (pid_t child : children) {
        int status = -1;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_EQ(status, 0);
    }
    std::istringstream lines(readFile(path));
    int count = 0;
    for (std::string l; std::getline(lines, l); ++count) ASSERT_NO_THROW(Json::parse(l)) << l;
    EXPECT_EQ(count, 2 * kLines);
}

}  // namespace
}  // namespace rwtest
