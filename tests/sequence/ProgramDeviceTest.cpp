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
#include "fakes/FakeLink.h"
#include "fakes/RecordingNotifier.h"
#include "fakes/RecordingSoundPlayer.h"
#include "fakes/ReplyBuilder.h"
#include "fakes/TestEnv.h"
#include "sequence/SequenceSupport.h"

namespace rwtest {
namespace {

using Kind = RecordedNotification::Kind;
using Sound = RecordedSound::Kind;

constexpr int kAddress = 101;

// Hands the run a link that forwards to a FakeLink the test keeps, so the
// frames can be inspected after the run has deleted its link.
class LinkHandle : public rw::Transport {
  public:
    explicit LinkHandle(FakeLink& link) : link_(link) {}
    int setBaudRate(uint32_t rate) override { return link_.setBaudRate(rate); }
    const char* linkName() override { return link_.linkName(); }
    int lastError() override { return link_.lastError(); }
    int purgeInput() override { return link_.purgeInput(); }
    int purgeOutput() override { return link_.purgeOutput(); }
    uint32_t commErrors() override { return link_.commErrors(); }
    int32_t outputPending() override { return link_.outputPending(); }
    int32_t inputAvailable() override { return link_.inputAvailable(); }
    int32_t readWithTimeout(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) override {
        return link_.readWithTimeout(buffer, capacity, timeoutMs);
    }
    uint32_t read(uint8_t* buffer, uint32_t capacity) override {
        return link_.read(buffer, capacity);
    }
    uint32_t write(const uint8_t* data, uint32_t length) override {
        return link_.write(data, length);
    }

  private:
    FakeLink& link_;
};

enum class Answer { Accept, Silent, Refuse };

uint32_t writeAddress(const Bytes& frame) {
    return (uint32_t{frame[7]} << 16) | (uint32_t{frame[8]} << 8) | frame[9];
}

// A device that answers through a policy and keeps the flash it was sent.
struct TestDevice {
    // Decides how to answer one frame; the default accepts everything.
    std::function<Answer(const Bytes& frame)> policy;
    Flash flash;

    Responder responder() {
        return [this](const Bytes& frame) -> ReplyPieces {
            Answer answer = policy ? policy(frame) : Answer::Accept;
            if (answer == Answer::Silent) return {};
            if (answer == Answer::Accept && frame[5] == rw::CMD_FLASH_WRITE) store(frame);
            ReplyOptions options;
            options.status = answer == Answer::Refuse ? 1 : 0;
            return {buildReply(frame, options)};
        };
    }

    void store(const Bytes& frame) {
        uint32_t address = writeAddress(frame);
        size_t count = (size_t{frame[10]} << 8) | frame[11];
        for (size_t i = 0; i < count; ++i)
            flash[address + static_cast<uint32_t>(i)] = frame[12 + i];
    }
};

bool isBlockWrite(const Bytes& frame) {
    return frame[5] == rw::CMD_FLASH_WRITE && frame[11] != 1;
}

class ProgramDeviceTest : public ::testing::Test {
  protected:
    ProgramDeviceTest() : clockScope_(clock_), models_(rw::buildModelTable()) {
        rw::setDataFolder(dir_.str());
        rw::setSoundScheme("Classic");
        link_.setResponder(device_.responder());
        services_.sound = &sounds_;
        services_.makeLink = [this](rw::FlashJob&) -> std::unique_ptr<rw::Transport> {
            return std::make_unique<LinkHandle>(link_);
        };
    }
    ~ProgramDeviceTest() override { rw::setSoundScheme(""); }

    const rw::DeviceModel& model(int index) { return *models_[static_cast<size_t>(index)]; }

    // Writes the image as a HEX file for the model and fills the job as Go does.
    void prepare(int modelIndex, const std::vector<uint8_t>& image,
                 const char* fileName = "app.hex") {
        const rw::DeviceModel& row = model(modelIndex);
        image_ = image;
        std::string path =
            writeFile(dir_.path() / fileName, intelHex(row.flashStart, image)).string();
        job_.imageLength = 0;
        job_.bytesWritten = 0;
        job_.window = &notifier_;
        job_.running = 1;
        job_.failed = 0;
        job_.linkKind = rw::LINK_SERIAL;
        job_.baudRate = 38400;
        job_.deviceAddress = kAddress;
        job_.model = &row;
        job_.port = 1;
        std::snprintf(job_.imagePath, sizeof job_.imagePath, "%s", path.c_str());
    }

