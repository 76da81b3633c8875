// Whole runs of the programming sequence: the status lines, CRC, frames and
// flash of complete jobs for every model, the sounds, and each failing step.
#include "ProgramDeviceFixture.h"

namespace rwtest {
namespace {

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
    // The record went out before the final line reached the window.
    ASSERT_EQ(recorder_.outcomes.size(), 1u);
    EXPECT_EQ(recorder_.notificationsBefore[0], expected.size() - 2);
    const rw::JobOutcome& o = recorder_.outcomes[0];
    EXPECT_TRUE(o.programmed);
    EXPECT_FALSE(o.stopped);
    EXPECT_EQ(o.status, kComplete);
    EXPECT_EQ(std::make_tuple(o.model, o.address, o.link, o.device, o.baudRate),
              std::make_tuple(row.name, 101, std::string("COM1"), std::string("/dev/ttyS0"), 0));
    EXPECT_EQ(std::make_tuple(o.imageLength, o.bytesWritten, o.imageCrc),
              std::make_tuple(300, 300, int{expectedCrc(row, image_)}));
    EXPECT_EQ(o.fileSha256.size(), 64u);
    // Every request up to the record; the closing mode-off comes after it.
    EXPECT_EQ(o.requests, static_cast<int>(frames_.size()) - (frames_.back()[5] == rw::CMD_MODE));
    EXPECT_EQ(o.retries, 0);
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

}  // namespace
}  // namespace rwtest
