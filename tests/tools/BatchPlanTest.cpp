// The batch's plan: how its lines group into links, and every fault that stops
// a run before a device is touched, named PLAN:LINE: reason.
#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "base/Codes.h"
#include "support/TestEnv.h"
#include "support/TestImages.h"
#include "tools/batch/BatchPlan.h"

namespace rwtest {
namespace {

class BatchPlan : public ::testing::Test {
  protected:
    BatchPlan() {
        writeFile(dir.path() / "a.hex", intelHex(0x1000, patternBytes(300)));
        writeFile(dir.path() / "my images/b.hex", intelHex(0x2000, patternBytes(20)));
        writeFile(dir.path() / "notes.txt", "text");
        // The second record's checksum is wrong.
        writeFile(dir.path() / "bad.hex", hexRecord(0, 0x1000, {1}) + ":0110010002EC\n");
        writeFile(dir.path() / "ttyUSB0", "");
        std::filesystem::create_symlink(dir.path() / "ttyUSB0", dir.path() / "by-id");
        defaults.comPorts[2] = (dir.path() / "ttyUSB0").string();
    }
    std::optional<rw::Plan> parse(const std::string& text) {
        error.clear();
        return rw::parsePlan(text, planPath, defaults, models, error);
    }

    TempDir dir;
    const std::string planPath = (dir.path() / "plan.txt").string();
    const rw::ModelTable models = rw::buildModelTable();
    rw::PlanDefaults defaults;
    std::string error;
};

TEST_F(BatchPlan, LinesGroupIntoLinksByTheBusTheyNameWhateverItsSpelling) {
    defaults.model = "KVTC/1-4255";
    const std::string udp = "udp:127.0.0.2:3001";
    const std::optional<rw::Plan> plan = parse(
        "# two gateways and a serial bus\n\n"
        "tcp:localhost:4000 7 a.hex\n" +
        udp + " 7 KVTC/1-4400 \"my images/b.hex\"  # a comment\n" +
        "serial:COM3@9600 1 a.hex\n"
        "tcp:127.0.0.1:4000 8 KVTC/1-4255 " +
        (dir.path() / "a.hex").string() + "\n" + "serial:" + (dir.path() / "by-id").string() +
        "@38400 2 a.hex\n" + "udp:127.0.0.3:3001 7 a.hex\n");
    ASSERT_TRUE(plan) << error;
    std::vector<std::tuple<int, std::string, std::vector<size_t>>> links;
    for (const rw::PlanLink& link : plan->links)
        links.emplace_back(link.kind, link.name, link.devices);
    EXPECT_EQ(links, (decltype(links){{rw::LINK_TCP, "TCP localhost:4000", {0, 3}},
                                      {rw::LINK_UDP, "UDP 127.0.0.2:3001", {1}},
                                      {rw::LINK_SERIAL, "COM3", {2, 4}},
                                      {rw::LINK_UDP, "UDP 127.0.0.3:3001", {5}}}));
    const auto device = [&](size_t i) {
        const rw::PlanDevice& d = plan->devices[i];
        return std::tuple(d.line, d.address, models[size_t(d.modelRow)]->name, d.file, d.baudRate,
                          d.devicePath);
    };
    const std::string by = (dir.path() / "by-id").string(), a = (dir.path() / "a.hex").string();
    EXPECT_EQ(device(1),
              std::tuple(4, 7, "KVTC/1-4400", (dir.path() / "my images/b.hex").string(), 0, ""));
    EXPECT_EQ(device(2), std::tuple(5, 1, "KVTC/1-4255", a, 9600, defaults.comPorts[2]));
    EXPECT_EQ(device(4), std::tuple(7, 2, "KVTC/1-4255", a, 38400, by)) << "opened as named";
}

TEST_F(BatchPlan, AFaultStopsThePlanWithItsLineAndReason) {
    const std::string tcp = "tcp:127.0.0.2:4000 ";
    const std::string serial = "serial:" + (dir.path() / "by-id").string() + "@9600 ";
    const struct {
        std::string text, model, error;  // error: what follows "PLAN:"
    } cases[] = {
        {"tcp:127.0.0.2:4000", "", "1: no address (LINK ADDRESS [MODEL] [FILE])"},
        {tcp + "1 \"a.hex", "", "1: a quote is not closed"},
        {"ftp:127.0.0.2:21 1 a.hex", "", "1: unknown link 'ftp:127.0.0.2:21'"},
        {"tcp:127.0.0.2 1 a.hex", "", "1: 'tcp:127.0.0.2' needs a host and a port"},
        {"udp:127.0.0.2:65536 1 a.hex", "", "1: 'udp:127.0.0.2:65536' needs a host and a port"},
        {"tcp:" + std::string(32, 'h') + ":1 1 a.hex", "", "1: host name longer than 31"},
        {"serial:/dev/ttyUSB0 1 a.hex", "", "1: 'serial:/dev/ttyUSB0' needs a device and a rate"},
        {"serial:COM9@9600 1 a.hex", "", "1: no such COM port 'COM9' (COM1 to COM8)"},
        {"\n" + tcp + "0 KVTC/1-4255 a.hex", "", "2: address 0 is never programmed"},
        {tcp + "65536 KVTC/1-4255 a.hex", "", "1: bad address '65536' (1 to 65535)"},
        {tcp + "1 a.hex", "", "1: no model (give one on the line or --model)"},
        {tcp + "1 KVTC/9-9999 a.hex", "", "1: unknown model 'KVTC/9-9999' (KVTC/1-4400,"},
        {tcp + "1", "KVTC/1-4255", "1: no file (give one on the line or --file)"},
        {tcp + "1 KVTC/1-425", "", "1: 'KVTC/1-425' is neither a model nor a file"},
        {tcp + "1 notes.txt", "KVTC/1-4255",
         "1: " + (dir.path() / "notes.txt").string() + ": not a .hex file"},
        {tcp + "1 a.hex\n" + tcp + "2 bad.hex\n" + tcp + "3 bad.hex", "KVTC/1-4255",
         "2: " + (dir.path() / "bad.hex").string() + " does not load for KVTC/1-4255: "},
        {tcp + "5 a.hex\n# again\ntcp:127.0.0.2:4000 5 a.hex", "KVTC/1-4255",
         "3: device 5 on TCP 127.0.0.2:4000 is already on line 1"},
        {serial + "5 a.hex\nserial:COM3@19200 5 a.hex", "KVTC/1-4255",
         "2: device 5 on " + (dir.path() / "by-id").string() + " is already on line 1"},
        {"# nothing\n\n", "", " no device in the plan"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        defaults.model = c.model;
        EXPECT_FALSE(parse(c.text));
        EXPECT_EQ(error.rfind(planPath + ":" + c.error, 0), 0u) << error;
    }
    EXPECT_FALSE(rw::readPlan(planPath, defaults, models, error));
    EXPECT_EQ(error.rfind(planPath + ": cannot be read", 0), 0u) << error;
}

}  // namespace
}  // namespace rwtest
