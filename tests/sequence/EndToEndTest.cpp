// Whole jobs through the real links against the romwright-sim program, over
// TCP, UDP and a pseudo-terminal, for every model: the status lines, the CRC
// notification, the failed flag and the flash the simulated device ends with.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "engine/HeadlessRunner.h"
#include "engine/Sounds.h"
#include "fakes/FakeClock.h"
#include "fakes/TestEnv.h"
#include "link/SerialPortPaths.h"
#include "sequence/SequenceSupport.h"
#include "sequence/SimProcess.h"

namespace rwtest {
namespace {

using Kind = rw::Notification::Kind;

constexpr int kAddress = 4660;
constexpr int kStartTimeoutMs = 5000;

const char* linkLabel(int linkKind) {
    return linkKind == rw::LINK_TCP ? "Tcp" : linkKind == rw::LINK_UDP ? "Udp" : "Pty";
}

// One simulator on its own port (or pseudo-terminal) for one test.
class Simulator {
  public:
    // Starts the simulator for the model; false when it did not come up.
    bool start(int linkKind, const std::string& modelName, const std::string& dumpDir,
               std::vector<std::string> extra = {}) {
        linkKind_ = linkKind;
        std::vector<std::string> args{
            "--model",    modelName, "--address",           std::to_string(kAddress),
            "--erase-ms", "0",       "--exit-after-verify", "--dump-dir",
            dumpDir};
        args.insert(args.end(), extra.begin(), extra.end());
        if (linkKind == rw::LINK_SERIAL) {
            args.insert(args.end(), {"--pty", "--baud", "38400"});
        } else {
            // Port 0: the simulator takes a free port and prints it.
            args.push_back(linkKind == rw::LINK_TCP ? "--tcp" : "--udp");
            args.push_back("127.0.0.2:0");
        }
        if (!process_.start(std::string(ROMWRIGHT_BIN_DIR) + "/romwright-sim", args)) return false;
        std::optional<std::string> line = process_.waitForLine(
            linkKind == rw::LINK_SERIAL ? "/dev/" : "127.0.0.2", kStartTimeoutMs);
        if (!line) return false;
        if (linkKind == rw::LINK_SERIAL) {
            size_t at = line->find("/dev/");
            size_t end = line->find_first_of(" \t", at);
            std::string path = line->substr(at, end == std::string::npos ? end : end - at);
            rw::setSerialPortResolver([path](int) { return path; });
        } else {
            port_ = std::atoi(line->substr(line->rfind(':') + 1).c_str());
        }
        return port_ > 0 || linkKind == rw::LINK_SERIAL;
    }

    rw::HeadlessRequest request(const rw::DeviceModel& model, const std::string& imagePath) const {
        rw::HeadlessRequest request;
        request.model = &model;
        request.deviceAddress = kAddress;
        request.linkKind = linkKind_;
        request.hostName = "127.0.0.2";
        request.port = linkKind_ == rw::LINK_SERIAL ? 1 : port_;
        request.baudRate = 38400;
        request.imagePath = imagePath;
        return request;
    }

    SimProcess& process() { return process_; }

  private:
    SimProcess process_;
    int linkKind_ = 0;
    int port_ = 0;
};

std::vector<uint8_t> readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The region as a device that was erased and then given the image and its CRC holds it.
std::vector<uint8_t> expectedRegion(const rw::DeviceModel& model,
                                    const std::vector<uint8_t>& image) {
    std::vector<uint8_t> region(static_cast<size_t>(model.flashEnd - model.pageOffset()), 0xFF);
    std::copy(image.begin(), image.end(), region.begin());
    region.back() = expectedCrc(model, image);
    return region;
}

class EndToEndTest : public ::testing::Test {
  protected:
    // The engine's pauses (1250 ms after each mode request) run on a fake clock;
    // the links still wait for the simulator in real time.
    EndToEndTest() : clockScope_(clock_), models_(rw::buildModelTable()) {
        rw::setDataFolder(dir_.str());
        rw::setSoundScheme("");
        std::filesystem::create_directories(dumpDir());
    }
    ~EndToEndTest() override { rw::setSerialPortResolver({}); }

    std::string dumpDir() const { return (dir_.path() / "dump").string(); }
    std::string writeImage(const rw::DeviceModel& model, const std::vector<uint8_t>& image) {
        return writeFile(dir_.path() / "image.hex", intelHex(model.flashStart, image)).string();
    }

