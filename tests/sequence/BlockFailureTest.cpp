// The programming sequence when blocks fail or the operator aborts: silence
// within and beyond the erase wait, the back-off between passes, unlimited
// retries of a block, and when an Abort still lets the CRC steps decide.
#include "ProgramDeviceFixture.h"

namespace rwtest {
namespace {

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
        // One record, before the final line or, without one, before the completion.
        ASSERT_EQ(recorder_.outcomes.size(), 1u);
        const rw::JobOutcome& o = recorder_.outcomes[0];
        EXPECT_EQ(o.programmed, failed == 0);
        EXPECT_EQ(o.stopped, c.abortAt != nullptr);
        EXPECT_EQ(o.status, c.line ? c.line : "");
        EXPECT_EQ(recorder_.notificationsBefore[0], notifier_->records().size() - (c.line ? 2 : 1));
        std::vector<int64_t> sleeps = clock_.sleeps();
        EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 10), 0);  // no back-off step
    }
}

}  // namespace
}  // namespace rwtest
