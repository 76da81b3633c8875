// The job controller's state machine: every command in every state, then the
// runs that went wrong before (queued Go, quick retry, late Escape, second Abort).
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "ControllerHarness.h"

namespace rwtest {
namespace {

using rw::JobState;

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += (text.empty() ? "" : "; ") + line;
    return text;
}

using Step = std::function<void(ControllerTest&)>;

struct Named {
    const char* name;
    Step step;
};

const Named kStates[] = {
    {"idle", [](ControllerTest&) {}},
    {"running", [](ControllerTest& t) { t.controller.go(); }},
    {"aborted",
     [](ControllerTest& t) {
         t.controller.go();
         t.controller.abort();
     }},
    {"ended",
     [](ControllerTest& t) {
         t.controller.go();
         t.finish(0, false);
     }},
    {"pause",
     [](ControllerTest& t) {
         rw::pendingQueue() = {9};
         t.controller.go();
         t.finish(0, false);
     }},
    {"pause, no worker",
     [](ControllerTest& t) {
         rw::pendingQueue() = {9};
         t.controller.listConfirmed();
     }},
    {"closing", [](ControllerTest& t) { t.controller.close(); }},
};

const Named kCommands[] = {
    {"go", [](ControllerTest& t) { t.controller.go(); }},
    {"abort", [](ControllerTest& t) { t.controller.abort(); }},
    {"list",
     [](ControllerTest& t) {
         if (!t.controller.deviceListTaken()) return;
         rw::pendingQueue() = {7};
         t.controller.listConfirmed();
     }},
    {"pause over", [](ControllerTest& t) { t.controller.queuePauseElapsed(); }},
    {"done", [](ControllerTest& t) { t.controller.flashDone(1); }},
    {"final", [](ControllerTest& t) { t.status("CRC CHECKSUM ERROR", 1, 1); }},
    {"ended", [](ControllerTest& t) { t.controller.workerEnded(); }},
    {"quit", [](ControllerTest& t) { t.controller.quitRequested(1); }},
    {"close", [](ControllerTest& t) { t.controller.close(); }},
};

constexpr const char* kAborted = "status Flash Download Aborted...";
constexpr const char* kWaiting = "status WAITING FOR THE LAST JOB TO END...";
constexpr const char* kCrcError = "status CRC CHECKSUM ERROR";

struct Transition {
    const char* state;
    const char* command;
    JobState next;
    std::string effects;  // start, pause, address, retry, quit and status lines
};

// clang-format off
const Transition kTable[] = {
    {"idle", "go", JobState::Running, "status ; start 5"},
    {"idle", "abort", JobState::Idle, "status "},
    {"idle", "list", JobState::QueuePause, "address 7; pause 1000"},
    {"idle", "pause over", JobState::Idle, ""},
    {"idle", "done", JobState::Idle, ""},
    {"idle", "final", JobState::Idle, kCrcError},
    {"idle", "ended", JobState::Idle, ""},
    {"idle", "quit", JobState::Idle, "quit 1"},
    {"idle", "close", JobState::Closing, ""},
    {"running", "go", JobState::Running, ""},
    {"running", "abort", JobState::WindingDown, kAborted},
    {"running", "list", JobState::Running, ""},
    {"running", "pause over", JobState::Running, ""},
    {"running", "done", JobState::WindingDown, ""},
    {"running", "final", JobState::WindingDown, kCrcError},
    {"running", "ended", JobState::Idle, ""},
    {"running", "quit", JobState::Running, "quit 1"},
    {"running", "close", JobState::Closing, ""},
    {"aborted", "go", JobState::WindingDown, kWaiting},
    {"aborted", "abort", JobState::WindingDown, ""},
    {"aborted", "list", JobState::WindingDown, ""},
    {"aborted", "pause over", JobState::WindingDown, ""},
    {"aborted", "done", JobState::WindingDown, ""},
    {"aborted", "final", JobState::WindingDown, kCrcError},
    {"aborted", "ended", JobState::Idle, ""},
    {"aborted", "quit", JobState::WindingDown, "quit 1"},
    {"aborted", "close", JobState::Closing, ""},
    {"ended", "go", JobState::WindingDown, kWaiting},
    {"ended", "abort", JobState::WindingDown, ""},
    {"ended", "list", JobState::WindingDown, ""},
    {"ended", "pause over", JobState::WindingDown, ""},
    {"ended", "done", JobState::WindingDown, ""},
    {"ended", "final", JobState::WindingDown, kCrcError},
    {"ended", "ended", JobState::Idle, ""},
    {"ended", "quit", JobState::WindingDown, "quit 1"},
    {"ended", "close", JobState::Closing, ""},
    {"pause", "go", JobState::QueuePause, ""},
    {"pause", "abort", JobState::WindingDown, kAborted},
    {"pause", "list", JobState::QueuePause, ""},
    {"pause", "pause over", JobState::QueuePause, ""},
    {"pause", "done", JobState::QueuePause, ""},
    {"pause", "final", JobState::QueuePause, kCrcError},
    {"pause", "ended", JobState::QueuePause, ""},
    {"pause", "quit", JobState::QueuePause, "quit 1"},
    {"pause", "close", JobState::Closing, ""},
    {"pause, no worker", "go", JobState::QueuePause, ""},
    {"pause, no worker", "abort", JobState::Idle, kAborted},
    {"pause, no worker", "list", JobState::QueuePause, ""},
    {"pause, no worker", "pause over", JobState::Running, "status ; start 9"},
    {"pause, no worker", "done", JobState::QueuePause, ""},
    {"pause, no worker", "final", JobState::QueuePause, kCrcError},
    {"pause, no worker", "ended", JobState::QueuePause, ""},
    {"pause, no worker", "quit", JobState::QueuePause, "quit 1"},
    {"pause, no worker", "close", JobState::Closing, ""},
    {"closing", "go", JobState::Closing, ""},
    {"closing", "abort", JobState::Closing, ""},
    {"closing", "list", JobState::Closing, ""},
    {"closing", "pause over", JobState::Closing, ""},
    {"closing", "done", JobState::Closing, ""},
    {"closing", "final", JobState::Closing, kCrcError},
    {"closing", "ended", JobState::Closing, ""},
    {"closing", "quit", JobState::Closing, ""},
    {"closing", "close", JobState::Closing, ""},
};
// clang-format on

const Step& find(const Named (&table)[7], const std::string& name) {
    for (const Named& entry : table) {
        if (name == entry.name) return entry.step;
    }
    throw std::runtime_error("no such entry: " + name);
}

TEST(JobControllerTable, EveryCommandInEveryState) {
    for (const Transition& row : kTable) {
        SCOPED_TRACE(std::string(row.state) + " + " + row.command);
        struct Case : ControllerTest {
            void TestBody() override {}
        } t;
        find(kStates, row.state)(t);
        t.view.lines.clear();
        const Step* command = nullptr;
        for (const Named& entry : kCommands) {
            if (std::string(row.command) == entry.name) command = &entry.step;
        }
        ASSERT_NE(command, nullptr);
        (*command)(t);
        EXPECT_EQ(rw::jobStateName(t.controller.state()), std::string(rw::jobStateName(row.next)));
        EXPECT_EQ(joined(t.view.only({"start", "pause", "address", "retry", "quit", "status"})),
                  row.effects);
    }
}

TEST_F(ControllerTest, GoInTheQueuePauseIsNotTakenAndEveryAddressRunsOnceInOrder) {
    rw::pendingQueue() = {5, 9};
    controller.listConfirmed();
    for (int address : {5, 9}) {
        controller.go();  // the operator's Go (button or Enter) in the pause
        EXPECT_EQ(view.started, address == 5 ? 0 : 1);
        controller.queuePauseElapsed();
        controller.go();  // and again while the queued job runs
        finish(address == 9 ? 1 : 0, /*threadsGone=*/false);
        if (address == 5) controller.go();  // and in the pause while its threads end
        controller.workerEnded();
    }
    EXPECT_EQ(view.only({"start"}), (std::vector<std::string>{"start 5", "start 9"}));
    EXPECT_EQ(rw::failedList(), rw::AddressList{9});
    EXPECT_EQ(controller.state(), JobState::Idle);
    EXPECT_FALSE(view.live);
}

TEST_F(ControllerTest, AbortInThePauseDropsTheRestOfTheList) {
    rw::pendingQueue() = {5, 9, 11};
    controller.listConfirmed();
    EXPECT_TRUE(view.live) << "Abort stays available for the list";
    controller.abort();
    controller.queuePauseElapsed();  // a timer that fired anyway changes nothing
    EXPECT_EQ(view.started, 0);
    EXPECT_TRUE(rw::pendingQueue().empty());
    EXPECT_TRUE(rw::failedList().empty());
    EXPECT_EQ(view.status, "Flash Download Aborted...");
    EXPECT_EQ(job.failed, 1);
    EXPECT_FALSE(view.live);
}

// The retry list may be confirmed while the last worker still closes its link
// (or, before, while the queued Go waits for it): the list still starts.
TEST_F(ControllerTest, AConfirmedListAlwaysStarts) {
    const struct {
        const char* name;
        bool confirmBeforeWorkerEnds;
        bool slowLink;  // the pause runs out before the worker has ended
    } cases[] = {{"confirmed at once", true, false},
                 {"confirmed later", false, false},
                 {"link slow to close", true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        struct Case : ControllerTest {
            void TestBody() override {}
        } t;
        rw::pendingQueue() = {5};
        rw::failedList() = {4};
        t.view.form->address = 4;
        t.controller.go();
        t.finish(1, false);
        t.controller.queuePauseElapsed();  // the queued Go waits for the worker
        t.controller.workerEnded();
        t.finish(1, false);  // 5 fails too: two failures, the retry list opens
        EXPECT_EQ(t.view.only({"retry"}).size(), 1u);
        rw::queueAddressList("5\r\n4\r\n");  // what the retry list's Go does
        if (!c.confirmBeforeWorkerEnds) t.controller.workerEnded();
        t.controller.listConfirmed();
        if (c.confirmBeforeWorkerEnds) {
            EXPECT_EQ(t.controller.state(), JobState::WindingDown);
            t.controller.workerEnded();
        }
        EXPECT_EQ(t.controller.state(), JobState::QueuePause);
        if (c.slowLink) {
            t.controller.queuePauseElapsed();  // 5 runs; 4 is queued behind it
            t.finish(0, false);
            t.controller.queuePauseElapsed();
            EXPECT_EQ(t.view.started, 3) << "no second job while the link closes";
            t.controller.workerEnded();
        } else {
            t.controller.queuePauseElapsed();
        }
        EXPECT_EQ(t.view.only({"start"}).back(), c.slowLink ? "start 4" : "start 5");
    }
}

TEST_F(ControllerTest, AnAddressThatFailsTwiceIsListedOnceAndOneFailureOffersNoRetry) {
    for (int run = 0; run < 2; ++run) {
        controller.go();
        finish(1);
    }
    EXPECT_EQ(rw::failedList(), rw::AddressList{5});
    EXPECT_TRUE(view.only({"retry"}).empty());
}

TEST_F(ControllerTest, EscapeAfterTheFinalLineLeavesAVerifiedJobAlone) {
    controller.go();
    status("*** FLASH PROGRAMMING COMPLETE ***", 1, 1);
    controller.abort();  // Escape while the end sound plays
    job.running = 0;
    controller.flashDone(0);
    controller.abort();
    EXPECT_EQ(job.failed, 0);
    EXPECT_TRUE(rw::failedList().empty());
    EXPECT_EQ(view.status, "*** FLASH PROGRAMMING COMPLETE ***");
    controller.workerEnded();
    controller.abort();  // with no worker: the idle Abort clears the display
    EXPECT_EQ(view.status, "");
}

TEST_F(ControllerTest, AnAbortedJobKeepsItsStatusAndColourUntilItsWorkerEnds) {
    controller.go();
    status("SENT  128 / 256  BYTES...", 0, 0);
    controller.abort();
    controller.abort();                         // a second Abort while it winds down
    status("SENT  256 / 256  BYTES...", 0, 0);  // the block under way succeeded
    EXPECT_EQ(view.status, "Flash Download Aborted...");
    job.failed = 1;  // the worker's own verdict: the image was not finished
    job.running = 0;
    controller.flashDone(1);
    EXPECT_EQ(view.only({"red", "plain"}), (std::vector<std::string>{"red"}));
    EXPECT_EQ(rw::failedList(), rw::AddressList{5});
}

TEST_F(ControllerTest, GoRefusesWhatTheRecordCannotTakeAndFillsTheLink) {
    const std::string longHost(40, 'h');
    const struct {
        const char* name;
        std::function<void(rw::GoForm&)> edit;
        const char* refusal;  // null: started
        int linkKind = 0, port = 0;
        const char* host = "";
    } cases[] = {
        {"serial COM3", [](rw::GoForm&) {}, nullptr, rw::LINK_SERIAL, 3, ""},
        {"no COM selected", [](rw::GoForm& f) { f.portIndex = -1; }, nullptr, rw::LINK_SERIAL, 0,
         ""},
        {"host without port", [](rw::GoForm& f) { f.driver = 2, f.hostPort = "127.0.0.2"; },
         nullptr, rw::LINK_TCP, 3001, "127.0.0.2"},
        {"empty port", [](rw::GoForm& f) { f.driver = 3, f.hostPort = "h:"; }, nullptr,
         rw::LINK_UDP, 0, "h"},
        {"two colons", [](rw::GoForm& f) { f.driver = 3, f.hostPort = "h:12:34"; }, nullptr,
         rw::LINK_UDP, 12, "h"},
        {"missing file", [](rw::GoForm& f) { f.imageFile += ".gone"; }, "Invalid Binary File"},
        {"no model", [](rw::GoForm& f) { f.modelRow = -1; }, "NO FLASH DEVICE SELECTED"},
        {"model out of table", [](rw::GoForm& f) { f.modelRow = 5; }, "NO FLASH DEVICE SELECTED"},
        {"long host", [&](rw::GoForm& f) { f.driver = 2, f.hostPort = longHost + ":1"; },
         "HOST NAME TOO LONG"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        struct Case : ControllerTest {
            void TestBody() override {}
        } t;
        c.edit(*t.view.form);
        t.job.imageLength = 77;
        t.controller.go();
        EXPECT_EQ(t.job.imageLength, 0);
        if (c.refusal != nullptr) {
            EXPECT_EQ(t.view.status, c.refusal);
            EXPECT_EQ(t.job.failed, 1);
            EXPECT_EQ(t.controller.state(), JobState::Idle);
            EXPECT_EQ(t.view.started, 0);
            continue;
        }
        EXPECT_EQ(t.view.started, 1);
        EXPECT_EQ(t.job.linkKind, c.linkKind);
        EXPECT_EQ(t.job.port, c.port);
        EXPECT_STREQ(t.job.hostName, c.host);
        EXPECT_EQ(t.job.model, t.models[1].get());
        EXPECT_EQ(t.job.running, 1);
    }
}

TEST_F(ControllerTest, LoggedLinesReachTheLogFileTheHistoryAndTheObserver) {
    struct Observer : rw::JobObserver {
        std::vector<std::string> logged;
        void lineLogged(const std::string& line) override { logged.push_back(line); }
    } observer;
    controller.setObserver(&observer);
    const std::string logPath = (dir.path() / "Romwright.log").string();
    job.logFile = std::fopen(logPath.c_str(), "w");
    controller.go();
    status("FLASHING KVTC/1-4255 @ 5...", 0, 1);
    status("SENT  128 / 256  BYTES...", 0, 0);
    clock.advanceMs(1500);
    controller.abortForStall(60);
    std::fclose(job.logFile);
    job.logFile = nullptr;
    const std::vector<std::string> lines = {"TIME  FLASHING KVTC/1-4255 @ 5...",
                                            "TIME  NO BLOCK WRITTEN FOR 60 SECONDS"};
    EXPECT_EQ(view.history, lines);
    EXPECT_EQ(observer.logged, lines);
    std::ifstream log(logPath, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(log), {}),
              lines[0] + "\r\n" + lines[1] + "\r\n");
    EXPECT_EQ(controller.state(), JobState::WindingDown);
    EXPECT_EQ(controller.elapsedText(), "1.5 seconds");
}

// Why the worker's link did not open comes with its final line only, and goes
// with the next status.
TEST_F(ControllerTest, ALinkFailureCauseBelongsToTheFinalLineItCameWith) {
    const std::string cause = "COM3 (/dev/ttyUSB0): no such device";
    std::snprintf(job.linkFailure, sizeof job.linkFailure, "%s", cause.c_str());
    for (const std::string next : {"idle abort", "refused go"}) {
        SCOPED_TRACE(next);
        controller.go();
        status("SENT  0 / 16  BYTES...", 0, 0);
        EXPECT_EQ(controller.statusDetail(), "") << "read with a final line only";
        job.running = 0;
        status("COM3 PORT INITIALIZE ERROR", 1, 1);
        controller.flashDone(1);
        controller.workerEnded();
        EXPECT_EQ(controller.statusDetail(), cause);
        if (next == "refused go") view.form->imageFile = "/none.hex";
        next == "idle abort" ? controller.abort() : controller.go();
        EXPECT_EQ(controller.statusDetail(), "");
    }
}

TEST_F(ControllerTest, ElapsedTimeSurvivesTheTickCountWrapping) {
    clock.advanceMs((int64_t{1} << 32) - 1000 - 250);  // 250 ms before the 32-bit wrap
    controller.go();
    clock.advanceMs(2500);
    EXPECT_EQ(controller.elapsedText(), "2.5 seconds");
    controller.flashCrc(10);
    EXPECT_EQ(view.lines.back(), "CRC8 = 0a hex");
}

TEST_F(ControllerTest, ClosingTheWindowMidJobRecordsTheDeviceAborted) {
    const std::filesystem::path path = dir.path() / "Production.jsonl";
    controller.setRecord(path.string(), "romwright test");
    controller.go();
    ASSERT_NE(job.recorder, nullptr) << "the controller hands the job its recorder";
    controller.close();
    rw::JobOutcome stopped;  // what the worker reports once it has wound down
    stopped.stopped = true;
    job.recorder->jobEnded(stopped);
    const std::string line = readFile(path);
    EXPECT_NE(line.find(R"("result":"aborted","status":"Flash Download Aborted...")"),
              std::string::npos)
        << line;
}

}  // namespace
}  // namespace rwtest