    unsigned run() { return rw::ProgramDeviceThread(job_, services_); }

    std::vector<Bytes> framesWithCommand(uint8_t command) const {
        std::vector<Bytes> frames;
        for (const Bytes& frame : link_.writes()) {
            if (frame[5] == command) frames.push_back(frame);
        }
        return frames;
    }
    std::vector<uint8_t> commands() const {
        std::vector<uint8_t> list;
        for (const Bytes& frame : link_.writes()) list.push_back(frame[5]);
        return list;
    }
    // Window's Abort: clears running and marks the job failed.
    void abortJob() {
        job_.running = 0;
        job_.failed = 1;
    }
    void abortWhenStatus(const std::string& text) {
        notifier_.setSendHook([this, text](const RecordedNotification& record, rw::FlashJob&) {
            if (record.statusText == text) abortJob();
        });
    }
    void expectEndedFailedWithoutLine() {
        EXPECT_EQ(job_.failed.load(), 1);
        EXPECT_TRUE(notifier_.finalLines().empty());
        EXPECT_EQ(notifier_.records().back(), (RecordedNotification{Kind::Done, 1, 0, {}}));
        EXPECT_EQ(sounds_.fileNames().back(), "fail.wav");
    }

    FakeClock clock_{1'000'000};
    ScopedEngineClock clockScope_;
    rw::ModelTable models_;
    TempDir dir_;
    FakeLink link_;
    TestDevice device_;
    RecordingNotifier notifier_;
    RecordingSoundPlayer sounds_;
    rw::WorkerServices services_;
    rw::FlashJob job_{};
    std::vector<uint8_t> image_;
};

// ---- Complete runs, every model ----------------------------------------------

class CompleteRunTest : public ProgramDeviceTest, public ::testing::WithParamInterface<int> {};

TEST_P(CompleteRunTest, StatusLinesCrcFramesAndFlash) {
    const rw::DeviceModel& row = model(GetParam());
    prepare(GetParam(), patternImage(300));

    EXPECT_EQ(run(), 0u);

    std::vector<RecordedNotification> expected{
        {Kind::Status, 0, 1, "FLASHING " + row.name + " @ 101..."},
        {Kind::Crc, expectedCrc(row, image_), 0, {}},
    };
    if (row.eraseWaitSeconds != 0)
        expected.push_back({Kind::Status, 0, 0, "ERASING FLASH MEMORY..."});
    for (int sent : {128, 256, 300}) {
        expected.push_back(
            {Kind::Status, 0, 0, "SENT  " + std::to_string(sent) + " / 300  BYTES..."});
    }
    expected.push_back({Kind::Status, 1, 1, "*** FLASH PROGRAMMING COMPLETE ***"});
    expected.push_back({Kind::Done, 0, 0, {}});
    EXPECT_EQ(notifier_.records(), expected);
    EXPECT_EQ(job_.failed.load(), 0);
    EXPECT_EQ(job_.running.load(), 0);
    EXPECT_EQ(job_.image, nullptr);
    EXPECT_EQ(device_.flash, expectedFlash(row, image_));
    EXPECT_EQ(link_.baudRates(), std::vector<uint32_t>{38400});

    bool hasMode = row.code == 0x4400 || row.code == 0x3000 || row.code == 0x4255;
    std::vector<uint8_t> expectedCommands{
        rw::CMD_MODE,        rw::CMD_PERMISSION,   rw::CMD_FLASH_INIT,
        rw::CMD_FLASH_WRITE, rw::CMD_FLASH_WRITE,  rw::CMD_FLASH_WRITE,
        rw::CMD_FLASH_WRITE, rw::CMD_FLASH_VERIFY, rw::CMD_MODE};
    if (!hasMode) expectedCommands = {expectedCommands.begin() + 1, expectedCommands.end() - 1};
    EXPECT_EQ(commands(), expectedCommands);
    if (hasMode) {
        EXPECT_EQ(framesWithCommand(rw::CMD_MODE).front()[9], 1);
        EXPECT_EQ(framesWithCommand(rw::CMD_MODE).back()[9], 0);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryModel, CompleteRunTest, ::testing::Range(0, 5));

TEST_F(ProgramDeviceTest, SoundsFollowTheTableWithTheSchemeFolderFixedAtStart) {
    prepare(0, patternImage(200));
    // A scheme chosen while the job runs does not move its sounds.
    notifier_.setSendHook([](const RecordedNotification& record, rw::FlashJob&) {
        if (record.kind == Kind::Crc) rw::setSoundScheme("Chimes");
    });
    run();
    std::string folder = dir_.str() + "/Sounds/Classic/";
    std::vector<RecordedSound> expected{{Sound::Once, folder + "start.wav"},
                                        {Sound::Looping, folder + "erase.wav"},
                                        {Sound::Looping, folder + "loop.wav"},
                                        {Sound::End, folder + "done.wav"}};
    EXPECT_EQ(sounds_.calls(), expected);
}

TEST_F(ProgramDeviceTest, SoundsOffLeavesOnlyTheEndSound) {
    rw::setSoundScheme("");
    prepare(0, patternImage(200));
    run();
    std::vector<RecordedSound> expected{{Sound::End, dir_.str() + "/Sounds//done.wav"}};
    EXPECT_EQ(sounds_.calls(), expected);
}

TEST_F(ProgramDeviceTest, TurningSoundsOffMidJobSilencesTheRemainingSchemeSounds) {
    prepare(0, patternImage(200));
    notifier_.setSendHook([](const RecordedNotification& record, rw::FlashJob&) {
        if (record.kind == Kind::Crc) rw::setSoundScheme("");
    });
    run();
    EXPECT_EQ(sounds_.fileNames(), (std::vector<std::string>{"start.wav", "done.wav"}));
}

TEST_F(ProgramDeviceTest, WithoutPlayerOrWindowTheJobStillRuns) {
    prepare(1, patternImage(10));
    services_.sound = nullptr;
    job_.window = nullptr;
    EXPECT_EQ(run(), 0u);
    EXPECT_EQ(device_.flash, expectedFlash(model(1), image_));
}

TEST_F(ProgramDeviceTest, ZeroLengthImageWritesOnlyTheCrcAndCompletes) {
    prepare(0, {});
    EXPECT_EQ(run(), 0u);
    EXPECT_TRUE(framesWithCommand(rw::CMD_FLASH_WRITE).size() == 1);  // the CRC byte only
    EXPECT_EQ(notifier_.statusLines(),
              (std::vector<std::string>{"FLASHING KVTC/1-4400 @ 101...", "ERASING FLASH MEMORY...",
                                        "*** FLASH PROGRAMMING COMPLETE ***"}));
    EXPECT_EQ(device_.flash, expectedFlash(model(0), {}));
}

TEST_F(ProgramDeviceTest, AutoExitPostsQuitWithTheFailedFlagAfterDone) {
    for (bool refuse : {false, true}) {
        SCOPED_TRACE(refuse);
        RecordingNotifier notifier;
        prepare(1, patternImage(10));
        job_.window = &notifier;
        job_.autoExit = 1;
        device_.policy = [refuse](const Bytes& frame) {
            return refuse && frame[5] == rw::CMD_PERMISSION ? Answer::Refuse : Answer::Accept;
        };
        unsigned failed = run();
        EXPECT_EQ(failed, refuse ? 1u : 0u);
        std::vector<RecordedNotification> records = notifier.records();
        ASSERT_GE(records.size(), 2u);
        int code = refuse ? 1 : 0;
        EXPECT_EQ(records[records.size() - 2], (RecordedNotification{Kind::Done, code, 0, {}}));
        EXPECT_EQ(records.back(), (RecordedNotification{Kind::Quit, code, 0, {}}));
    }
}

// ---- Failures that end the job with a final line ------------------------------

struct FinalLineCase {
    const char* name;
    int modelIndex;
    std::function<Answer(const Bytes&)> policy;
    const char* finalLine;
};

class FinalLineTest : public ProgramDeviceTest,
                      public ::testing::WithParamInterface<FinalLineCase> {};

TEST_P(FinalLineTest, EndsFailedWithTheLineThenModeOff) {
    const FinalLineCase& c = GetParam();
    prepare(c.modelIndex, patternImage(100));
    device_.policy = c.policy;
    EXPECT_EQ(run(), 1u);
    EXPECT_EQ(job_.failed.load(), 1);
    std::vector<RecordedNotification> records = notifier_.records();
    ASSERT_GE(records.size(), 2u);
    EXPECT_EQ(records[records.size() - 2], (RecordedNotification{Kind::Status, 1, 1, c.finalLine}));
    EXPECT_EQ(notifier_.finalLines().size(), 1u);
    EXPECT_EQ(commands().back(), rw::CMD_MODE);
    EXPECT_EQ(link_.lastWrite()[9], 0);  // mode off
    EXPECT_EQ(sounds_.fileNames().back(), "fail.wav");
}

Answer refuse(const Bytes& frame, uint8_t command) {
    return frame[5] == command ? Answer::Refuse : Answer::Accept;
}
Answer silence(const Bytes& frame, uint8_t command) {
    return frame[5] == command ? Answer::Silent : Answer::Accept;
}
bool isCrcByteWrite(const Bytes& frame) {
    return frame[5] == rw::CMD_FLASH_WRITE && frame[11] == 1;
}

INSTANTIATE_TEST_SUITE_P(
    Failures, FinalLineTest,
    ::testing::Values(FinalLineCase{"PermissionRefused", 0,
                                    [](const Bytes& f) { return refuse(f, rw::CMD_PERMISSION); },
                                    "101: PERMISSION DENIED"},
                      FinalLineCase{"FlashInitSilent", 0,
                                    [](const Bytes& f) { return silence(f, rw::CMD_FLASH_INIT); },
                                    "COM1 FLASH INITIALIZE ERROR"},
                      FinalLineCase{"FlashInitRefused", 1,
                                    [](const Bytes& f) { return refuse(f, rw::CMD_FLASH_INIT); },
                                    "COM1 FLASH INITIALIZE ERROR"},
                      FinalLineCase{"CrcByteWriteFails", 0,
                                    [](const Bytes& f) {
                                        return isCrcByteWrite(f) ? Answer::Silent : Answer::Accept;
                                    },
                                    "CRC CHECKSUM ERROR"},
                      FinalLineCase{"CrcConfirmRefused", 1,
                                    [](const Bytes& f) { return refuse(f, rw::CMD_FLASH_VERIFY); },
                                    "CRC CHECKSUM ERROR"},
                      FinalLineCase{"CrcConfirmSilent", 0,
                                    [](const Bytes& f) { return silence(f, rw::CMD_FLASH_VERIFY); },
                                    "CRC CHECKSUM ERROR"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProgramDeviceTest, RefusedPermissionStopsBeforeFlashInit) {
    prepare(0, patternImage(100));
    device_.policy = [](const Bytes& f) { return refuse(f, rw::CMD_PERMISSION); };
    run();
    EXPECT_EQ(commands(), (std::vector<uint8_t>{rw::CMD_MODE, rw::CMD_PERMISSION, rw::CMD_MODE}));
}

TEST_F(ProgramDeviceTest, SilentPermissionDoesNotStopTheJob) {
    prepare(0, patternImage(100));
    device_.policy = [](const Bytes& f) { return silence(f, rw::CMD_PERMISSION); };
    EXPECT_EQ(run(), 0u);
    EXPECT_EQ(notifier_.finalLines(),
              std::vector<std::string>{"*** FLASH PROGRAMMING COMPLETE ***"});
}

TEST_F(ProgramDeviceTest, FailedCrcByteWriteSkipsTheConfirm) {
    prepare(0, patternImage(100));
    device_.policy = [](const Bytes& f) {
        return isCrcByteWrite(f) ? Answer::Silent : Answer::Accept;
    };
    run();
    EXPECT_TRUE(framesWithCommand(rw::CMD_FLASH_VERIFY).empty());
}

// ---- File errors: only the mode-off request reaches the device ---------------

struct FileErrorCase {
    const char* name;
    int modelIndex;
    const char* fileName;
    std::string content;  // empty: the file does not exist
    const char* finalLine;
};

class FileErrorTest : public ProgramDeviceTest,
                      public ::testing::WithParamInterface<FileErrorCase> {};

TEST_P(FileErrorTest, OnlyModeOffReachesTheDevice) {
    const FileErrorCase& c = GetParam();
    prepare(c.modelIndex, patternImage(100));
    std::filesystem::path path = dir_.path() / c.fileName;
    if (!c.content.empty()) writeFile(path, c.content);
    std::snprintf(job_.imagePath, sizeof job_.imagePath, "%s", path.string().c_str());

    EXPECT_EQ(run(), 1u);
    EXPECT_EQ(notifier_.records(),
              (std::vector<RecordedNotification>{
                  {Kind::Status, 0, 1, "FLASHING " + model(c.modelIndex).name + " @ 101..."},
                  {Kind::Status, 1, 1, c.finalLine},
                  {Kind::Done, 1, 0, {}}}));
    if (model(c.modelIndex).code == 0x5140) {
        EXPECT_TRUE(link_.writes().empty());
    } else {
        ASSERT_EQ(link_.writes().size(), 1u);
        EXPECT_EQ(commands(), std::vector<uint8_t>{rw::CMD_MODE});
        EXPECT_EQ(link_.lastWrite()[9], 0);
    }
    EXPECT_EQ(job_.image, nullptr);
}

const std::string kGoodHex = ":0100000055AA\r\n:00000001FF\r\n";

INSTANTIATE_TEST_SUITE_P(
    Files, FileErrorTest,
    ::testing::Values(FileErrorCase{"WrongExtension", 0, "app.hx", kGoodHex, "HEX FILE ERROR"},
                      FileErrorCase{"NoExtension", 0, "app", kGoodHex, "HEX FILE ERROR"},
                      FileErrorCase{"DotInFolderOnly", 0, "v1.hex/app", "", "HEX FILE ERROR"},
                      FileErrorCase{"Missing", 0, "missing.hex", "", "HEX2BIN ERROR"},
                      FileErrorCase{"BadChecksum", 3, "bad.hex", ":0100000055AB\r\n:00000001FF\r\n",
                                    "HEX2BIN ERROR"},
                      FileErrorCase{"Truncated", 2, "cut.HEX", ":10000000", "HEX2BIN ERROR"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProgramDeviceTest, CapitalHexExtensionPasses) {
    prepare(1, patternImage(20), "APP.HEX");
    EXPECT_EQ(run(), 0u);
}

// ---- The link ----------------------------------------------------------------

TEST_F(ProgramDeviceTest, LinkThatDidNotOpenEndsAtOnceWithItsName) {
    for (int kind : {rw::LINK_SERIAL, rw::LINK_TCP}) {
        FakeLink broken(kind, kind == rw::LINK_TCP ? 3001 : 3);
        broken.setOpenError(rw::LINK_FAIL);
        RecordingNotifier notifier;
        RecordingSoundPlayer sounds;
        prepare(0, patternImage(10));
        job_.window = &notifier;
        services_.sound = &sounds;
        services_.makeLink = [&broken](rw::FlashJob&) -> std::unique_ptr<rw::Transport> {
            return std::make_unique<LinkHandle>(broken);
        };
        EXPECT_EQ(run(), 1u);
        std::string name = kind == rw::LINK_TCP ? "TCP 127.0.0.2:3001" : "COM3";
        EXPECT_EQ(notifier.records(), (std::vector<RecordedNotification>{
                                          {Kind::Status, 1, 1, name + " PORT INITIALIZE ERROR"},
                                          {Kind::Done, 1, 0, {}}}));
        EXPECT_TRUE(broken.writes().empty());
        EXPECT_EQ(sounds.fileNames(), std::vector<std::string>{"fail.wav"});
    }
}

// ---- Block failures, erase wait and silentUntil --------------------------------

// Silent to the block writes at the given addresses, `passes` passes each (three
// tries per pass), then accepting.
std::function<Answer(const Bytes&)> silentBlocks(uint32_t address, int passes) {
    auto triesLeft = std::make_shared<int>(passes * 3);
    return [address, triesLeft](const Bytes& frame) {
        if (isBlockWrite(frame) && writeAddress(frame) == address && *triesLeft > 0) {
            --*triesLeft;
            return Answer::Silent;
        }
        return Answer::Accept;
    };
}

TEST_F(ProgramDeviceTest, SilenceWithinTheEraseWaitIsNotReported) {
    link_.setTimeoutClock(&clock_);  // each silent try costs its 3000 ms
    prepare(0, patternImage(300));
    device_.policy = silentBlocks(0x2000, 2);  // 18 s of silence, within 20 s
    EXPECT_EQ(run(), 0u);
    std::vector<std::string> lines = notifier_.statusLines();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.begin() + 5),
              (std::vector<std::string>{"ERASING FLASH MEMORY...", "ERASING FLASH MEMORY...",
                                        "ERASING FLASH MEMORY...", "SENT  128 / 300  BYTES..."}));
    for (const RecordedNotification& record : notifier_.records()) {
        EXPECT_EQ(record.statusText.find("ERROR"), std::string::npos);
    }
    EXPECT_EQ(sounds_.fileNames(),
              (std::vector<std::string>{"start.wav", "erase.wav", "loop.wav", "done.wav"}));
}

TEST_F(ProgramDeviceTest, SilenceBeyondTheEraseWaitIsReportedThenRecovers) {
    link_.setTimeoutClock(&clock_);
    prepare(0, patternImage(300));
    device_.policy = silentBlocks(0x2000, 3);  // the third pass ends 27 s after the erase
    std::vector<uint8_t> failedAtEachStatus;
    notifier_.setSendHook([&](const RecordedNotification& record, rw::FlashJob& job) {
        if (record.kind == Kind::Status) failedAtEachStatus.push_back(job.failed);
    });
    EXPECT_EQ(run(), 0u);

    std::vector<std::string> lines = notifier_.statusLines();
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.begin() + 6),
              (std::vector<std::string>{"ERASING FLASH MEMORY...", "ERASING FLASH MEMORY...",
                                        "ERASING FLASH MEMORY...", "FLASH WRITE ERROR  (2000h)",
                                        "SENT  128 / 300  BYTES..."}));
    EXPECT_EQ(std::vector<uint8_t>(failedAtEachStatus.begin() + 3, failedAtEachStatus.begin() + 6),
              (std::vector<uint8_t>{0, 1, 0}));
    EXPECT_EQ(sounds_.calls()[2],
              (RecordedSound{Sound::Once, dir_.str() + "/Sounds/Classic/error.wav"}));
    EXPECT_EQ(sounds_.fileNames(), (std::vector<std::string>{"start.wav", "erase.wav", "error.wav",
                                                             "loop.wav", "done.wav"}));
    EXPECT_EQ(device_.flash, expectedFlash(model(0), image_));
}

TEST_F(ProgramDeviceTest, FailureAfterASuccessNamesTheBlockAddress) {
    struct Case {
        int modelIndex;
        uint32_t blockAddress;
        const char* line;
    };
    for (const Case& c : {Case{0, 0x2080, "FLASH WRITE ERROR  (2080h)"},
                          Case{3, 0xFD0080, "FLASH WRITE ERROR  (fd0080h)"}}) {
        SCOPED_TRACE(c.line);
        RecordingNotifier notifier;
        RecordingSoundPlayer sounds;
        link_.setTimeoutClock(&clock_);
        prepare(c.modelIndex, patternImage(300));
        job_.window = &notifier;
        services_.sound = &sounds;
        device_.flash.clear();
        device_.policy = silentBlocks(c.blockAddress, 1);
        EXPECT_EQ(run(), 0u);
        std::vector<std::string> lines = notifier.statusLines();
        auto sent = std::find(lines.begin(), lines.end(), "SENT  128 / 300  BYTES...");
        ASSERT_NE(sent, lines.end());
        EXPECT_EQ(*(sent + 1), c.line);
        EXPECT_EQ(*(sent + 2), "SENT  256 / 300  BYTES...");
        // The recovery restarts the looping sound.
        EXPECT_EQ(sounds.fileNames(),
                  (std::vector<std::string>{"start.wav", "erase.wav", "loop.wav", "error.wav",
                                            "loop.wav", "done.wav"}));
    }
}

TEST_F(ProgramDeviceTest, NoEraseWaitReportsOnceTheSecondOfTheEraseHasPassed) {
    // Failing tries return at once, so every pass is followed by the 50 ms pause:
    // the first 20 passes fall in the second of the flash initialise (1000 s).
    prepare(1, patternImage(300));
    device_.policy = [](const Bytes& frame) {
        return isBlockWrite(frame) ? Answer::Silent : Answer::Accept;
    };
    abortWhenStatus("FLASH WRITE ERROR  (1000h)");
    EXPECT_EQ(run(), 1u);

    std::vector<std::string> lines = notifier_.statusLines();
    ASSERT_EQ(lines.size(), 22u);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "FLASHING KVTC/1-4255 @ 101..."), 21);
    EXPECT_EQ(lines.back(), "FLASH WRITE ERROR  (1000h)");
    EXPECT_EQ(framesWithCommand(rw::CMD_FLASH_WRITE).size(), 21u * 3);
    EXPECT_EQ(clock_.sleeps(), std::vector<int64_t>(20 * 5, 10));
    expectEndedFailedWithoutLine();
}

TEST_F(ProgramDeviceTest, SlowFailedPassesAreNotFollowedByAPause) {
    link_.setTimeoutClock(&clock_);
    prepare(1, patternImage(300));
    device_.policy = silentBlocks(0x1000, 4);
    EXPECT_EQ(run(), 0u);
    EXPECT_EQ(clock_.totalSleptMs(), 0);
}

TEST_F(ProgramDeviceTest, FailedPassesRetryTheSameBlockWithoutLimit) {
    prepare(1, patternImage(300));
    device_.policy = silentBlocks(0x1080, 200);
    EXPECT_EQ(run(), 0u);
    EXPECT_EQ(framesWithCommand(rw::CMD_FLASH_WRITE).size(), 4u + 200 * 3);
    EXPECT_EQ(clock_.totalSleptMs(), 200 * 50);
    EXPECT_EQ(device_.flash, expectedFlash(model(1), image_));
}

// ---- Abort -----------------------------------------------------------------

TEST_F(ProgramDeviceTest, AbortBeforeTheFirstBlockSendsNoBlock) {
    prepare(0, patternImage(300));
    abortWhenStatus("FLASHING KVTC/1-4400 @ 101...");
    EXPECT_EQ(run(), 1u);
    EXPECT_EQ(framesWithCommand(rw::CMD_FLASH_WRITE).size(), 0u);
    EXPECT_EQ(commands().back(), rw::CMD_MODE);
    expectEndedFailedWithoutLine();
}

TEST_F(ProgramDeviceTest, AbortBetweenBlocksStopsBeforeTheNextBlock) {
    prepare(0, patternImage(300));
    abortWhenStatus("SENT  128 / 300  BYTES...");
    EXPECT_EQ(run(), 1u);
    EXPECT_EQ(framesWithCommand(rw::CMD_FLASH_WRITE).size(), 1u);
    EXPECT_EQ(job_.bytesWritten, 128);
    EXPECT_EQ(link_.lastWrite()[5], rw::CMD_MODE);
    expectEndedFailedWithoutLine();
}

TEST_F(ProgramDeviceTest, AbortDuringAFailingBlockEndsTheBackOffAtOnce) {
    prepare(1, patternImage(300));
    device_.policy = [this](const Bytes& frame) {
        if (!isBlockWrite(frame)) return Answer::Accept;
        abortJob();
        return Answer::Silent;
    };
    EXPECT_EQ(run(), 1u);
    EXPECT_EQ(clock_.totalSleptMs(), 0);
    expectEndedFailedWithoutLine();
}

TEST_F(ProgramDeviceTest, AbortDuringTheLastBlockAlwaysEndsFailed) {
    prepare(2, patternImage(300));
    device_.policy = [this](const Bytes& frame) {
        if (isBlockWrite(frame) && writeAddress(frame) == 0x2100) abortJob();
        return Answer::Accept;
    };
    EXPECT_EQ(run(), 1u);
    EXPECT_EQ(job_.bytesWritten, 300);  // the block under way succeeded
    EXPECT_EQ(framesWithCommand(rw::CMD_FLASH_VERIFY).size(), 0u);
    std::vector<Bytes> writes = link_.writes();
    EXPECT_TRUE(std::none_of(writes.begin(), writes.end(), isCrcByteWrite));
    EXPECT_EQ(link_.lastWrite()[5], rw::CMD_MODE);
    expectEndedFailedWithoutLine();
}

TEST_F(ProgramDeviceTest, AbortJustBeforeTheWindowSeesTheFinalLineChangesNothing) {
    struct Case {
        const char* line;
        std::function<Answer(const Bytes&)> policy;
        int failed;
    };
    for (const Case& c :
         {Case{"*** FLASH PROGRAMMING COMPLETE ***", nullptr, 0},
          Case{"CRC CHECKSUM ERROR", [](const Bytes& f) { return refuse(f, rw::CMD_FLASH_VERIFY); },
               1}}) {
        SCOPED_TRACE(c.line);
        RecordingNotifier notifier;
        RecordingSoundPlayer sounds;
        prepare(0, patternImage(200));
        job_.window = &notifier;
        services_.sound = &sounds;
        device_.policy = c.policy;
        notifier.setSendHook([this](const RecordedNotification& record, rw::FlashJob&) {
            if (record.wParam == 1 && record.kind == Kind::Status) abortJob();
        });
        EXPECT_EQ(run(), static_cast<unsigned>(c.failed));
        EXPECT_EQ(notifier.records().back(), (RecordedNotification{Kind::Done, c.failed, 0, {}}));
        EXPECT_EQ(sounds.fileNames().back(), c.failed ? "fail.wav" : "done.wav");
    }
}

TEST_F(ProgramDeviceTest, AbortDuringTheCrcStepsLetsTheirResultStand) {
    struct Case {
        const char* name;
        std::function<bool(const Bytes&)> abortAt;
        bool confirmFails;
        unsigned failed;
        const char* line;
    };
    std::vector<Case> cases{
        {"CrcByteConfirmed", isCrcByteWrite, false, 0, "*** FLASH PROGRAMMING COMPLETE ***"},
        {"ConfirmAccepted", [](const Bytes& f) { return f[5] == rw::CMD_FLASH_VERIFY; }, false, 0,
         "*** FLASH PROGRAMMING COMPLETE ***"},
        {"ConfirmRefused", isCrcByteWrite, true, 1, "CRC CHECKSUM ERROR"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingNotifier notifier;
        prepare(0, patternImage(200));
        job_.window = &notifier;
        device_.policy = [&](const Bytes& frame) {
            if (c.abortAt(frame)) abortJob();
            return c.confirmFails && frame[5] == rw::CMD_FLASH_VERIFY ? Answer::Refuse
                                                                      : Answer::Accept;
        };
        EXPECT_EQ(run(), c.failed);
        EXPECT_EQ(job_.failed.load(), c.failed);
        EXPECT_EQ(notifier.finalLines(), std::vector<std::string>{c.line});
        EXPECT_EQ(notifier.records().back(),
                  (RecordedNotification{Kind::Done, static_cast<int>(c.failed), 0, {}}));
    }
}

}  // namespace
}  // namespace rwtest
