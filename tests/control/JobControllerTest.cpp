// The job controller's state machine, driven by hand as the window and the
// worker would: every command in every state and the buttons it leaves, the
// runs that went wrong before, Go's refusals and the link it fills, the device
// list and the stall limit; then the production record on its own.
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <sstream>

#include "JobBench.h"
#include "control/StallWatch.h"

namespace rwtest {
namespace {

using rw::JobState;

// Plays words in order: go, abort, close, quit (the command line's, code 1),
// over (the queue pause ended), ended (the worker's threads let go of the record),
// sent (a progress line), final (a failing final line alone), done (a failed
// completion alone), ok / fail (final line and completion, threads still on the
// record), list:5,9 (the device list confirmed, when it may be opened).
void play(JobBench& t, const std::string& words) {
    std::istringstream in(words);
    for (std::string w; in >> w;) {
        if (w == "go") t.controller.go();
        if (w == "abort") t.controller.abort();
        if (w == "close") t.controller.close();
        if (w == "quit") t.controller.quitRequested(1);
        if (w == "over") t.controller.queuePauseElapsed();
        if (w == "ended") t.controller.workerEnded();
        if (w == "sent") t.status("SENT  128 / 256  BYTES...", 0, 0);
        if (w == "final") t.status("CRC CHECKSUM ERROR", 1, 1);
        if (w == "done") t.controller.flashDone(1);
        if (w == "ok" || w == "fail") {
            t.job.failed = w == "fail";
            t.status(w == "fail" ? "CRC CHECKSUM ERROR" : kComplete, 1, 1);
            t.job.running = 0;
            t.controller.flashDone(w == "fail");
        }
        if (w.starts_with("list:") && t.controller.deviceListTaken()) {
            rw::queueAddressList(w.substr(5));
            t.controller.listConfirmed();
        }
    }
}

// The view's lines, then the state and the failed list: "status ; start 5 => running [9]".
std::string outcome(JobBench& t) {
    std::string text;
    for (const std::string& line : t.lines) text += (text.empty() ? "" : "; ") + line;
    text += std::string(" => ") + rw::jobStateName(t.controller.state()) + " [";
    for (uint16_t address : rw::failedList()) text += std::to_string(address) + ",";
    return text + "]";
}

const std::string kAborted = "status Flash Download Aborted...; red";
const std::string kWaiting = "status WAITING FOR THE LAST JOB TO END...";
const std::string kCrcError = "status CRC CHECKSUM ERROR";

// The states as the words that lead there: idle, running, aborted, ended,
// the pause after a job, the pause of a new list, closing.
const char* const kStates[] = {"", "go", "go abort", "go ok", "go list:9 ok", "list:9", "close"};
const char* const kCommands[] = {"go",    "abort", "list:7", "over", "done",
                                 "final", "ended", "quit",   "close"};
// Every pair not listed keeps its state and shows nothing, except that "final"
// shows its line, "quit" quits in every state but closing, and "close" closes.
const std::tuple<std::string, std::string, std::string> kTable[] = {
    {"", "go", "status ; start 5 => running []"},
    {"", "abort", "status  => idle []"},
    {"", "list:7", "address 7; pause 1000 => queue pause []"},
    {"go", "abort", kAborted + " => winding down []"},
    {"go", "done", " => winding down [5,]"},
    {"go", "final", kCrcError + " => winding down []"},
    {"go", "ended", " => idle []"},
    {"go abort", "go", kWaiting + " => winding down []"},
    {"go abort", "done", " => winding down [5,]"},
    {"go abort", "ended", " => idle []"},
    {"go ok", "go", kWaiting + " => winding down []"},
    {"go ok", "ended", " => idle []"},
    {"go list:9 ok", "abort", kAborted + " => winding down []"},
    {"list:9", "abort", kAborted + " => idle []"},
    {"list:9", "over", "status ; start 9 => running []"},
    {"close", "quit", " => closing []"},
};

TEST(Controller, EveryCommandInEveryStateAndTheButtonsItLeaves) {
    for (const std::string state : kStates) {
        for (const std::string command : kCommands) {
            SCOPED_TRACE(state + " + " + command);
            JobBench t;
            play(t, state);
            std::string expected = command == "final"  ? kCrcError
                                   : command == "quit" ? "quit 1"
                                                       : "";
            expected += std::string(" => ") +
                        (command == "close" ? "closing" : rw::jobStateName(t.controller.state())) +
                        " []";
            for (const auto& [s, c, listed] : kTable) {
                if (state == s && command == c) expected = listed;
            }
            t.lines.clear();
            play(t, command);
            EXPECT_EQ(outcome(t), expected);
            // Go and Browse are off and Abort on exactly while a job or a list is under way
            // (a final line in the pause, which no worker sends, is left out).
            const JobState now = t.controller.state();
            EXPECT_TRUE(now == JobState::Closing ||
                        (now == JobState::QueuePause && command == "final") ||
                        t.live == (now == JobState::Running || now == JobState::QueuePause));
        }
    }
}

TEST(Controller, RunsThatWentWrongBefore) {
    const std::pair<const char*, std::string> cases[] = {
        // Go in the pause is not taken; every address runs once, in order; one failure
        // offers no retry.
        {"list:5,9 go over go ok go ended over go fail ended",
         "address 5; pause 1000; status ; start 5; status " + kComplete +
             "; address 9; pause 1000; status ; start 9; " + kCrcError + "; red => idle [9,]"},
        // Abort in the pause drops the rest of the list.
        {"list:5,9,11 abort over go ok ended", "address 5; pause 1000; " + kAborted +
                                                   "; status ; start 5; plain; status " +
                                                   kComplete + " => idle []"},
        // The queued Go waits for the last worker to end.
        {"list:5,4 over ok over ended",
         "address 5; pause 1000; status ; start 5; status " + kComplete +
             "; address 4; pause 1000; status ; start 4 => running []"},
        // A list confirmed after the completion waits for the worker; before it, the
        // completion takes it.
        {"go fail list:4,7 ended",
         "status ; start 5; " + kCrcError + "; red; address 4; pause 1000 => queue pause []"},
        // The retry list opens at the second failure; an address is listed once.
        {"go fail ended go fail ended list:4,7 over fail ended over fail",
         "status ; start 5; " + kCrcError + "; red; status ; start 5; plain; " + kCrcError +
             "; red; address 4; pause 1000; status ; start 4; plain; " + kCrcError +
             "; red; address 7; pause 1000; status ; start 7; plain; " + kCrcError +
             "; red; retry => winding down [4,7,]"},
        // An aborted job keeps its status; a second Abort does nothing.
        {"go sent abort abort sent done", "status ; start 5; status SENT  128 / 256  BYTES...; " +
                                              kAborted + " => winding down [5,]"},
        // A Go that waited starts once the worker has ended.
        {"go abort go ended", "status ; start 5; " + kAborted + "; " + kWaiting +
                                  "; status ; start 5; plain => running []"},
    };
    for (const auto& [words, expected] : cases) {
        JobBench t;
        play(t, words);
        EXPECT_EQ(outcome(t), expected) << words;
    }
}

TEST(Controller, DeviceListsHoldEachNumberOnceInTheirOrder) {
    // Words that are not numbers and 0 name no device; numbers keep their low 16 bits.
    EXPECT_EQ(rw::parseAddressList("12, abc\t0\r\n70000 12 -1,,+7"),
              (rw::AddressList{12, 4464, 65535, 7}));
}

TEST(Controller, GoRefusesWhatTheRecordCannotTakeAndFillsTheLink) {
    const struct {
        int driver, modelRow;
        std::string hostPort, imageFile, expected;  // link kind, port, host; or the refusal
    } cases[] = {
        {2, 1, "127.0.0.2", "", "2 3001 127.0.0.2"},
        {3, 1, "h:12:34", "", "3 12 h"},
        {1, 1, "", ".gone", "Invalid Binary File"},
        {1, -1, "", "", "NO FLASH DEVICE SELECTED"},
        {1, 5, "", "", "NO FLASH DEVICE SELECTED"},
        {2, 1, std::string(32, 'h'), "", "HOST NAME TOO LONG"},
    };
    for (const auto& c : cases) {
        JobBench t;
        std::tie(t.form.driver, t.form.modelRow) = std::tie(c.driver, c.modelRow);
        t.form.hostPort = c.hostPort;
        t.form.imageFile += c.imageFile;
        t.controller.go();
        const bool refused = std::isupper(c.expected[0]);
        EXPECT_EQ(t.job.failed, refused) << c.expected;
        if (refused) {
            EXPECT_EQ(outcome(t), "status " + c.expected + "; red => idle []");
            continue;
        }
        EXPECT_EQ(std::to_string(t.job.linkKind) + " " + std::to_string(t.job.port) + " " +
                      t.job.hostName,
                  c.expected);
        EXPECT_EQ(outcome(t), "status ; start 5 => running []");
    }
}

TEST(Controller, TheStallLimitCountsFromTheWritePhaseAfterTheEraseWait) {
    // The limit and the erase wait in seconds; a first status at ms, logged or not,
    // with its bytes written; an unlogged second one at ms (-1: none) with its bytes;
    // the moment of the check and whether the limit has passed then.
    const std::array<int32_t, 9> cases[] = {
        {5, 0, 0, 1, 0, -1, 0, 60000, 0},  // nothing counts before the write phase
        {5, 0, 0, 1, 0, 1000, 0, 6000, 1},
        {5, 0, 1000, 0, 0, -1, 0, 5999, 0},
        {5, 20, 1000, 0, 0, -1, 0, 25999, 0},  // the erase wait is no stall
        {5, 20, 1000, 0, 0, -1, 0, 26000, 1},
        {5, 0, 1000, 0, 0, 4000, 128, 8999, 0},    // a block restarts the count
        {5, 0, 1000, 0, 128, 4000, 128, 6000, 1},  // the same count is no progress
        {0, 0, 1000, 0, 0, -1, 0, 999999, 0},      // no limit
    };
    for (const auto& [limit, erase, at1, logged1, bytes1, at2, bytes2, checkAt, expired] : cases) {
        rw::StallWatch watch(limit);
        watch.jobStarted(0);
        watch.status(logged1, bytes1, erase, at1);
        if (at2 >= 0) watch.status(false, bytes2, erase, at2);
        EXPECT_EQ(watch.expired(checkAt), expired != 0) << checkAt;
    }
}

// A job that ended programmed, with a long status: more to interleave.
rw::JobOutcome outcome(bool programmed = true, bool stopped = false) {
    rw::JobOutcome o;
    std::tie(o.programmed, o.stopped, o.status) =
        std::tuple(programmed, stopped, std::string(3000, 'x'));
    return o;
}

// Records every call; the file's content is a string.
struct WatchedFile : rw::RecordFile {
    std::string calls, content;
    bool open(const std::string&, std::string&) override { return note("open"); }
    void close() override {}
    bool lock() override { return note("lock"); }
    void unlock() override { note("unlock"); }
    std::optional<char> lastByte() override {
        return note("lastByte") && !content.empty() ? std::optional(content.back()) : std::nullopt;
    }
    bool append(const std::string& b) override { return content += b, note("append"); }
    bool sync() override { return note("sync"); }
    bool note(const char* call) { return calls += call + std::string(" "), true; }
};

// The line is appended whole and synced under the lock, after a torn last line
// has been ended; a stopped job is "aborted" only when the operator stopped it,
// and without a final line it has the stop's own status.
TEST(ProductionRecord, EachJobAppendsOneWholeLineThatSaysHowItEnded) {
    // Programmed, stopped, stopped by the operator (not the stall limit), the result.
    const std::tuple<bool, bool, bool, const char*> cases[] = {
        {true, true, true, "programmed"},  // the Abort came too late
        {false, true, true, "aborted"},
        {false, true, false, "failed"},
        {false, false, true, "failed"}};
    for (const auto& [programmed, stopped, operatorAbort, result] : cases) {
        auto* watched = new WatchedFile;  // the record owns it
        rw::ProductionRecord record{std::unique_ptr<rw::RecordFile>(watched)};
        std::string error;
        ASSERT_TRUE(record.open("record.jsonl", error));
        record.beginJob({});
        record.markStopped("STOPPED", operatorAbort);
        rw::JobOutcome ended = outcome(programmed, stopped);
        if (!programmed) ended.status.clear();  // ended without a final line
        record.jobEnded(ended);
        EXPECT_EQ(watched->calls, "open lock lastByte append sync unlock ");
        const auto written = jsonLines(watched->content);
        ASSERT_EQ(written.size(), 1u);
        EXPECT_EQ(std::tie(written[0]["result"], written[0]["status"]),
                  std::make_tuple(result, stopped && !programmed ? "STOPPED" : ended.status));
    }
}

TEST(ProductionRecord, TwoProcessesAppendingAtOnceNeverInterleave) {
    TempDir dir;
    const std::string path = writeFile(dir.path() / "Production.jsonl", "{\"torn\":").string();
    pid_t children[2];
    for (pid_t& child : children) {
        if ((child = ::fork()) != 0) continue;
        rw::ProductionRecord record;
        std::string error;
        for (int i = 0; i < 150 && record.open(path, error); ++i) {
            record.beginJob({});
            record.jobEnded(outcome());
        }
        ::_exit(record.lastError().empty() && error.empty() ? 0 : 1);
    }
    for (pid_t child : children) {
        int status = -1;
        EXPECT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_EQ(status, 0);
    }
    const std::string text = readFile(path);
    EXPECT_TRUE(text.starts_with("{\"torn\":\n{")) << "a torn line is ended, not mended";
    EXPECT_EQ(jsonLines(text, 9).size(), 300u);
}

}  // namespace
}  // namespace rwtest
