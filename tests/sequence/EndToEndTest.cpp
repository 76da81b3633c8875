// Whole jobs through the real links against the romwright-sim program, over
// TCP, UDP and a pseudo-terminal: the status lines, the CRC notification, the
// failed flag and the flash the simulated device ends with.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "engine/JobRunner.h"
#include "engine/Sounds.h"
#include "support/ChildProcess.h"
#include "support/FakeClock.h"
#include "support/TestEnv.h"
#include "support/TestImages.h"

namespace rwtest {
namespace {

constexpr int kAddress = 4660;

// The engine's pauses run on a fake clock; the links wait for the simulator in real time.
class EndToEndTest : public ::testing::Test {
  protected:
    EndToEndTest() : models_(rw::buildModelTable()) {
        rw::setDataFolder(dir_.str());
        rw::setSoundScheme("");
        services_.clock = &clock_;
    }

    // Starts the simulator for the model on the link; the request for it, or
    // nothing when it did not come up.
    std::optional<rw::JobRequest> startSim(int linkKind, const rw::DeviceModel& model,
                                           const std::vector<uint8_t>& image,
                                           std::vector<std::string> args = {}) {
        args.insert(args.end(),
                    {"--model", model.name, "--address", std::to_string(kAddress), "--erase-ms",
                     "0", "--exit-after-verify", "--dump-dir", dir_.str()});
        if (linkKind == rw::LINK_SERIAL) {
            args.insert(args.end(), {"--pty", "--baud", "38400"});
        } else {
            // Port 0: the simulator takes a free port and prints it.
            args.insert(args.end(), {linkKind == rw::LINK_TCP ? "--tcp" : "--udp", "127.0.0.2:0"});
        }
        const std::optional<std::string> endpoint = startSimulator(sim_, args);
        if (!endpoint) return {};
        rw::JobRequest request;
        request.model = &model;
        request.deviceAddress = kAddress;
        request.linkKind = linkKind;
        request.hostName = "127.0.0.2";
        request.port = 1;
        if (linkKind == rw::LINK_SERIAL) {
            services_.serialPortPath = [path = *endpoint](int) { return path; };
        } else {
            request.port = portOf(*endpoint);
        }
        request.imagePath =
            writeFile(dir_.path() / "image.hex", intelHex(model.flashStart, image)).string();
        return request;
    }

    FakeClock clock_{1'000'000};
    rw::WorkerServices services_;
    TempDir dir_;
    rw::ModelTable models_;
    ChildProcess sim_;
};

struct LinkCase {
    const char* name;
    int linkKind;
    int modelIndex;
};

class EveryLink : public EndToEndTest, public ::testing::WithParamInterface<LinkCase> {};

TEST_P(EveryLink, ProgramsTheDeviceWithImageAndCrc) {
    const rw::DeviceModel& model = *models_[static_cast<size_t>(GetParam().modelIndex)];
    std::vector<uint8_t> image = patternBytes(300, 11);
    std::optional<rw::JobRequest> request = startSim(GetParam().linkKind, model, image);
    ASSERT_TRUE(request);

    rw::JobRunner runner(services_);
    std::vector<std::string> statuses;
    int crc = -1;
    runner.setListener([&](const rw::JobEvent& event, rw::FlashJob&) {
        if (event.kind == rw::JobEvent::Kind::Status) statuses.push_back(event.text);
        if (event.kind == rw::JobEvent::Kind::Crc) crc = event.crc;
    });
    EXPECT_EQ(runner.run(*request), 0u);

    std::vector<std::string> expected{"FLASHING " + model.name + " @ 4660..."};
    if (model.eraseWaitSeconds != 0) expected.push_back("ERASING FLASH MEMORY...");
    for (int sent : {128, 256, 300})
        expected.push_back("SENT  " + std::to_string(sent) + " / 300  BYTES...");
    expected.push_back("*** FLASH PROGRAMMING COMPLETE ***");
    EXPECT_EQ(statuses, expected);
    EXPECT_EQ(crc, expectedCrc(model, image));

    ASSERT_EQ(sim_.waitExit(5000), 0) << "the simulator did not see a verified device";
    // The dump holds the erased region with the image and the CRC in its last byte.
    std::vector<uint8_t> region(static_cast<size_t>(model.flashEnd - model.pageOffset()), 0xFF);
    std::copy(image.begin(), image.end(), region.begin());
    region.back() = expectedCrc(model, image);
    EXPECT_EQ(readFile(dir_.path() / (std::to_string(kAddress) + ".bin")),
              std::string(region.begin(), region.end()));
}

// The 2-series model with its flash above 64 KiB over TCP, a model with an erase
// wait over UDP, one more over the pseudo-terminal.
INSTANTIATE_TEST_SUITE_P(Sim, EveryLink,
                         ::testing::Values(LinkCase{"Tcp", rw::LINK_TCP, 3},
                                           LinkCase{"Udp", rw::LINK_UDP, 0},
                                           LinkCase{"Pty", rw::LINK_SERIAL, 2}),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace rwtest
