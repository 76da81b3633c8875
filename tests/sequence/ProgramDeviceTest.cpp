// The programming sequence against an in-memory device on a fake clock: the
// status lines, flags, sounds and frames of whole runs, on the test's thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

#include "engine/FlashJob.h"
#include "engine/ProgramDevice.h"
#include "engine/Protocol.h"
#include "engine/Sounds.h"
#include "fakes/FakeClock.h"
#include "fakes/RecordingNotifier.h"
#include "fakes/RecordingSoundPlayer.h"
#include "fakes/ReplyBuilder.h"
#include "fakes/TestEnv.h"
#include "sequence/SequenceSupport.h"

namespace rwtest {
namespace {

using Kind = RecordedNotification::Kind;
using Sound = RecordedSound::Kind;
using Names = std::vector<std::string>;
using Commands = std::vector<uint8_t>;
enum class Answer { Accept, Silent, Refuse };
using Policy = std::function<Answer(const Bytes&)>;

const std::string kComplete = "*** FLASH PROGRAMMING COMPLETE ***";

uint32_t writeAddress(const Bytes& f) {
    return (uint32_t{f[7]} << 16) | (uint32_t{f[8]} << 8) | f[9];
}
bool isBlockWrite(const Bytes& f) {
    return f[5] == rw::CMD_FLASH_WRITE && f[11] != 1;
}
bool isCrcByteWrite(const Bytes& f) {
    return f[5] == rw::CMD_FLASH_WRITE && f[11] == 1;
}
std::function<bool(const Bytes&)> is(uint8_t command) {
    return [command](const Bytes& f) { return f[5] == command; };
}
Policy refuse(uint8_t command) {
    return [command](const Bytes& f) { return f[5] == command ? Answer::Refuse : Answer::Accept; };
}
Policy silent(std::function<bool(const Bytes&)> when) {
    return [when](const Bytes& f) { return when(f) ? Answer::Silent : Answer::Accept; };
}
// Silent to the block write at `address` for `passes` passes (three tries each).
Policy silentBlocks(uint32_t address, int passes) {
    auto triesLeft = std::make_shared<int>(passes * 3);
    return silent([=](const Bytes& f) {
        return isBlockWrite(f) && writeAddress(f) == address && (*triesLeft)-- > 0;
    });
}

// Every run gets a fresh FakeLink whose device records each frame it receives,
// answers through policy_ and keeps the flash it was sent.
class ProgramDeviceTest : public ::testing::Test {
  protected:
    ProgramDeviceTest() : models_(rw::buildModelTable()) {
        services_.clock = &clock_;
        rw::setDataFolder(dir_.str());
        rw::setSoundScheme("Classic");
        services_.makeLink = [this](rw::FlashJob&) -> std::unique_ptr<rw::Transport> {
            auto link = std::make_unique<FakeLink>(linkKind_, linkKind_ == rw::LINK_TCP ? 3001 : 1);
            link->setOpenError(openError_);
            if (slow_) link->setTimeoutClock(&clock_);  // each silent try costs 3000 ms
            link->setResponder([this](const Bytes& frame) { return answer(frame); });
            return link;
        };
    }
    ~ProgramDeviceTest() override { rw::setSoundScheme(""); }

    ReplyPieces answer(const Bytes& frame) {
        frames_.push_back(frame);
        Answer a = policy_ ? policy_(frame) : Answer::Accept;
        if (a == Answer::Silent) return {};
        if (a == Answer::Accept && frame[5] == rw::CMD_FLASH_WRITE) {
            size_t count = (size_t{frame[10]} << 8) | frame[11];
            for (size_t i = 0; i < count; ++i)
                flash_[writeAddress(frame) + static_cast<uint32_t>(i)] = frame[12 + i];
        }
        ReplyOptions options;
        options.status = a == Answer::Refuse ? 1 : 0;
        return {buildReply(frame, options)};
    }

    const rw::DeviceModel& model(int index) { return *models_[static_cast<size_t>(index)]; }

    // A fresh job for the model with a HEX file of a `size`-byte image, as Go fills it.
    const rw::DeviceModel& prepare(int modelIndex, size_t size, const char* fileName = "app.hex") {
        const rw::DeviceModel& row = model(modelIndex);
        image_ = patternImage(size);
        job_ = std::make_unique<rw::FlashJob>();
        notifier_ = std::make_unique<RecordingNotifier>();
        sounds_ = std::make_unique<RecordingSoundPlayer>();
        services_.sound = sounds_.get();
        frames_.clear();
        flash_.clear();
        policy_ = nullptr;
        clock_.clearSleeps();
        job_->window = notifier_.get();
        job_->running = 1;
        job_->deviceAddress = 101;
        job_->model = &row;
        setImagePath(writeFile(dir_.path() / fileName, intelHex(row.flashStart, image_)));
        return row;
    }
    void setImagePath(const std::filesystem::path& path) {
        std::snprintf(job_->imagePath, sizeof job_->imagePath, "%s", path.string().c_str());
    }