    FakeClock clock_{1'000'000};
    ScopedEngineClock clockScope_;
    TempDir dir_;
    rw::ModelTable models_;
};

class EveryLinkAndModel : public EndToEndTest,
                          public ::testing::WithParamInterface<std::tuple<int, int>> {};

TEST_P(EveryLinkAndModel, ProgramsTheDeviceWithImageAndCrc) {
    auto [linkKind, modelIndex] = GetParam();
    const rw::DeviceModel& model = *models_[static_cast<size_t>(modelIndex)];
    std::vector<uint8_t> image = patternImage(300, 11);
    Simulator sim;
    ASSERT_TRUE(sim.start(linkKind, model.name, dumpDir()));

    rw::HeadlessRunner runner;
    rw::HeadlessResult result = runner.run(sim.request(model, writeImage(model, image)));

    std::vector<std::string> expected{"FLASHING " + model.name + " @ 4660..."};
    if (model.eraseWaitSeconds != 0) expected.push_back("ERASING FLASH MEMORY...");
    for (int sent : {128, 256, 300}) {
        expected.push_back("SENT  " + std::to_string(sent) + " / 300  BYTES...");
    }
    expected.push_back("*** FLASH PROGRAMMING COMPLETE ***");
    EXPECT_EQ(result.statusLines(), expected);
    EXPECT_EQ(result.failed, 0u);
    auto crc = std::find_if(result.notifications.begin(), result.notifications.end(),
                            [](const rw::Notification& n) { return n.kind == Kind::Crc; });
    ASSERT_NE(crc, result.notifications.end());
    EXPECT_EQ(crc->wParam, expectedCrc(model, image));

    std::optional<int> exit = sim.process().waitExit(5000);
    ASSERT_TRUE(exit.has_value()) << "the simulator did not see a verified device";
    EXPECT_EQ(*exit, 0);
    EXPECT_EQ(readAll(dir_.path() / "dump" / (std::to_string(kAddress) + ".bin")),
              expectedRegion(model, image));
}

INSTANTIATE_TEST_SUITE_P(Sim, EveryLinkAndModel,
                         ::testing::Combine(::testing::Values(rw::LINK_TCP, rw::LINK_UDP,
                                                              rw::LINK_SERIAL),
                                            ::testing::Range(0, 5)),
                         [](const auto& info) {
                             return std::string(linkLabel(std::get<0>(info.param))) + "Model" +
                                    std::to_string(std::get<1>(info.param));
                         });

TEST_F(EndToEndTest, ZeroLengthImageOverTcpWritesOnlyTheCrc) {
    const rw::DeviceModel& model = *models_[1];
    Simulator sim;
    ASSERT_TRUE(sim.start(rw::LINK_TCP, model.name, dumpDir()));
    rw::HeadlessRunner runner;
    rw::HeadlessResult result = runner.run(sim.request(model, writeImage(model, {})));
    EXPECT_EQ(result.failed, 0u);
    EXPECT_EQ(result.statusLines().back(), "*** FLASH PROGRAMMING COMPLETE ***");
    ASSERT_TRUE(sim.process().waitExit(5000).has_value());
    EXPECT_EQ(readAll(dir_.path() / "dump" / (std::to_string(kAddress) + ".bin")),
              expectedRegion(model, {}));
}

TEST_F(EndToEndTest, RefusalsEndTheJobWithTheirLine) {
    struct Case {
        const char* option;
        const char* line;
    };
    for (const Case& c : {Case{"--refuse-permission", "4660: PERMISSION DENIED"},
                          Case{"--refuse-verify", "CRC CHECKSUM ERROR"}}) {
        SCOPED_TRACE(c.option);
        const rw::DeviceModel& model = *models_[0];
        Simulator sim;
        ASSERT_TRUE(sim.start(rw::LINK_TCP, model.name, dumpDir(), {c.option}));
        rw::HeadlessRunner runner;
        rw::HeadlessResult result =
            runner.run(sim.request(model, writeImage(model, patternImage(200))));
        EXPECT_EQ(result.failed, 1u);
        EXPECT_EQ(result.statusLines().back(), c.line);
        EXPECT_EQ(result.notifications.back().kind, Kind::Done);
        EXPECT_EQ(result.notifications.back().wParam, 1);
    }
}

TEST_F(EndToEndTest, ClosedConnectionRetriesWithPausesUntilAborted) {
    // The simulator drops the connection after two blocks: every later try fails
    // at once, and each failed pass is followed by the 50 ms pause.
    const rw::DeviceModel& model = *models_[3];
    Simulator sim;
    ASSERT_TRUE(sim.start(rw::LINK_TCP, model.name, dumpDir(), {"--close-after-blocks", "2"}));
    rw::HeadlessRunner runner;
    int passes = 0;
    runner.setObserver([&](const rw::Notification& record, rw::FlashJob&) {
        if (record.kind != Kind::Status) return;
        if (record.text.rfind("FLASH WRITE ERROR", 0) == 0 || ++passes > 400) runner.requestAbort();
    });
    rw::HeadlessResult result =
        runner.run(sim.request(model, writeImage(model, patternImage(1000))));
    EXPECT_EQ(result.failed, 1u);
    std::vector<std::string> lines = result.statusLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "FLASH WRITE ERROR  (fd0100h)");
    // Reported once the second of the last success had passed: 20 pauses of 50 ms.
    EXPECT_EQ(clock_.totalSleptMs(), 20 * 50);
}

TEST_F(EndToEndTest, LinksThatDoNotOpenReportTheirName) {
    // Nothing listens on this TCP port; the serial port names a missing device.
    rw::setSerialPortResolver([this](int) { return (dir_.path() / "no-such-tty").string(); });
    struct Case {
        int linkKind;
        int port;
    };
    // A port that is bound but not listening refuses connections, and no other
    // test can take it while this socket holds it.
    int closedPort = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::inet_addr("127.0.0.2");
    socklen_t size = sizeof address;
    ASSERT_EQ(::bind(closedPort, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::getsockname(closedPort, reinterpret_cast<sockaddr*>(&address), &size);
    int port = ntohs(address.sin_port);
    for (const Case& c : {Case{rw::LINK_TCP, port}, Case{rw::LINK_SERIAL, 4}}) {
        rw::HeadlessRequest request;
        request.model = models_[0].get();
        request.deviceAddress = kAddress;
        request.linkKind = c.linkKind;
        request.hostName = "127.0.0.2";
        request.port = c.port;
        request.imagePath = writeImage(*models_[0], patternImage(10));
        rw::HeadlessRunner runner;
        rw::HeadlessResult result = runner.run(request);
        std::string name =
            c.linkKind == rw::LINK_TCP ? "TCP 127.0.0.2:" + std::to_string(port) : "COM4";
        EXPECT_EQ(result.statusLines(), std::vector<std::string>{name + " PORT INITIALIZE ERROR"});
        EXPECT_EQ(result.failed, 1u);
    }
    ::close(closedPort);
}

}  // namespace
}  // namespace rwtest
