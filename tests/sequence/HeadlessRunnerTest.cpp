// The worker on its own thread: the headless runner, waitForThreadEnd serving
// the worker's synchronous calls, and the sound scheme read across threads.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "engine/HeadlessRunner.h"
#include "engine/Sounds.h"
#include "engine/SyncMailbox.h"
#include "fakes/FakeClock.h"
#include "fakes/RecordingSoundPlayer.h"
#include "fakes/ReplyBuilder.h"
#include "fakes/TestEnv.h"
#include "sequence/SequenceSupport.h"

namespace rwtest {
namespace {

using Kind = rw::Notification::Kind;

class HeadlessRunnerTest : public ::testing::Test {
  protected:
    HeadlessRunnerTest() : clockScope_(clock_), models_(rw::buildModelTable()) {
        rw::setDataFolder(dir_.str() + "/");
        rw::setSoundScheme("Chimes");
        services_.makeLink = [this](rw::FlashJob&) -> std::unique_ptr<rw::Transport> {
            auto link = std::make_unique<FakeLink>(rw::LINK_UDP, 3001);
            link->setResponder(acceptingResponder());
            return link;
        };
    }
    ~HeadlessRunnerTest() override { rw::setSoundScheme(""); }

    rw::HeadlessRequest request(int modelIndex, size_t imageBytes) {
        image_ = patternImage(imageBytes);
        rw::HeadlessRequest request;
        request.model = models_[static_cast<size_t>(modelIndex)].get();
        request.deviceAddress = 65535;
        request.linkKind = rw::LINK_UDP;
        request.imagePath =
            writeFile(dir_.path() / "image.hex", intelHex(request.model->flashStart, image_)).string();
        return request;
    }

    FakeClock clock_{5'000'000};
    ScopedEngineClock clockScope_;
    rw::ModelTable models_;
    TempDir dir_;
    rw::WorkerServices services_;
    std::vector<uint8_t> image_;
};

TEST_F(HeadlessRunnerTest, RecordsNotificationsAndSoundsInOrder) {
    RecordingSoundPlayer player;
    services_.sound = &player;
    rw::HeadlessRunner runner(services_);
    rw::HeadlessRequest req = request(3, 130);
    req.autoExit = true;
    rw::HeadlessResult result = runner.run(req);

    // The data folder was given with its slash: the paths have no doubled one.
    std::string folder = dir_.str() + "/Sounds/Chimes/";
    std::vector<std::pair<Kind, std::string>> expected{
        {Kind::SoundOnce, folder + "start.wav"},
        {Kind::Status, "FLASHING KVTC/2-5140 @ 65535..."},
        {Kind::Crc, ""},
        {Kind::SoundLooping, folder + "erase.wav"},
        {Kind::Status, "ERASING FLASH MEMORY..."},
        {Kind::SoundLooping, folder + "loop.wav"},
        {Kind::Status, "SENT  128 / 130  BYTES..."},
        {Kind::Status, "SENT  130 / 130  BYTES..."},
        {Kind::Status, "*** FLASH PROGRAMMING COMPLETE ***"},
        {Kind::SoundEnd, folder + "done.wav"},
        {Kind::Done, ""},
        {Kind::Quit, ""}};
    std::vector<std::pair<Kind, std::string>> actual;
    for (const rw::Notification& record : result.notifications)
        actual.push_back({record.kind, record.text});
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(result.failed, 0u);
    EXPECT_EQ(result.notifications[2].wParam, expectedCrc(*models_[3], image_));
    // The caller's player hears the same sounds.
    EXPECT_EQ(player.fileNames(),
              (std::vector<std::string>{"start.wav", "erase.wav", "loop.wav", "done.wav"}));
}

TEST_F(HeadlessRunnerTest, ObserverRunsOnTheCallingThreadAndCanAbortThenTheRunnerIsReused) {
    rw::HeadlessRunner runner(services_);
    std::thread::id caller = std::this_thread::get_id();
    std::atomic<int> foreignCalls{0};
    int statusSeen = 0;
    runner.setObserver([&](const rw::Notification& record, rw::FlashJob&) {
        if (std::this_thread::get_id() != caller) ++foreignCalls;
        if (record.kind == Kind::Status && ++statusSeen == 3) runner.requestAbort();
    });
    rw::HeadlessResult result = runner.run(request(1, 1000));
    EXPECT_EQ(foreignCalls.load(), 0);
    EXPECT_EQ(result.failed, 1u);
    EXPECT_EQ(result.statusLines(), (std::vector<std::string>{"FLASHING KVTC/1-4255 @ 65535...",
                                                              "SENT  128 / 1000  BYTES...",
                                                              "SENT  256 / 1000  BYTES..."}));
    EXPECT_EQ(result.notifications.back().kind, Kind::Done);
    EXPECT_EQ(result.notifications.back().wParam, 1);
    EXPECT_EQ(runner.job().running.load(), 0);

    // The same runner takes the next job from a clean record.
    runner.setObserver({});
    rw::HeadlessResult second = runner.run(request(1, 10));
    EXPECT_EQ(second.failed, 0u);
    EXPECT_EQ(second.statusLines().back(), "*** FLASH PROGRAMMING COMPLETE ***");
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

TEST(SoundsTest, SchemeChangesWhileAnotherThreadReadsIt) {
    const std::string longName = "A much longer scheme name";
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        for (int i = 0; i < 2000 && !stop; ++i) {
            std::string scheme = rw::soundScheme();
            ASSERT_TRUE(scheme.empty() || scheme == "Classic" || scheme == longName);
        }
    });
    for (int i = 0; i < 2000; ++i) rw::setSoundScheme(i % 2 ? "Classic" : longName);
    stop = true;
    reader.join();
    rw::setSoundScheme("");
}

}  // namespace
}  // namespace rwtest
