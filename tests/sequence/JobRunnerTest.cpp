// The worker on its own thread: the job runner serving the worker's calls and
// handing its notifications over in order, the mailbox and waitForThreadEnd,
// and the real link each job's settings pick.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "engine/FlashJob.h"
#include "engine/JobRunner.h"
#include "engine/ProgramDevice.h"
#include "engine/Sounds.h"
#include "engine/SyncMailbox.h"
#include "link/Transport.h"
#include "support/FakeClock.h"
#include "support/ReplyBuilder.h"
#include "support/TestEnv.h"
#include "support/TestImages.h"

namespace rwtest {
namespace {

using Kind = rw::JobEvent::Kind;

TEST(JobRunnerTest, HandsEveryNotificationOverInOrderAndIsReusedAfterAnAbort) {
    TempDir dir;
    FakeClock clock{5'000'000};
    const rw::ModelTable models = rw::buildModelTable();
    rw::WorkerServices services;
    services.clock = &clock;
    int linkRate = 0;
    services.makeLink = [&linkRate](rw::FlashJob& job) -> std::unique_ptr<rw::Transport> {
        linkRate = job.baudRate;
        auto link = std::make_unique<FakeLink>(rw::LINK_UDP, 3001);
        link->setResponder(acceptingResponder());
        return link;
    };
    const std::vector<uint8_t> image = patternBytes(130);
    rw::JobRequest request;
    request.model = models[3].get();
    request.deviceAddress = 65535;
    request.baudRate = 9600;
    request.autoExit = true;
    request.imagePath = writeFile(dir.path() / "image.hex", intelHex(models[3]->flashStart, image));

    rw::JobRunner runner(services);
    const std::thread::id caller = std::this_thread::get_id();
    std::vector<std::string> seen;
    bool abortAtCrc = false;
    runner.setListener([&](const rw::JobEvent& event, rw::FlashJob&) {
        EXPECT_EQ(std::this_thread::get_id(), caller);
        const char* names[] = {"", "crc ", "done ", "quit "};
        std::string line = names[static_cast<int>(event.kind)] + event.text;
        if (event.kind == Kind::Status)
            line += event.ended ? " (end)" : event.logged ? " (log)" : "";
        if (event.kind == Kind::Crc) line += std::to_string(event.crc);
        if (event.kind == Kind::Done || event.kind == Kind::Quit)
            line += std::to_string(event.failed);
        seen.push_back(line);
        // The CRC is handled while the worker waits: an Abort there stops it before its first
        // block.
        if (event.kind == Kind::Crc && abortAtCrc) runner.requestAbort();
    });
    EXPECT_EQ(runner.run(request), 0u);
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "FLASHING KVTC/2-5140 @ 65535... (log)",
                        "crc " + std::to_string(expectedCrc(*models[3], image)),
                        "ERASING FLASH MEMORY...", "SENT  128 / 130  BYTES...",
                        "SENT  130 / 130  BYTES...", "*** FLASH PROGRAMMING COMPLETE *** (end)",
                        "done 0", "quit 0"}));
    EXPECT_EQ(linkRate, 9600);

    seen.clear();
    abortAtCrc = true;
    request.autoExit = false;
    EXPECT_EQ(runner.run(request), 1u);
    EXPECT_EQ(seen.back(), "done 1");
    EXPECT_EQ(runner.job().bytesWritten, 0);
    EXPECT_EQ(runner.job().running, 0);
}

TEST(JobRunnerTest, MailboxRunsEverythingInOrderAndWakesTheWindowOnlyWhenItMust) {
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
    // waitForThreadEnd serves the worker's calls on the waiting thread until it ends.
    rw::waitForThreadEnd(nullptr, mailbox);
    rw::WorkerThread worker;
    rw::waitForThreadEnd(&worker, mailbox);  // never started: at once
    const std::thread::id waiter = std::this_thread::get_id();
    worker.start([&] {
        for (int i = 5; i < 25; ++i) {
            mailbox.call([&ran, i, waiter] {
                if (std::this_thread::get_id() == waiter) ran.push_back(i);
            });
        }
        return 7u;
    });
    rw::waitForThreadEnd(&worker, mailbox);
    EXPECT_EQ(ran.size(), 24u);
    EXPECT_TRUE(std::ranges::is_sorted(ran));
    EXPECT_FALSE(worker.attached());
    EXPECT_EQ(worker.exitCode(), 7u);
}

TEST(CreateLinkTest, TheJobsLinkKindPicksTheLinkAndTheComNumberItsDevice) {
    rw::WorkerServices services;
    std::vector<int> asked;
    services.serialPortPath = [&asked](int n) {
        asked.push_back(n);
        return std::string("/nonexistent/ttyUSB") + std::to_string(n);
    };
    const struct {
        int kind;
        const char* name;
    } cases[] = {{rw::LINK_TCP, "TCP 127.0.0.2:47213"},
                 {rw::LINK_UDP, "UDP 127.0.0.2:47213"},
                 {rw::LINK_SERIAL, "COM3"},
                 {7, "COM3"}};
    for (const auto& c : cases) {
        rw::FlashJob job{};
        job.linkKind = c.kind;
        job.port = c.name[0] == 'C' ? 3 : 47213;
        std::snprintf(job.hostName, sizeof job.hostName, "127.0.0.2");
        const std::unique_ptr<rw::Transport> link = rw::createLink(job, services);
        EXPECT_STREQ(link->linkName(), c.name);
        EXPECT_EQ(link->kind(), c.kind == 7 ? rw::LINK_SERIAL : c.kind);
    }
    EXPECT_EQ(asked, (std::vector<int>{3, 3}));
}

}  // namespace
}  // namespace rwtest
