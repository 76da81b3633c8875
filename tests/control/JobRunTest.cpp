// The controller driving the real programming thread over fake links, with a
// small event loop standing in for the window's: statuses come through the
// engine's mailbox while the worker waits, completions and the threads' end are
// queued events. Under ThreadSanitizer this is the job record's race check.
#include <chrono>
#include <deque>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>

#include "ControllerHarness.h"
#include "engine/JobNotifier.h"
#include "engine/ProgramDevice.h"
#include "engine/SyncMailbox.h"
#include "support/FakeLink.h"
#include "support/ReplyBuilder.h"

namespace rwtest {
namespace {

using Json = nlohmann::json;

// The production record's lines, each parsed.
std::vector<Json> recordLines(const std::filesystem::path& path) {
    std::vector<Json> lines;
    std::istringstream text(readFile(path));
    for (std::string line; std::getline(text, line);) lines.push_back(Json::parse(line));
    return lines;
}

class LoopView : public RecordingView, public rw::JobNotifier {
  public:
    rw::JobController* controller = nullptr;
    rw::SyncMailbox mailbox;
    std::vector<int> linkAddresses;  // one per link opened, in order
    // Called inside each status, on the loop's thread (the window's place).
    std::function<void(rw::FlashJob&)> onStatus;

    void startThreads(rw::FlashJob& record) override {
        RecordingView::startThreads(record);
        record.window = this;
        rw::WorkerServices services;
        services.makeLink = [this](rw::FlashJob& j) -> std::unique_ptr<rw::Transport> {
            auto link = std::make_unique<FakeLink>(rw::LINK_UDP, 3001);
            const int address = j.deviceAddress;
            link->setResponder([address](const Bytes& frame) {
                // Device 9 refuses permission; everybody else accepts everything.
                const bool refuse = address == 9 && frame[5] == 0x7F;
                return ReplyPieces{buildReply(frame, {.status = uint8_t(refuse ? 1 : 0)})};
            });
            std::lock_guard lock(mutex_);
            linkAddresses.push_back(address);
            return link;
        };
        record.workerThread.start([this, &record, services] {
            const unsigned failed = rw::ProgramDeviceThread(record, services);
            post([this] { controller->workerEnded(); });
            return failed;
        });
    }
    void startQueuePause(int ms) override {
        RecordingView::startQueuePause(ms);
        post([this] { controller->queuePauseElapsed(); });
    }

    void sendFlashStatus(rw::FlashJob& record, int ended, int logged) override {
        mailbox.call([&] {
            controller->flashStatus(ended, logged);
            if (onStatus) onStatus(record);
        });
    }
    void sendFlashCrc(rw::FlashJob&, int crc) override {
        mailbox.call([&] { controller->flashCrc(crc); });
    }
    void postFlashDone(int failed) override {
        post([this, failed] { controller->flashDone(failed); });
    }
    void postQuit(int exitCode) override {
        post([this, exitCode] { controller->quitRequested(exitCode); });
    }

    // Runs the loop until the controller is idle with no worker, or 10 s pass.
    bool runUntilIdle() {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < limit) {
            mailbox.serveFor(2);
            std::deque<std::function<void()>> due;
            {
                std::lock_guard lock(mutex_);
                due.swap(events_);
            }
            for (auto& event : due) event();
            if (due.empty() && controller->state() == rw::JobState::Idle &&
                !controller->workerOnRecord()) {
                return true;
            }
        }
        return false;
    }

  private:
    void post(std::function<void()> event) {
        {
            std::lock_guard lock(mutex_);
            events_.push_back(std::move(event));
        }
        mailbox.wake();
    }

    std::mutex mutex_;
    std::deque<std::function<void()>> events_;
};

class JobRunTest : public ::testing::Test {
  public:
    JobRunTest() : controller(view, clock, models) {
        models = rw::buildModelTable();
        const std::string hex = writeFile(dir.path() / "image.hex",
                                          ":10100000000102030405060708090A0B0C0D0E0F68\n"
                                          ":00000001FF\n")
                                    .string();
        view.form = rw::GoForm{};
        view.form->driver = rw::LINK_UDP;
        view.form->hostPort = "127.0.0.2:3001";
        view.form->imageFile = hex;
        view.form->modelRow = 1;
        view.job = &job;
        view.controller = &controller;
        controller.setJob(&job);
        rw::pendingQueue().clear();
        rw::failedList().clear();
    }
    ~JobRunTest() override {
        job.running = 0;
        rw::waitForThreadEnd(&job.workerThread, view.mailbox);
        rw::pendingQueue().clear();
        rw::failedList().clear();
    }

