// The worker on its own thread: the job runner serving the worker's calls and
// handing its notifications over in order, and waitForThreadEnd.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "RecordingSoundPlayer.h"
#include "engine/FlashJob.h"
#include "engine/JobRunner.h"
#include "engine/ProgramDevice.h"
#include "engine/Sounds.h"
#include "engine/SyncMailbox.h"
#include "support/FakeClock.h"
#include "support/ReplyBuilder.h"
#include "support/TestEnv.h"
#include "support/TestImages.h"

namespace rwtest {
namespace {

using Kind = rw::JobEvent::Kind;

class JobRunnerTest : public ::testing::Test {
  protected:
    JobRunnerTest() : models_(rw::buildModelTable()) {
        rw::setDataFolder(dir_.str() + "/");
        rw::setSoundScheme("Chimes");
        services_.clock = &clock_;
        services_.makeLink = [](rw::FlashJob&) -> std::unique_ptr<rw::Transport> {
            auto link = std::make_unique<FakeLink>(rw::LINK_UDP, 3001);
            link->setResponder(acceptingResponder());
            return link;
        };
    }
    ~JobRunnerTest() override { rw::setSoundScheme(""); }

    rw::JobRequest request(int modelIndex, size_t imageBytes) {
        image_ = patternBytes(imageBytes);
        rw::JobRequest request;
        request.model = models_[static_cast<size_t>(modelIndex)].get();
        request.deviceAddress = 65535;
        request.linkKind = rw::LINK_UDP;
        request.imagePath =
            writeFile(dir_.path() / "image.hex", intelHex(request.model->flashStart, image_))
                .string();
        return request;
    }

    FakeClock clock_{5'000'000};
    rw::ModelTable models_;
    TempDir dir_;
    rw::WorkerServices services_;
    std::vector<uint8_t> image_;
};

TEST_F(JobRunnerTest, HandsEveryNotificationOverInOrderOnTheCallingThread) {
    RecordingSoundPlayer player;
    services_.sound = &player;
    rw::JobRunner runner(services_);
    const std::thread::id caller = std::this_thread::get_id();
    std::vector<std::string> seen;
    int crc = -1;
    runner.setListener([&](const rw::JobEvent& event, rw::FlashJob&) {
        EXPECT_EQ(std::this_thread::get_id(), caller);
        const char* names[] = {"status ", "crc", "done ", "quit "};
        std::string line = names[static_cast<int>(event.kind)];
        if (event.kind == Kind::Status) line += event.text + (event.ended ? " (end)" : "");
        if (event.kind == Kind::Done || event.kind == Kind::Quit)
            line += std::to_string(event.failed);
        if (event.kind == Kind::Crc) crc = event.crc;
        seen.push_back(line);
    });
    rw::JobRequest req = request(3, 130);
    req.autoExit = true;
    EXPECT_EQ(runner.run(req), 0u);
    EXPECT_EQ(seen,
              (std::vector<std::string>{
                  "status FLASHING KVTC/2-5140 @ 65535...", "crc", "status ERASING FLASH MEMORY...",
                  "status SENT  128 / 130  BYTES...", "status SENT  130 / 130  BYTES...",
                  "status *** FLASH PROGRAMMING COMPLETE *** (end)", "done 0", "quit 0"}));
    EXPECT_EQ(crc, expectedCrc(*models_[3], image_));
    // The data folder was given with its slash: the paths have no doubled one.
    EXPECT_EQ(player.calls().front().path, dir_.str() + "/Sounds/Chimes/start.wav");
    EXPECT_EQ(player.fileNames(),
              (std::vector<std::string>{"start.wav", "erase.wav", "loop.wav", "done.wav"}));
}

TEST_F(JobRunnerTest, AListenerCanAbortAndTheRunnerIsReused) {
    rw::JobRunner runner(services_);
    std::vector<std::string> statuses;
    runner.setListener([&](const rw::JobEvent& event, rw::FlashJob&) {
        // The CRC is handled while the worker waits: an Abort there stops it
        // before its first block.
        if (event.kind == Kind::Crc) runner.requestAbort();
        if (event.kind == Kind::Status) statuses.push_back(event.text);
    });
    EXPECT_EQ(runner.run(request(1, 1000)), 1u);
    EXPECT_EQ(statuses, (std::vector<std::string>{"FLASHING KVTC/1-4255 @ 65535..."}));
    EXPECT_EQ(runner.job().bytesWritten.load(), 0);
    EXPECT_EQ(runner.job().running.load(), 0);

    runner.setListener({});
    EXPECT_EQ(runner.run(request(1, 10)), 0u);
}

TEST(SyncMailboxTest, EverythingRunsInOrderAndOnlyWhatMustWakesTheWindow) {
    rw::SyncMailbox mailbox;
    int wakes = 0;
    mailbox.setWakeHook([&] { ++wakes; });
    std::vector<int> ran;
    mailbox.post([&] { ran.push_back(1); }, rw::SyncMailbox::Wake::Later);
    EXPECT_EQ(wakes, 0) << "a progress line does not wake the window";
    mailbox.post([&] { ran.push_back(2); });
    mailbox.post([&] { ran.push_back(3); });
    EXPECT_EQ(wakes, 1) << "one wake serves the whole batch";
    EXPECT_EQ(mailbox.serve(), 3);
    mailbox.post([&] { ran.push_back(4); }, rw::SyncMailbox::Wake::Later);
    std::thread worker([&] { mailbox.call([&] { ran.push_back(5); }); });
    for (int i = 0; i < 400 && ran.size() < 5; ++i) mailbox.serveFor(5);
    worker.join();
    EXPECT_EQ(wakes, 2);
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST(WaitForThreadEndTest, ServesTheWorkersCallsUntilItEndsThenJoins) {
    rw::SyncMailbox mailbox;
    rw::waitForThreadEnd(nullptr, mailbox);  // null and never started: at once
    rw::WorkerThread worker;
    rw::waitForThreadEnd(&worker, mailbox);
    std::thread::id waiter = std::this_thread::get_id();
    std::atomic<int> servedHere{0};
    worker.start([&] {
        for (int i = 0; i < 20; ++i) {
            mailbox.call([&] {
                if (std::this_thread::get_id() == waiter) ++servedHere;
            });
        }
        return 7u;
    });
    rw::waitForThreadEnd(&worker, mailbox);
    EXPECT_EQ(servedHere.load(), 20);
    EXPECT_FALSE(worker.attached());
    EXPECT_EQ(worker.exitCode(), 7u);
}

}  // namespace
}  // namespace rwtest
