// The controller driving the real programming sequence over fake links, the
// view standing in for the window's event loop: device lists, stops by the
// operator, the stall limit or the window's close, and the production record
// each job leaves.
#include <nlohmann/json.hpp>
#include <sstream>

#include "ControllerHarness.h"

namespace rwtest {
namespace {

using Json = nlohmann::json;

class JobRunTest : public ControllerTest {
  public:
    JobRunTest() { view.realWorker = true; }

    // Starts the list (none: a single Go) and runs it to its end; the production record's lines.
    std::vector<Json> runList(const rw::AddressList& addresses, const std::string& recordFile) {
        const std::filesystem::path path = dir.path() / recordFile;
        std::filesystem::remove(path);
        controller.setRecord(recordFile == "-" ? "-" : path.string(), "romwright test");
        rw::failedList().clear();
        rw::pendingQueue() = addresses;
        view.lines.clear();
        addresses.empty() ? controller.go() : controller.listConfirmed();
        view.settle();
        std::vector<Json> lines;
        std::istringstream text(readFile(path));
        for (std::string line; std::getline(text, line);) lines.push_back(Json::parse(line));
        return lines;
    }
};

TEST_F(JobRunTest, AListProgramsEachAddressOnceRecordsItsPlaceAndCollectsTheFailures) {
    const std::vector<Json> records = runList({5, 9, 11, 9}, "Production.jsonl");
    EXPECT_EQ(controller.state(), rw::JobState::Idle);
    EXPECT_EQ(view.only({"start"}),
              (std::vector<std::string>{"start 5", "start 9", "start 11", "start 9"}));
    EXPECT_EQ(rw::failedList(), rw::AddressList{9}) << "listed once";
    EXPECT_TRUE(view.only({"retry"}).empty()) << "one failure offers no retry";
    ASSERT_EQ(records.size(), 4u);
    const std::pair<int, const char*> expected[] = {
        {5, "programmed"}, {9, "failed"}, {11, "programmed"}, {9, "failed"}};
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i]["address"], expected[i].first);
        EXPECT_EQ(records[i]["result"], expected[i].second);
        EXPECT_EQ(records[i]["queue"], Json({{"position", i + 1}, {"length", 4}}));
        EXPECT_EQ(records[i]["link"], "COM3");
        EXPECT_EQ(records[i]["program"], "romwright test");
    }
    EXPECT_EQ(records[1]["status"], "9: PERMISSION DENIED");
    EXPECT_EQ(controller.recordProblem(), "");
    const std::vector<Json> single = runList({}, "Production.jsonl");
    ASSERT_EQ(single.size(), 1u);
    EXPECT_FALSE(single[0].contains("queue")) << "a single Go is not part of a list";
}

// However a device is stopped, its record says how; Abort stops only that
// device, a late Escape undoes nothing, and an unwritable record file stops
// nothing and is told once.
TEST_F(JobRunTest, StoppedDevicesAreRecordedAsTheOperatorOrTheStallLimitLeftThem) {
    struct Observer : rw::JobObserver {
        std::vector<std::string> problems;
        void recordProblem(const std::string& reason) override { problems.push_back(reason); }
    } observer;
    controller.setObserver(&observer);
    const struct {
        const char* stop;  // at address 5's first line
        const char* result5;
        const char* status5;
        const char* recordFile;
    } cases[] = {
        {"abort", "aborted", "Flash Download Aborted...", "Production.jsonl"},
        {"stall", "failed", "NO BLOCK WRITTEN FOR 60 SECONDS", "Production.jsonl"},
        {"none", "programmed", "*** FLASH PROGRAMMING COMPLETE ***", "-"},
        {"none", "programmed", "", "missing/Production.jsonl"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stop + std::string(" ") + c.recordFile);
        observer.problems.clear();
        const std::string stop = c.stop;
        view.onStatus = [this, stop](rw::FlashJob& j) {
            const std::string text = j.statusText;
            if (text == "*** FLASH PROGRAMMING COMPLETE ***") controller.abort();  // Escape, late
            if (j.deviceAddress != 5 || !text.starts_with("FLASHING")) return;
            if (stop == "abort") controller.abort();
            if (stop == "stall") controller.abortForStall(60);
        };
        const std::vector<Json> records = runList({5, 11}, c.recordFile);
        EXPECT_EQ(view.only({"start"}), (std::vector<std::string>{"start 5", "start 11"}));
        EXPECT_EQ(rw::failedList(), stop == "none" ? rw::AddressList{} : rw::AddressList{5});
        EXPECT_EQ(job.failed, 0) << "11 was verified; the late Escape must not undo it";
        if (c.recordFile == std::string("Production.jsonl")) {
            ASSERT_EQ(records.size(), 2u);
            EXPECT_EQ(records[0]["result"], c.result5);
            EXPECT_EQ(records[0]["status"], c.status5);
            EXPECT_EQ(records[1]["result"], "programmed");
        }
        const bool unwritable = c.recordFile[0] == 'm';
        EXPECT_EQ(observer.problems.size(), unwritable ? 1u : 0u) << "told once for two jobs";
        EXPECT_EQ(!controller.recordProblem().empty(), unwritable);
    }
    controller.setObserver(nullptr);
}

TEST_F(JobRunTest, ClosingTheWindowMidJobRecordsTheDeviceAborted) {
    view.onStatus = [this](rw::FlashJob&) { controller.close(); };
    const std::vector<Json> records = runList({5, 11}, "Production.jsonl");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["result"], "aborted");
    EXPECT_EQ(records[0]["status"], "Flash Download Aborted...");
}

}  // namespace
}  // namespace rwtest