    TempDir dir;
    rw::ModelTable models;
    FakeClock clock;
    rw::FlashJob job{};
    LoopView view;
    rw::JobController controller;
};

TEST_F(JobRunTest, AQueuedRunProgramsEachAddressOnceAndCollectsTheFailures) {
    controller.setRecord((dir.path() / "Production.jsonl").string(), "romwright test");
    rw::pendingQueue() = {5, 9, 11};
    controller.listConfirmed();
    ASSERT_TRUE(view.runUntilIdle());
    EXPECT_EQ(view.linkAddresses, (std::vector<int>{5, 9, 11}));
    EXPECT_EQ(rw::failedList(), rw::AddressList{9});
    EXPECT_EQ(view.status, "*** FLASH PROGRAMMING COMPLETE ***");
    EXPECT_EQ(job.failed, 0);
    // One record per device, in order, with its place in the list.
    const std::vector<Json> records = recordLines(dir.path() / "Production.jsonl");
    ASSERT_EQ(records.size(), 3u);
    const char* results[] = {"programmed", "failed", "programmed"};
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i]["address"], view.linkAddresses[i]);
        EXPECT_EQ(records[i]["result"], results[i]);
        EXPECT_EQ(records[i]["queue"], Json({{"position", i + 1}, {"length", 3}}));
    }
    EXPECT_EQ(records[1]["status"], "9: PERMISSION DENIED");
    EXPECT_EQ(records[0]["program"], "romwright test");
    EXPECT_EQ(controller.recordProblem(), "");
}

// However a device is stopped, its record says how; an unwritable record file
// stops nothing and is told once.
TEST_F(JobRunTest, StoppedDevicesAreRecordedAsTheOperatorOrTheStallLimitLeftThem) {
    struct Observer : rw::JobObserver {
        std::vector<std::string> problems;
        void recordProblem(const std::string& reason) override { problems.push_back(reason); }
    } observer;
    controller.setObserver(&observer);
    const struct {
        const char* stop;  // at address 5's first block
        const char* result5;
        const char* recordFile;
    } cases[] = {
        {"abort", "aborted", "Production.jsonl"},
        {"stall", "failed", "Production.jsonl"},
        {"none", "programmed", "-"},
        {"none", "programmed", "missing/Production.jsonl"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stop + std::string(" ") + c.recordFile);
        const std::filesystem::path path = dir.path() / c.recordFile;
        std::filesystem::remove(path);
        observer.problems.clear();
        const bool off = c.recordFile == std::string("-");
        controller.setRecord(off ? "-" : path.string(), "romwright test");
        const std::string stop = c.stop;
        view.onStatus = [this, stop](rw::FlashJob& j) {
            if (j.deviceAddress != 5 || std::string(j.statusText).rfind("FLASHING", 0) != 0) return;
            if (stop == "abort") controller.abort();
            if (stop == "stall") controller.abortForStall(60);
        };
        rw::failedList().clear();
        rw::pendingQueue() = {5, 11};
        controller.listConfirmed();
        ASSERT_TRUE(view.runUntilIdle());
        EXPECT_EQ(view.status, "*** FLASH PROGRAMMING COMPLETE ***");
        const bool recorded = c.recordFile == std::string("Production.jsonl");
        if (recorded) {
            const std::vector<Json> records = recordLines(path);
            ASSERT_EQ(records.size(), 2u);
            EXPECT_EQ(records[0]["result"], c.result5);
            EXPECT_EQ(records[1]["result"], "programmed");
        }
        EXPECT_EQ(std::filesystem::exists(path), recorded);
        const bool unwritable = c.recordFile[0] == 'm';
        EXPECT_EQ(observer.problems.size(), unwritable ? 1u : 0u) << "told once for two jobs";
        EXPECT_EQ(!controller.recordProblem().empty(), unwritable);
    }
    controller.setObserver(nullptr);
}

TEST_F(JobRunTest, AbortStopsOnlyTheCurrentDeviceAndEscapeAfterTheEndChangesNothing) {
    rw::pendingQueue() = {5, 11};
    view.onStatus = [this](rw::FlashJob& j) {
        const std::string text = j.statusText;
        if (j.deviceAddress == 5 && text.rfind("FLASHING", 0) == 0) controller.abort();
        if (text == "*** FLASH PROGRAMMING COMPLETE ***") controller.abort();  // Escape, late
    };
    controller.listConfirmed();
    ASSERT_TRUE(view.runUntilIdle());
    EXPECT_EQ(view.linkAddresses, (std::vector<int>{5, 11}));
    EXPECT_EQ(rw::failedList(), rw::AddressList{5});
    EXPECT_EQ(job.failed, 0) << "11 was verified; the late Escape must not undo it";
}

}  // namespace
}  // namespace rwtest
