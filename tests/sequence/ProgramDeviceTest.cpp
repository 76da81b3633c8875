// Whole runs of the programming sequence: every model's steps, statuses, flash
// and record, the sounds, each failing step, failing blocks within and beyond
// the erase wait, and when an Abort still lets the CRC steps decide.
#include "SequenceFixture.h"

namespace rwtest {
namespace {

std::string scheme(const char* kind, const char* name) {
    return std::string(kind) + " Classic/" + name + ".wav";
}

TEST_F(SequenceTest, EveryModelIsProgrammedStepByStepAndRecordedBeforeItsFinalLine) {
    for (int index = 0; index < 5; ++index) {
        const rw::DeviceModel& row = prepare(index, 300);
        SCOPED_TRACE(row.name);
        EXPECT_EQ(run(), 0u);
        const int crc = expectedCrc(row, image_);
        Names expected{"log FLASHING " + row.name + " @ 101...", "crc " + std::to_string(crc)};
        if (row.eraseWaitSeconds != 0) expected.push_back("ERASING FLASH MEMORY...");
        for (const char* sent : {"128", "256", "300"})
            expected.push_back("SENT  " + std::string(sent) + " / 300  BYTES...");
        expected.insert(expected.end(), {"end " + kComplete, "done 0"});
        EXPECT_EQ(events_, expected);
        EXPECT_EQ(baudAtCrc_, 19200u) << "the job's rate reaches the link";
        EXPECT_EQ(flash_, expectedFlash(row));
        EXPECT_EQ(job_->running, 0);
        EXPECT_EQ(job_->image, nullptr);
        // The 2-series models get no mode request; the others are switched in and out.
        const uint8_t w = rw::CMD_FLASH_WRITE;
        std::vector<uint8_t> steps{rw::CMD_PERMISSION,  rw::CMD_FLASH_INIT, w, w, w, w,
                                   rw::CMD_FLASH_VERIFY};
        const bool hasMode = row.code == 0x4400 || row.code == 0x3000 || row.code == 0x4255;
        if (hasMode) {
            steps.insert(steps.begin(), rw::CMD_MODE);
            steps.push_back(rw::CMD_MODE);
            EXPECT_EQ(frames_.front()[9], 1);
            EXPECT_EQ(frames_.back()[9], 0);
        }
        EXPECT_EQ(commands(), steps);

        ASSERT_EQ(outcomes_.size(), 1u);
        EXPECT_EQ(eventsAtRecord_, expected.size() - 2);
        const rw::JobOutcome& o = outcomes_[0];
        EXPECT_EQ(std::tie(o.programmed, o.stopped, o.status, o.model, o.address, o.link, o.device),
                  std::make_tuple(true, false, kComplete, row.name, 101, "COM3", "/dev/ttyUSB3"));
        EXPECT_EQ(std::tie(o.baudRate, o.imageLength, o.bytesWritten, o.imageCrc, o.retries),
                  std::make_tuple(19200, 300, 300, crc, 0));
        EXPECT_EQ(o.file, (dir_.path() / "app.hex").string());
        EXPECT_EQ(o.fileSha256.size(), 64u);
        // Every request up to the record; the closing mode-off comes after it.
        EXPECT_EQ(o.requests, static_cast<int>(frames_.size()) - (hasMode ? 1 : 0));
    }
}

TEST_F(SequenceTest, SoundsUseTheSchemeFixedAtStartAndStopWhenTurnedOff) {
    const Names all{scheme("once", "start"), scheme("loop", "erase"), scheme("loop", "loop"),
                    scheme("end", "done")};
    struct Case {
        std::string atStart, midJob;
        Names expected;
    };
    for (const Case& c : {Case{"Classic", "Chimes", all}, Case{"Classic", "", {all[0], all[3]}},
                          Case{"", "", {"end /done.wav"}}}) {
        SCOPED_TRACE(c.atStart + " then " + c.midJob);
        rw::setSoundScheme(c.atStart);
        prepare(0, 200);
        onEvent_ = [&c](const std::string& e) {
            if (e.starts_with("crc")) rw::setSoundScheme(c.midJob);
        };
        EXPECT_EQ(run(), 0u);
        EXPECT_EQ(sounds_, c.expected);
    }
}

TEST_F(SequenceTest, EachFailingStepEndsTheJobWithItsLineThenModeOff) {
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
        {"EmptyImage", 0, nullptr, kComplete, rw::CMD_FLASH_VERIFY, "APP.HEX", ":00000001FF\r\n"},
        {"FlashInitSilent", 0, silent(is(rw::CMD_FLASH_INIT)), "COM3 FLASH INITIALIZE ERROR",
         rw::CMD_FLASH_INIT, nullptr},
        {"FlashInitRefused", 1, refuse(rw::CMD_FLASH_INIT), "COM3 FLASH INITIALIZE ERROR",
         rw::CMD_FLASH_INIT, nullptr},
        {"CrcByteWriteFails", 0, silent(isCrcByteWrite), "CRC CHECKSUM ERROR", rw::CMD_FLASH_WRITE,
         nullptr},
        {"CrcConfirmRefused", 1, refuse(rw::CMD_FLASH_VERIFY), "CRC CHECKSUM ERROR",
         rw::CMD_FLASH_VERIFY, nullptr},
        {"WrongExtension", 0, nullptr, "HEX FILE ERROR", 0, "app.hx", good},
        {"DotInFolderOnly", 0, nullptr, "HEX FILE ERROR", 0, "v1.hex/app"},
        {"Missing", 0, nullptr, "HEX2BIN ERROR", 0, "missing.hex"},
        {"BadChecksum", 3, nullptr, "HEX2BIN ERROR", 0, "bad.hex",
         ":0100000055AB\r\n:00000001FF\r\n"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const rw::DeviceModel& row = prepare(c.modelIndex, 100);
        policy_ = c.policy;
        if (c.fileName != nullptr) {
            if (!c.content.empty()) writeFile(dir_.path() / c.fileName, c.content);
            setImagePath(dir_.path() / c.fileName);
        }
        const unsigned failed = c.line == kComplete ? 0 : 1;
        EXPECT_EQ(run(), failed);
        EXPECT_EQ(job_->failed, failed);
        ASSERT_GE(events_.size(), 3u);
        EXPECT_EQ(events_.front(), "log FLASHING " + row.name + " @ 101...");
        EXPECT_EQ(events_[events_.size() - 2], "end " + c.line);
        EXPECT_EQ(std::ranges::count_if(events_, [](auto& e) { return e.starts_with("end"); }), 1);
        EXPECT_EQ(sounds_.back(), scheme("end", failed ? "fail" : "done"));
        ASSERT_EQ(outcomes_.size(), 1u);
        EXPECT_FALSE(outcomes_[0].stopped);
        EXPECT_EQ(outcomes_[0].imageCrc < 0, c.line.starts_with("HEX"));
        // Mode off ends every run; the 2-series model has no mode request to send.
        const std::vector<uint8_t> sent = commands();
        std::vector<uint8_t> end{rw::CMD_MODE};
        if (c.lastCommand != 0) end.insert(end.begin(), c.lastCommand);
        if (row.code == 0x5140) end.pop_back();
        ASSERT_GE(sent.size(), end.size());
        EXPECT_EQ(
            c.lastCommand == 0 ? sent : decltype(end)(sent.end() - long(end.size()), sent.end()),
            end);
        EXPECT_TRUE(frames_.empty() || frames_.back()[9] == 0);
    }
}

TEST_F(SequenceTest, LinkThatDidNotOpenEndsAtOnceWithItsName) {
    openError_ = rw::LINK_FAIL;
    for (int kind : {rw::LINK_SERIAL, rw::LINK_TCP}) {
        prepare(0, 10);
        linkKind_ = kind;
        EXPECT_EQ(run(), 1u);
        const std::string name = kind == rw::LINK_TCP ? "TCP 127.0.0.2:3" : "COM3";
        EXPECT_EQ(events_, (Names{"end " + name + " PORT INITIALIZE ERROR", "done 1"}));
        EXPECT_TRUE(frames_.empty());
        EXPECT_EQ(sounds_, Names{scheme("end", "fail")});
        ASSERT_EQ(outcomes_.size(), 1u);
        EXPECT_EQ(outcomes_[0].link, name);
    }
}

TEST_F(SequenceTest, BlockSilenceIsReportedOnlyBeyondTheEraseWaitThenRecovers) {
    // Each silent try costs 3000 ms, a pass three tries. Two silent passes (18 s)
    // end within the 20 s erase wait, the third beyond it; after a success the
    // first silent pass is reported, with the block's address.
    slow_ = true;
    const std::string erasing = "ERASING FLASH MEMORY...", sent = "SENT  128 / 300  BYTES...";
    const Names quiet{scheme("once", "start"), scheme("loop", "erase"), scheme("loop", "loop"),
                      scheme("end", "done")};
    const Names again{quiet[0], quiet[1], quiet[2], scheme("once", "error"), scheme("loop", "loop"),
                      quiet[3]};
    struct Case {
        int modelIndex;
        uint32_t address;
        int passes;
        Names lines;  // from the second status line on
        Names sounds;
    };
    for (const Case& c :
         {Case{0, 0x2000, 2, {erasing, erasing, erasing, sent}, quiet},
          Case{0,
               0x2000,
               3,
               {erasing, erasing, erasing, "FLASH WRITE ERROR  (2000h)", sent},
               {quiet[0], quiet[1], scheme("once", "error"), quiet[2], quiet[3]}},
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
        const rw::DeviceModel& row = prepare(c.modelIndex, 300);
        policy_ = silentBlocks(c.address, c.passes);
        Names lines;
        onEvent_ = [&](const std::string& e) {
            if (e.starts_with("crc") || e.starts_with("log")) return;
            lines.push_back(e);
            EXPECT_EQ(job_->failed, e.find("ERROR") != std::string::npos) << e;
        };
        EXPECT_EQ(run(), 0u);
        ASSERT_GT(lines.size(), c.lines.size());
        EXPECT_EQ(Names(lines.begin(), lines.begin() + long(c.lines.size())), c.lines);
        EXPECT_EQ(sounds_, c.sounds);
        EXPECT_EQ(flash_, expectedFlash(row));
    }
}

TEST_F(SequenceTest, WithoutEraseWaitFastFailuresAreReportedOnceTheEraseSecondPassed) {
    // Failing tries return at once, so each pass is followed by the 50 ms pause in
    // 10 ms steps: the first 20 passes fall in the second of the flash initialise.
    prepare(1, 300);
    policy_ = silent(isBlockWrite);
    onEvent_ = [this](const std::string& e) {
        if (e == "FLASH WRITE ERROR  (1000h)") abortJob();
    };
    EXPECT_EQ(run(), 1u);
    ASSERT_EQ(events_.size(), 24u);  // FLASHING, the CRC, 21 lines, done
    EXPECT_EQ(std::ranges::count(events_, "log FLASHING KVTC/1-4255 @ 101..."), 1);
    EXPECT_EQ(std::ranges::count(events_, "FLASHING KVTC/1-4255 @ 101..."), 20);
    EXPECT_EQ(count(is(rw::CMD_FLASH_WRITE)), 21 * 3);
    EXPECT_EQ(clock_.sleeps(), std::vector<int64_t>(20 * 5, 10));
}

TEST_F(SequenceTest, OnlyFastFailedPassesPauseAndABlockIsRetriedWithoutLimit) {
    for (bool slow : {false, true}) {
        SCOPED_TRACE(slow);
        slow_ = slow;
        const rw::DeviceModel& row = prepare(1, 300);
        policy_ = silentBlocks(0x1080, 200);
        EXPECT_EQ(run(), 0u);
        EXPECT_EQ(count(is(rw::CMD_FLASH_WRITE)), 4 + 200 * 3);
        EXPECT_EQ(clock_.totalSleptMs(), slow ? 0 : 200 * 50);
        EXPECT_EQ(flash_, expectedFlash(row));
        EXPECT_EQ(outcomes_[0].retries, 200 * 2);  // a pass is one request of three tries
    }
}

TEST_F(SequenceTest, AbortEndsFailedUnlessTheCrcStepsHadBegun) {
    // Before the CRC steps an Abort ends the job at once (also a failing block's
    // back-off, and after the last block's success); once the CRC byte write has
    // begun, or just before the window sees the final line, the CRC steps decide.
    struct Case {
        const char* name;
        int modelIndex;
        Frame abortAt;  // null: at the final line
        Answer answer;  // to the frame that aborts
        bool confirmRefused;
        int blockWrites;
        std::string line;  // empty: no final line
    };
    const std::vector<Case> cases{
        {"FlashInit", 0, is(rw::CMD_FLASH_INIT), Answer::Accept, false, 0, ""},
        {"FirstBlock", 0, isBlockWrite, Answer::Accept, false, 1, ""},
        {"FailingBlock", 1, isBlockWrite, Answer::Silent, false, 3, ""},
        {"LastBlock", 2,
         [](const Bytes& f) { return isBlockWrite(f) && writeAddress(f) == 0x2100; },
         Answer::Accept, false, 3, ""},
        {"CrcByte", 0, isCrcByteWrite, Answer::Accept, false, 3, kComplete},
        {"Confirm", 0, is(rw::CMD_FLASH_VERIFY), Answer::Accept, false, 3, kComplete},
        {"CrcByteConfirmRefused", 0, isCrcByteWrite, Answer::Accept, true, 3, "CRC CHECKSUM ERROR"},
        {"FinalLine", 0, nullptr, Answer::Accept, false, 3, kComplete},
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
        onEvent_ = [&c, this](const std::string& e) {
            // A block that succeeds at the moment of Abort keeps the Abort's failure.
            EXPECT_TRUE(job_->running || e.starts_with("end") || job_->failed) << e;
            if (!c.abortAt && e.starts_with("end")) abortJob();
        };
        const int failed = c.line.empty() || c.confirmRefused ? 1 : 0;
        EXPECT_EQ(run(), static_cast<unsigned>(failed));
        EXPECT_EQ(job_->failed, failed);
        EXPECT_EQ(events_.back(), "done " + std::to_string(failed));
        EXPECT_EQ(events_[events_.size() - 2] == "end " + c.line, !c.line.empty());
        EXPECT_EQ(sounds_.back(), scheme("end", failed ? "fail" : "done"));
        EXPECT_EQ(count(isBlockWrite), c.blockWrites);
        EXPECT_EQ(count(isCrcByteWrite), c.line.empty() ? 0 : 1);
        EXPECT_EQ(frames_.back()[5], rw::CMD_MODE);
        // One record, before the final line or, without one, before the completion.
        ASSERT_EQ(outcomes_.size(), 1u);
        const rw::JobOutcome& o = outcomes_[0];
        EXPECT_EQ(std::tie(o.programmed, o.stopped, o.status),
                  std::make_tuple(failed == 0, c.abortAt != nullptr, c.line));
        EXPECT_EQ(eventsAtRecord_, events_.size() - (c.line.empty() ? 1 : 2));
        EXPECT_EQ(std::ranges::count(clock_.sleeps(), 10), 0);  // no back-off step
    }
}

}  // namespace
}  // namespace rwtest
