// The worker on its own thread: the headless runner, waitForThreadEnd serving
// the worker's synchronous calls, and the scheme-sound rules.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "engine/HeadlessRunner.h"
#include "engine/Protocol.h"
#include "engine/Sounds.h"
#include "engine/SyncMailbox.h"
#include "engine/WorkerThread.h"
#include "fakes/FakeClock.h"
#include "fakes/FakeLink.h"
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
        rw::setDataFolder(dir_.str());
        rw::setSoundScheme("Chimes");
        services_.makeLink = [this](rw::FlashJob&) -> std::unique_ptr<rw::Transport> {
            auto link = std::make_unique<FakeLink>(rw::LINK_UDP, 3001);
            link->setResponder(responder_);
            if (openError_ != 0) link->setOpenError(openError_);
            return link;
        };
    }
    ~HeadlessRunnerTest() override { rw::setSoundScheme(""); }

    rw::HeadlessRequest request(int modelIndex, size_t imageBytes) {
        const rw::DeviceModel& model = *models_[static_cast<size_t>(modelIndex)];
        image_ = patternImage(imageBytes);
        rw::HeadlessRequest request;
        request.model = &model;
        request.deviceAddress = 65535;
        request.linkKind = rw::LINK_UDP;
        request.hostName = "127.0.0.2";
        request.port = 3001;
        request.imagePath =
            writeFile(dir_.path() / "image.hex", intelHex(model.flashStart, image_)).string();
        return request;
    }

    FakeClock clock_{5'000'000};
    ScopedEngineClock clockScope_;
    rw::ModelTable models_;
    TempDir dir_;
    Responder responder_ = acceptingResponder();
    int openError_ = 0;
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
        {Kind::Quit, ""},
    };
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

TEST_F(HeadlessRunnerTest, ObserverRunsOnTheCallingThreadAndCanAbort) {
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
}

TEST_F(HeadlessRunnerTest, RunsOneJobAfterAnotherOnTheSameRecord) {
    rw::HeadlessRunner runner(services_);
    openError_ = rw::LINK_FAIL;
    rw::HeadlessResult first = runner.run(request(0, 10));
    EXPECT_EQ(first.failed, 1u);
    EXPECT_EQ(first.statusLines(),
              std::vector<std::string>{"UDP 127.0.0.2:3001 PORT INITIALIZE ERROR"});
    openError_ = 0;
    rw::HeadlessResult second = runner.run(request(0, 10));
    EXPECT_EQ(second.failed, 0u);
    EXPECT_EQ(second.statusLines().back(), "*** FLASH PROGRAMMING COMPLETE ***");
}

TEST(WaitForThreadEndTest, NullAndNeverStartedThreadsReturnAtOnce) {
    rw::SyncMailbox mailbox;
    rw::waitForThreadEnd(nullptr, mailbox);
    rw::WorkerThread idle;
    rw::waitForThreadEnd(&idle, mailbox);
    EXPECT_FALSE(idle.attached());
}

TEST(WaitForThreadEndTest, ServesTheWorkersCallsUntilItEndsThenJoins) {
    rw::SyncMailbox mailbox;
    rw::WorkerThread worker;
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

// ---- Scheme sounds ----------------------------------------------------------

TEST(SoundsTest, DataFolderAlwaysEndsWithASlash) {
    for (const char* folder : {"/tmp/kvt", "/tmp/kvt/"}) {
        rw::setDataFolder(folder);
        EXPECT_EQ(rw::dataFolder(), "/tmp/kvt/");
    }
}

TEST(SoundsTest, SchemeFolderFollowsTheSchemeAndStillYieldsAPathWhenOff) {
    rw::setDataFolder("/data/");
    rw::setSoundScheme("Loud");
    EXPECT_EQ(rw::schemeFolder(), "/data/Sounds/Loud/");
    rw::setSoundScheme("");
    EXPECT_EQ(rw::schemeFolder(), "/data/Sounds//");
}

TEST(SoundsTest, PlaySchemeSoundUsesTheFlagsAndIsSilentWhenOff) {
    RecordingSoundPlayer player;
    rw::setSoundScheme("Classic");
    rw::playSchemeSound(player, "/a/start.wav", rw::SOUND_ONCE);
    rw::playSchemeSound(player, "/a/loop.wav", rw::SOUND_LOOPING);
    rw::setSoundScheme("");
    rw::playSchemeSound(player, "/a/error.wav", rw::SOUND_ONCE);
    rw::playSchemeSound(player, "/a/erase.wav", rw::SOUND_LOOPING);
    EXPECT_EQ(player.calls(),
              (std::vector<RecordedSound>{{RecordedSound::Kind::Once, "/a/start.wav"},
                                          {RecordedSound::Kind::Looping, "/a/loop.wav"}}));
}

TEST(SoundsTest, SchemeChangesWhileAnotherThreadReadsIt) {
    rw::setSoundScheme("");
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        for (int i = 0; i < 2000 && !stop; ++i) {
            std::string scheme = rw::soundScheme();
            ASSERT_TRUE(scheme.empty() || scheme == "Classic" ||
                        scheme == "A much longer scheme name");
        }
    });
    for (int i = 0; i < 2000; ++i)
        rw::setSoundScheme(i % 2 ? "Classic" : "A much longer scheme name");
    stop = true;
    reader.join();
    rw::setSoundScheme("");
}

}  // namespace
}  // namespace rwtest
