// The job controller's state machine: every command in every state, then the
// runs that went wrong before (queued Go, quick retry, late Escape, second Abort).
#include <fstream>
#include <iterator>

#include "ControllerHarness.h"

namespace rwtest {
namespace {

using rw::JobState;
using Step = std::function<void(ControllerTest&)>;
using Named = std::pair<std::string, Step>;

const Named kStates[] = {
    {"idle", [](ControllerTest&) {}},
    {"running", [](ControllerTest& t) { t.controller.go(); }},
    {"aborted", [](ControllerTest& t) { t.controller.go(), t.controller.abort(); }},
    {"ended", [](ControllerTest& t) { t.controller.go(), t.finish(0, false); }},
    {"pause",
     [](ControllerTest& t) {
         rw::pendingQueue() = {9};
         t.controller.go(), t.finish(0, false);
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

struct Transition {
    const char* state;
    const char* command;
    JobState next;
    std::string effects;  // start, pause, address, retry, quit and status lines
};

// Every pair not listed keeps its state and shows nothing, except that "final"
// shows its line and "quit" quits in every state but closing, and "close" closes.
const Transition kTable[] = {
    {"idle", "go", JobState::Running, "status ; start 5"},
    {"idle", "abort", JobState::Idle, "status "},
    {"idle", "list", JobState::QueuePause, "address 7; pause 1000"},
    {"running", "abort", JobState::WindingDown, kAborted},
    {"running", "done", JobState::WindingDown, ""},
    {"running", "final", JobState::WindingDown, "status CRC CHECKSUM ERROR"},
    {"running", "ended", JobState::Idle, ""},
    {"aborted", "go", JobState::WindingDown, kWaiting},
    {"aborted", "ended", JobState::Idle, ""},
    {"ended", "go", JobState::WindingDown, kWaiting},
    {"ended", "ended", JobState::Idle, ""},
    {"pause", "abort", JobState::WindingDown, kAborted},
    {"pause, no worker", "abort", JobState::Idle, kAborted},
    {"pause, no worker", "pause over", JobState::Running, "status ; start 9"},
    {"closing", "quit", JobState::Closing, ""},
};

TEST(JobControllerTable, EveryCommandInEveryState) {
    for (const auto& [state, toState] : kStates) {
        for (const auto& [command, run] : kCommands) {
            SCOPED_TRACE(state + " + " + command);
            ControllerTest t;
            toState(t);
            const JobState before = t.controller.state();
            t.view.lines.clear();
            run(t);
            Transition row{"", "", command == "close" ? JobState::Closing : before, ""};
            if (command == "final") row.effects = "status CRC CHECKSUM ERROR";
            if (command == "quit") row.effects = "quit 1";
            for (const Transition& listed : kTable) {
                if (state == listed.state && command == listed.command) row = listed;
            }
            std::string effects;
            for (const auto& line :
                 t.view.only({"start", "pause", "address", "retry", "quit", "status"}))
                effects += (effects.empty() ? "" : "; ") + line;
            EXPECT_EQ(rw::jobStateName(t.controller.state()),
                      std::string(rw::jobStateName(row.next)));
            EXPECT_EQ(effects, row.effects);
        }
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
    rw::queueAddressList("5, 9\t11");
    controller.listConfirmed();
    EXPECT_TRUE(view.live) << "Abort stays available for the list";
    controller.abort();
    controller.queuePauseElapsed();  // a timer that fired anyway changes nothing
    EXPECT_EQ(view.started, 0);
    EXPECT_TRUE(rw::pendingQueue().empty());
    EXPECT_EQ(view.status, "Flash Download Aborted...");
    EXPECT_EQ(job.failed, 1);
    EXPECT_FALSE(view.live);
}

TEST(AddressListTest, OneAddressPerNumberOnceEachInTheirOrder) {
    // Words that are not numbers and 0 name no device; numbers keep their low 16 bits.
    EXPECT_EQ(rw::parseAddressList("12, abc\t0\r\n70000 12 -1,,+7"),
              (rw::AddressList{12, 4464, 65535, 7}));
}

// The retry list may be confirmed while the last worker still closes its link
// (or, before, while the queued Go waits for it): the list still starts.
TEST(ControllerRuns, AConfirmedListAlwaysStarts) {
    for (int c = 0; c < 3; ++c) {
        const bool confirmBeforeWorkerEnds = c != 1, slowLink = c == 2;
        SCOPED_TRACE(c);
        ControllerTest t;
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
        if (!confirmBeforeWorkerEnds) t.controller.workerEnded();
        t.controller.listConfirmed();
        if (confirmBeforeWorkerEnds) {
            EXPECT_EQ(t.controller.state(), JobState::WindingDown);
            t.controller.workerEnded();
        }
        EXPECT_EQ(t.controller.state(), JobState::QueuePause);
        if (slowLink) {
            t.controller.queuePauseElapsed();  // 5 runs; 4 is queued behind it
            t.finish(0, false);
            t.controller.queuePauseElapsed();
            EXPECT_EQ(t.view.started, 3) << "no second job while the link closes";
            t.controller.workerEnded();
        } else {
            t.controller.queuePauseElapsed();
        }
        EXPECT_EQ(t.view.only({"start"}).back(), slowLink ? "start 4" : "start 5");
    }
}

TEST_F(ControllerTest, AnAbortedJobKeepsItsStatusAndColourUntilItsWorkerEnds) {
    controller.go();
    status("SENT  128 / 256  BYTES...", 0, 0);
    controller.abort();
    controller.abort();                         // a second Abort while it winds down
    status("SENT  256 / 256  BYTES...", 0, 0);  // the block under way succeeded
    EXPECT_EQ(view.status, "Flash Download Aborted...");
    job.running = 0;
    controller.flashDone(1);
    EXPECT_EQ(view.only({"red", "plain"}), (std::vector<std::string>{"red"}));
    EXPECT_EQ(rw::failedList(), rw::AddressList{5});
}

TEST(ControllerRuns, GoRefusesWhatTheRecordCannotTakeAndFillsTheLink) {
    const std::string longHost(40, 'h');
    const struct {
        const char* name;
        std::function<void(rw::GoForm&)> edit;
        const char* refusal;  // null: started
        int linkKind = 0, port = 0;
        const char* host = "";
    } cases[] = {
        {"serial COM3", [](rw::GoForm&) {}, nullptr, rw::LINK_SERIAL, 3, ""},
        {"no COM selected", [](rw::GoForm& f) { f.portIndex = -1; }, nullptr, rw::LINK_SERIAL, 0},
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
        ControllerTest t;
        t.view.form->baudRate = 19200;
        t.view.form->address = 4660;
        c.edit(*t.view.form);
        t.job.imageLength = 77;
        t.controller.go();
        EXPECT_EQ(t.job.imageLength, 0);
        EXPECT_EQ(t.job.failed, c.refusal != nullptr);
        if (c.refusal != nullptr) {
            EXPECT_EQ(t.view.status, c.refusal);
            EXPECT_EQ(t.controller.state(), JobState::Idle);
            EXPECT_EQ(t.view.started, 0);
            continue;
        }
        EXPECT_EQ(std::tie(t.job.linkKind, t.job.port, t.job.baudRate, t.job.deviceAddress),
                  std::make_tuple(c.linkKind, c.port, 19200, 4660));
        EXPECT_STREQ(t.job.hostName, c.host);
        EXPECT_STREQ(t.job.imagePath, t.view.form->imageFile.c_str());
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
    clock.advanceMs((int64_t{1} << 32) - 1000 - 250);  // 250 ms before the tick count wraps
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
    EXPECT_EQ(readFile(logPath), lines[0] + "\r\n" + lines[1] + "\r\n");
    EXPECT_EQ(controller.state(), JobState::WindingDown);
    EXPECT_EQ(controller.elapsedText(), "1.5 seconds");
    controller.flashCrc(10);
    EXPECT_EQ(view.lines.back(), "CRC8 = 0a hex");
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

}  // namespace
}  // namespace rwtest