    unsigned run() { return rw::ProgramDeviceThread(*job_, services_); }

    Commands commands() const {
        Commands list;
        for (const Bytes& frame : frames_) list.push_back(frame[5]);
        return list;
    }
    long count(const std::function<bool(const Bytes&)>& which) const {
        return std::count_if(frames_.begin(), frames_.end(), which);
    }
    // Window's Abort: clears running and marks the job failed.
    void abortJob() {
        job_->running = 0;
        job_->failed = 1;
    }

    FakeClock clock_{1'000'000};
    rw::ModelTable models_;
    TempDir dir_;
    rw::WorkerServices services_;
    int linkKind_ = rw::LINK_SERIAL;
    int openError_ = 0;
    bool slow_ = false;
    Policy policy_;
    std::vector<Bytes> frames_;
    Flash flash_;
    std::vector<uint8_t> image_;
    std::unique_ptr<rw::FlashJob> job_;
    std::unique_ptr<RecordingNotifier> notifier_;
    std::unique_ptr<RecordingSoundPlayer> sounds_;
};

class CompleteRun : public ProgramDeviceTest, public ::testing::WithParamInterface<int> {};

TEST_P(CompleteRun, StatusLinesCrcFramesAndFlash) {
    const rw::DeviceModel& row = prepare(GetParam(), 300);
    EXPECT_EQ(run(), 0u);

    std::vector<RecordedNotification> expected{
        {Kind::Status, 0, 1, "FLASHING " + row.name + " @ 101..."},
        {Kind::Crc, expectedCrc(row, image_), 0, {}}};
    if (row.eraseWaitSeconds != 0)
        expected.push_back({Kind::Status, 0, 0, "ERASING FLASH MEMORY..."});
    for (int sent : {128, 256, 300})
        expected.push_back(
            {Kind::Status, 0, 0, "SENT  " + std::to_string(sent) + " / 300  BYTES..."});
    expected.push_back({Kind::Status, 1, 1, kComplete});
    expected.push_back({Kind::Done, 0, 0, {}});
    EXPECT_EQ(notifier_->records(), expected);
    EXPECT_EQ(job_->running.load(), 0);
    EXPECT_EQ(job_->image, nullptr);
    EXPECT_EQ(flash_, expectedFlash(row, image_));

    // The 2-series models get no mode request; the others are switched in and out.
    const uint8_t write = rw::CMD_FLASH_WRITE;
    Commands expectedCommands{rw::CMD_PERMISSION,  rw::CMD_FLASH_INIT, write, write, write, write,
                              rw::CMD_FLASH_VERIFY};
    bool hasMode = row.code == 0x4400 || row.code == 0x3000 || row.code == 0x4255;
    if (hasMode) {
        expectedCommands.insert(expectedCommands.begin(), rw::CMD_MODE);
        expectedCommands.push_back(rw::CMD_MODE);
        EXPECT_EQ(frames_.front()[9], 1);
        EXPECT_EQ(frames_.back()[9], 0);
    }
    EXPECT_EQ(commands(), expectedCommands);
}

INSTANTIATE_TEST_SUITE_P(EveryModel, CompleteRun, ::testing::Range(0, 5));

TEST_F(ProgramDeviceTest, SoundsUseTheSchemeFixedAtStartAndStopWhenTurnedOff) {
    const std::string classic = dir_.str() + "/Sounds/Classic/";
    const std::vector<RecordedSound> all{{Sound::Once, classic + "start.wav"},
                                         {Sound::Looping, classic + "erase.wav"},
                                         {Sound::Looping, classic + "loop.wav"},
                                         {Sound::End, classic + "done.wav"}};
    struct Case {
        std::string atStart, midJob;
        std::vector<RecordedSound> expected;
    };
    for (const Case& c : {Case{"Classic", "Chimes", all}, Case{"Classic", "", {all[0], all[3]}},
                          Case{"", "", {{Sound::End, dir_.str() + "/Sounds//done.wav"}}}}) {
        SCOPED_TRACE(c.atStart + " then " + c.midJob);
        rw::setSoundScheme(c.atStart);
        prepare(0, 200);
        notifier_->setSendHook([&c](const RecordedNotification& record, rw::FlashJob&) {
            if (record.kind == Kind::Crc) rw::setSoundScheme(c.midJob);
        });
        EXPECT_EQ(run(), 0u);
        EXPECT_EQ(sounds_->calls(), c.expected);
    }
}

TEST_F(ProgramDeviceTest, ZeroLengthImageWritesOnlyTheCrcAndCompletes) {
    prepare(0, 0, "APP.HEX");  // the extension's case does not matter
    EXPECT_EQ(run(), 0u);
    EXPECT_EQ(count(is(rw::CMD_FLASH_WRITE)), 1);
    EXPECT_EQ(notifier_->statusLines(),
              (Names{"FLASHING KVTC/1-4400 @ 101...", "ERASING FLASH MEMORY...", kComplete}));
    EXPECT_EQ(flash_, expectedFlash(model(0), {}));
}

TEST_F(ProgramDeviceTest, EachFailingStepEndsTheJobWithItsLineThenModeOff) {
    const std::string good = ":0100000055AA\r\n:00000001FF\r\n";
    struct Case {
        const char* name;
        int modelIndex;
        Policy policy;
        std::string line;
        uint8_t lastCommand;       // sent last before mode off; 0: nothing but mode off
        const char* fileName;      // null: a good HEX file
        std::string content = {};  // empty: the file does not exist
    };
    const std::vector<Case> cases{
        {"PermissionRefused", 0, refuse(rw::CMD_PERMISSION), "101: PERMISSION DENIED",
         rw::CMD_PERMISSION, nullptr},
        // A permission request that gets no answer does not stop the job.
        {"PermissionSilent", 0, silent(is(rw::CMD_PERMISSION)), kComplete, rw::CMD_FLASH_VERIFY,
         nullptr},
        {"FlashInitSilent", 0, silent(is(rw::CMD_FLASH_INIT)), "COM1 FLASH INITIALIZE ERROR",
         rw::CMD_FLASH_INIT, nullptr},
        {"FlashInitRefused", 1, refuse(rw::CMD_FLASH_INIT), "COM1 FLASH INITIALIZE ERROR",
         rw::CMD_FLASH_INIT, nullptr},
        {"CrcByteWriteFails", 0, silent(isCrcByteWrite), "CRC CHECKSUM ERROR", rw::CMD_FLASH_WRITE,
         nullptr},
        {"CrcConfirmRefused", 1, refuse(rw::CMD_FLASH_VERIFY), "CRC CHECKSUM ERROR",
         rw::CMD_FLASH_VERIFY, nullptr},
        {"CrcConfirmSilent", 0, silent(is(rw::CMD_FLASH_VERIFY)), "CRC CHECKSUM ERROR",
         rw::CMD_FLASH_VERIFY, nullptr},
        {"WrongExtension", 0, nullptr, "HEX FILE ERROR", 0, "app.hx", good},
        {"NoExtension", 0, nullptr, "HEX FILE ERROR", 0, "app", good},
        {"DotInFolderOnly", 0, nullptr, "HEX FILE ERROR", 0, "v1.hex/app"},
        {"Missing", 0, nullptr, "HEX2BIN ERROR", 0, "missing.hex"},
        {"BadChecksum", 3, nullptr, "HEX2BIN ERROR", 0, "bad.hex",
         ":0100000055AB\r\n:00000001FF\r\n"},
        {"Truncated", 2, nullptr, "HEX2BIN ERROR", 0, "cut.HEX", ":10000000"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const rw::DeviceModel& row = prepare(c.modelIndex, 100);
        policy_ = c.policy;
        if (c.fileName != nullptr) {
            if (!c.content.empty()) writeFile(dir_.path() / c.fileName, c.content);
            setImagePath(dir_.path() / c.fileName);
        }
        unsigned failed = c.line == kComplete ? 0 : 1;
        EXPECT_EQ(run(), failed);
        EXPECT_EQ(job_->failed.load(), failed);
        std::vector<RecordedNotification> records = notifier_->records();
        ASSERT_GE(records.size(), 3u);
        EXPECT_EQ(records.front().statusText, "FLASHING " + row.name + " @ 101...");
        EXPECT_EQ(records[records.size() - 2], (RecordedNotification{Kind::Status, 1, 1, c.line}));
        EXPECT_EQ(notifier_->finalLines().size(), 1u);
        EXPECT_EQ(job_->image, nullptr);
        EXPECT_EQ(sounds_->fileNames().back(), failed ? "fail.wav" : "done.wav");
        // Mode off ends every run; the 2-series model has no mode request to send.
        Commands sent = commands();
        Commands end{rw::CMD_MODE};
        if (c.lastCommand != 0) end.insert(end.begin(), c.lastCommand);
        if (row.code == 0x5140) end.pop_back();
        ASSERT_GE(sent.size(), end.size());
        EXPECT_EQ(c.lastCommand == 0 ? sent : Commands(sent.end() - long(end.size()), sent.end()),
                  end);
        EXPECT_TRUE(frames_.empty() || frames_.back()[9] == 0);
    }
}

TEST_F(ProgramDeviceTest, LinkThatDidNotOpenEndsAtOnceWithItsName) {
    openError_ = rw::LINK_FAIL;
    for (int kind : {rw::LINK_SERIAL, rw::LINK_TCP}) {
        prepare(0, 10);
        linkKind_ = kind;
        EXPECT_EQ(run(), 1u);
        std::string name = kind == rw::LINK_TCP ? "TCP 127.0.0.2:3001" : "COM1";
        EXPECT_EQ(notifier_->records(), (std::vector<RecordedNotification>{
                                            {Kind::Status, 1, 1, name + " PORT INITIALIZE ERROR"},
                                            {Kind::Done, 1, 0, {}}}));
        EXPECT_TRUE(frames_.empty());
        EXPECT_EQ(sounds_->fileNames(), Names{"fail.wav"});
    }
}

// ---- Block failures, the erase wait and the back-off ---------------------------

TEST_F(ProgramDeviceTest, BlockSilenceIsReportedOnlyBeyondTheEraseWaitThenRecovers) {
    // Each silent try costs 3000 ms, a pass three tries. Two silent passes (18 s)
    // end within the 20 s erase wait, the third beyond it; after a success the
    // first silent pass is reported, with the block's address.
    slow_ = true;
    const std::string erasing = "ERASING FLASH MEMORY...", sent = "SENT  128 / 300  BYTES...";
    const Names again{"start.wav", "erase.wav", "loop.wav", "error.wav", "loop.wav", "done.wav"};
    struct Case {
        int modelIndex;
        uint32_t address;
        int passes;
        Names lines;  // from the second status line on
        Names sounds;
    };
    for (const Case& c :
         {Case{0,
               0x2000,
               2,
               {erasing, erasing, erasing, sent},
               {"start.wav", "erase.wav", "loop.wav", "done.wav"}},
          Case{0,
               0x2000,
               3,
               {erasing, erasing, erasing, "FLASH WRITE ERROR  (2000h)", sent},
               {"start.wav", "erase.wav", "error.wav", "loop.wav", "done.wav"}},
          Case{0,
               0x2080,
               1,
               {erasing, sent, "FLASH WRITE ERROR  (2080h)", "SENT  256 / 300  BYTES..."},
               again},
          Case{3,
               0xFD0080,
               1,
               {erasing, sent, "FLASH WRITE ERROR  (fd0080h)", "SENT  256 / 300  BYTES..."},
               again}}) {
        SCOPED_TRACE(c.lines[c.lines.size() - 2]);
        prepare(c.modelIndex, 300);
        policy_ = silentBlocks(c.address, c.passes);
        Names lines;
        std::vector<uint8_t> failed;  // at each status line
        notifier_->setSendHook([&](const RecordedNotification& record, rw::FlashJob& job) {
            if (record.kind != Kind::Status) return;
            lines.push_back(record.statusText);
            failed.push_back(job.failed);
        });
        EXPECT_EQ(run(), 0u);
        ASSERT_GT(lines.size(), c.lines.size());
        EXPECT_EQ(Names(lines.begin() + 1, lines.begin() + 1 + long(c.lines.size())), c.lines);
        for (size_t i = 0; i < lines.size(); ++i)
            EXPECT_EQ(failed[i], lines[i].find("ERROR") != std::string::npos) << lines[i];
        EXPECT_EQ(sounds_->fileNames(), c.sounds);
        for (const RecordedSound& call : sounds_->calls())
            EXPECT_TRUE(call.kind == Sound::Once || call.path.find("error") == std::string::npos);
        EXPECT_EQ(flash_, expectedFlash(model(c.modelIndex), image_));
    }
}

TEST_F(ProgramDeviceTest, WithoutEraseWaitFastFailuresAreReportedOnceTheEraseSecondPassed) {
    // Failing tries return at once, so each pass is followed by the 50 ms pause in
    // 10 ms steps: the first 20 passes fall in the second of the flash initialise.
    prepare(1, 300);
    policy_ = silent(isBlockWrite);
    notifier_->setSendHook([this](const RecordedNotification& record, rw::FlashJob&) {
        if (record.statusText == "FLASH WRITE ERROR  (1000h)") abortJob();
    });
    EXPECT_EQ(run(), 1u);
    Names lines = notifier_->statusLines();
    ASSERT_EQ(lines.size(), 22u);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "FLASHING KVTC/1-4255 @ 101..."), 21);
    EXPECT_EQ(count(is(rw::CMD_FLASH_WRITE)), 21 * 3);
    EXPECT_EQ(clock_.sleeps(), std::vector<int64_t>(20 * 5, 10));
    EXPECT_TRUE(notifier_->finalLines().empty());
}

TEST_F(ProgramDeviceTest, OnlyFastFailedPassesPauseAndABlockIsRetriedWithoutLimit) {
    for (bool slow : {false, true}) {
        SCOPED_TRACE(slow);
        slow_ = slow;
        prepare(1, 300);
        policy_ = silentBlocks(0x1080, 200);
        EXPECT_EQ(run(), 0u);
        EXPECT_EQ(count(is(rw::CMD_FLASH_WRITE)), 4 + 200 * 3);
        EXPECT_EQ(clock_.totalSleptMs(), slow ? 0 : 200 * 50);
        EXPECT_EQ(flash_, expectedFlash(model(1), image_));
    }
}

TEST_F(ProgramDeviceTest, AbortEndsFailedUnlessTheCrcStepsHadBegun) {
    // Before the CRC steps an Abort ends the job at once (also a failing block's
    // back-off, and after the last block's success); once the CRC byte write has
    // begun, or just before the window sees the final line, the CRC steps decide.
    struct Case {
        const char* name;
        int modelIndex;
        std::function<bool(const Bytes&)> abortAt;  // null: at the final line
        Answer answer;                              // to the frame that aborts
        bool confirmRefused;
        int blockWrites;
        const char* line;  // null: no final line
    };
    const char* complete = kComplete.c_str();
    const std::vector<Case> cases{
        {"FlashInit", 0, is(rw::CMD_FLASH_INIT), Answer::Accept, false, 0, nullptr},
        {"FirstBlock", 0, isBlockWrite, Answer::Accept, false, 1, nullptr},
        {"FailingBlock", 1, isBlockWrite, Answer::Silent, false, 3, nullptr},
        {"LastBlock", 2,
         [](const Bytes& f) { return isBlockWrite(f) && writeAddress(f) == 0x2100; },
         Answer::Accept, false, 3, nullptr},
        {"CrcByte", 0, isCrcByteWrite, Answer::Accept, false, 3, complete},
        {"Confirm", 0, is(rw::CMD_FLASH_VERIFY), Answer::Accept, false, 3, complete},
        {"CrcByteConfirmRefused", 0, isCrcByteWrite, Answer::Accept, true, 3, "CRC CHECKSUM ERROR"},
        {"FinalLine", 0, nullptr, Answer::Accept, false, 3, complete},
        {"FinalLineConfirmRefused", 0, nullptr, Answer::Accept, true, 3, "CRC CHECKSUM ERROR"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        prepare(c.modelIndex, 300);
        policy_ = [&c, this](const Bytes& frame) {
            if (c.abortAt && c.abortAt(frame)) {
                abortJob();
                return c.answer;
            }
            return c.confirmRefused && frame[5] == rw::CMD_FLASH_VERIFY ? Answer::Refuse
                                                                        : Answer::Accept;
        };
        notifier_->setSendHook([&c, this](const RecordedNotification& record, rw::FlashJob& job) {
            // A block that succeeds at the moment of Abort keeps the Abort's failure.
            if (record.kind == Kind::Status && record.wParam == 0 && !job.running) {
                EXPECT_EQ(job.failed.load(), 1) << record.statusText;
            }
            if (!c.abortAt && record.kind == Kind::Status && record.wParam == 1) abortJob();
        });
        int failed = c.line == nullptr || c.confirmRefused ? 1 : 0;
        EXPECT_EQ(run(), static_cast<unsigned>(failed));
        EXPECT_EQ(job_->failed.load(), failed);
        EXPECT_EQ(notifier_->finalLines(), c.line ? Names{c.line} : Names{});
        EXPECT_EQ(notifier_->records().back(), (RecordedNotification{Kind::Done, failed, 0, {}}));
        EXPECT_EQ(sounds_->fileNames().back(), failed ? "fail.wav" : "done.wav");
        EXPECT_EQ(count(isBlockWrite), c.blockWrites);
        EXPECT_EQ(count(isCrcByteWrite), c.line ? 1 : 0);
        EXPECT_EQ(frames_.back()[5], rw::CMD_MODE);
        std::vector<int64_t> sleeps = clock_.sleeps();
        EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 10), 0);  // no back-off step
    }
}

}  // namespace
}  // namespace rwtest
