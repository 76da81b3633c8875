// Whole runs of the programming sequence, started by Go: every model's steps,
// statuses, flash, sounds and production record, how each failing step and
// each stop ends a job, failing blocks within and beyond the erase wait, and the
// job runner that runs the sequence on its own thread.
#include <thread>

#include "../control/JobBench.h"
#include "engine/JobRunner.h"

namespace rwtest {
namespace {

const std::string kStart = "once Classic/start.wav", kErase = "loop Classic/erase.wav",
                  kLoop = "loop Classic/loop.wav", kError = "once Classic/error.wav",
                  kDone = "end Classic/done.wav", kFail = "end Classic/fail.wav",
                  kGoodHex = ":0100000055AA\r\n:00000001FF\r\n";

TEST(Sequence, EveryModelIsProgrammedStepByStepAndRecordedBeforeItsFinalLine) {
    for (int index = 0; index < 5; ++index) {
        JobBench t;
        const rw::DeviceModel& row = t.prepare(index, 300);
        SCOPED_TRACE(row.name);
        // The sounds keep the scheme of the start; turned off, they stop (not the end sound).
        t.onEvent = [index](const std::string& e) {
            if (e.starts_with("CRC8")) rw::setSoundScheme(index % 2 ? "" : "Chimes");
        };
        rw::pendingQueue() = {5};  // a list of one: its record says so
        t.controller.listConfirmed();
        t.settle();
        EXPECT_EQ(t.exitCode, 0u);
        const int crc = expectedCrc(row, t.image);
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", crc);
        Names expected{"log FLASHING " + row.name + " @ 5...",
                       "CRC8 = " + std::string(hex) + " hex"};
        if (row.eraseWaitSeconds != 0) expected.push_back("ERASING FLASH MEMORY...");
        for (const char* sent : {"128", "256", "300"})
            expected.push_back("SENT  " + std::string(sent) + " / 300  BYTES...");
        expected.insert(expected.end(), {"end " + kComplete, "done 0"});
        EXPECT_EQ(t.events, expected);
        EXPECT_EQ(t.sounds,
                  (index % 2 ? Names{kStart, kDone} : Names{kStart, kErase, kLoop, kDone}));
        // The 2-series models get no mode request; the others are switched in and out.
        const bool hasMode = row.code >> 12 != 5;
        EXPECT_EQ(t.steps(), hasMode ? "MPIWWWCVm" : "PIWWWCV");
        // The device holds the image and, in its region's last byte, the CRC.
        std::map<uint32_t, uint8_t> held{{static_cast<uint32_t>(row.crcAddress()), uint8_t(crc)}};
        for (size_t i = 0; i < t.image.size(); ++i)
            held[uint32_t(row.flashStart) + uint32_t(i)] = t.image[i];
        EXPECT_EQ(t.flash, held);
        EXPECT_EQ(t.linkRate, 19200u) << "the job's rate reaches the link";
        EXPECT_TRUE(t.job.running == 0 && t.job.image == nullptr) << "the job let go of its image";
        EXPECT_EQ(t.eventsAtRecord, expected.size() - 2) << "recorded before its final line";
        // What the record says of the job.
        const auto r = t.records().at(0);
        EXPECT_EQ(std::tie(r["model"], r["device"], r["baud"], r["imageCrc"], r["file"]),
                  std::make_tuple(row.name, "/dev/ttyUSB3", 19200, hex,
                                  (t.dir.path() / "app.hex").string()));
        EXPECT_EQ(std::make_tuple(r["requests"], r["bytesWritten"], r["result"], r["queue"].dump(),
                                  std::string(r["fileSha256"]).size()),
                  std::make_tuple(t.frames.size() - hasMode, 300, "programmed",
                                  R"({"position":1,"length":1})", 64u))
            << "every request up to the record; the closing mode-off comes after it";
    }
}

// Each failing step ends the job with its line and mode off. A stop (Abort,
// the stall limit, closing the window) ends it failed without a line before the
// CRC steps (also in a failing block's back-off and after the last block's
// success); once the CRC byte write has begun, or when the window's Abort
// reaches the record just before it sees the final line, the CRC steps decide.
TEST(Sequence, EachRunEndsWithItsLineItsStepsAndItsRecord) {
    const Frame lastBlock = [](const Bytes& f) {
        return isBlockWrite(f) && writeAddress(f) == 0x2100;
    };
    const Policy confirmRefused = answer(is(rw::CMD_FLASH_VERIFY), Answer::Refuse);
    const std::string crcError = "CRC CHECKSUM ERROR";
    const struct {
        int model;
        Policy answers;
        Frame stopAt;
        char stop;  // at that frame: a Abort, s the stall limit, c close; e Abort at the final line
        std::string steps, line;     // line: empty when the job ends without one
        const char* file = nullptr;  // the HEX file instead of the image, and its content
        std::string content = kGoodHex;
    } cases[] = {
        {0, answer(is(rw::CMD_PERMISSION), Answer::Refuse), nullptr, 0, "MPm",
         "5: PERMISSION DENIED"},
        // A permission request that gets no answer does not stop the job.
        {0, answer(is(rw::CMD_PERMISSION), Answer::Silent), nullptr, 0, "MPIWWWCVm", kComplete},
        {0, nullptr, nullptr, 0, "MPICVm", kComplete, "APP.HEX", ":00000001FF\r\n"},
        {0, answer(is(rw::CMD_FLASH_INIT), Answer::Silent), nullptr, 0, "MPIIIm",
         "COM3 FLASH INITIALIZE ERROR"},
        {1, answer(is(rw::CMD_FLASH_INIT), Answer::Refuse), nullptr, 0, "MPIIIm",
         "COM3 FLASH INITIALIZE ERROR"},
        {0, answer(isCrcByteWrite, Answer::Silent), nullptr, 0, "MPIWWWCCCm", crcError},
        {1, confirmRefused, nullptr, 0, "MPIWWWCVVVm", crcError},
        {0, nullptr, nullptr, 0, "m", "HEX FILE ERROR", "app.hx"},
        {0, nullptr, nullptr, 0, "m", "HEX FILE ERROR", "v1.hex/app"},
        {3, nullptr, nullptr, 0, "", "HEX2BIN ERROR", "bad.hex",
         ":0100000055AB\r\n:00000001FF\r\n"},
        {0, nullptr, is(rw::CMD_FLASH_INIT), 'a', "MPIm", ""},
        {1, nullptr, is(rw::CMD_FLASH_INIT), 'c', "MPIm", ""},
        {0, nullptr, isBlockWrite, 'a', "MPIWm", ""},
        {0, nullptr, isBlockWrite, 's', "MPIWm", ""},
        {1, answer(isBlockWrite, Answer::Silent), isBlockWrite, 'a', "MPIWWWm", ""},
        {2, nullptr, lastBlock, 'a', "MPIWWWm", ""},
        {0, nullptr, isCrcByteWrite, 'a', "MPIWWWCVm", kComplete},
        {0, confirmRefused, isCrcByteWrite, 'a', "MPIWWWCVVVm", crcError},
        {0, nullptr, nullptr, 'e', "MPIWWWCVm", kComplete},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.steps + " " + c.stop + " " + c.line);
        JobBench t;
        t.prepare(c.model, 300);
        t.policy = [&c](JobBench& b, const Bytes& f) {
            if (c.stopAt && c.stopAt(f) && c.stop == 'a') b.controller.abort();
            if (c.stopAt && c.stopAt(f) && c.stop == 's') b.controller.abortForStall(60);
            if (c.stopAt && c.stopAt(f) && c.stop == 'c') b.controller.close();
            return c.answers ? c.answers(b, f) : Answer::Accept;
        };
        if (c.file) t.form.imageFile = writeFile(t.dir.path() / c.file, c.content);
        t.onEvent = [&c, &t](const std::string& e) {
            // A block that succeeds at the moment of Abort keeps the Abort's failure.
            EXPECT_TRUE(t.job.running || e.starts_with("end") || t.job.failed) << e;
            if (c.stop == 'e' && e.starts_with("end")) t.job.running = 0, t.job.failed = 1;
        };
        const unsigned failed = c.line == kComplete ? 0 : 1;
        EXPECT_EQ(t.run(), failed);
        EXPECT_EQ(t.job.failed, failed);
        EXPECT_EQ(t.steps(), c.steps);
        Names tail{"done " + std::to_string(failed)};
        if (!c.line.empty()) tail.insert(tail.begin(), "end " + c.line);
        EXPECT_EQ(Names(t.events.end() - long(tail.size()), t.events.end()), tail);
        EXPECT_EQ(std::ranges::count_if(t.events, [](auto& e) { return e.starts_with("end"); }),
                  tail.size() - 1);
        EXPECT_EQ(t.sounds.back(), failed ? kFail : kDone);
        EXPECT_EQ(rw::failedList(), rw::AddressList(failed && c.stop != 'c', 5));
        EXPECT_EQ(std::ranges::count(t.clock.sleeps(), 10), 0) << "no back-off step";
        ASSERT_EQ(t.outcomes.size(), 1u);
        const rw::JobOutcome& o = t.outcomes[0];
        const bool stopped = c.stopAt != nullptr;
        EXPECT_EQ(std::tie(o.programmed, o.stopped, o.status),
                  std::make_tuple(failed == 0, stopped, c.line));
        EXPECT_EQ(o.imageCrc < 0, c.line.starts_with("HEX"));
        EXPECT_EQ(t.eventsAtRecord, t.events.size() - tail.size()) << "recorded before its line";
        // The operator's stop is "aborted", the stall limit's a failure.
        const std::string stopStatus =
            c.stop == 's' ? "NO BLOCK WRITTEN FOR 60 SECONDS" : "Flash Download Aborted...";
        const char* result = !failed                    ? "programmed"
                             : stopped && c.stop != 's' ? "aborted"
                                                        : "failed";
        const auto r = t.records().at(0);
        EXPECT_EQ(std::tie(r["result"], r["status"]),
                  std::make_tuple(result, c.line.empty() ? stopStatus : c.line));
    }
}

TEST(Sequence, BlockSilenceIsReportedOnlyBeyondTheEraseWaitThenRecovers) {
    // Each silent try costs 3000 ms, a pass three tries. Two silent passes (18 s)
    // end within the 20 s erase wait, the third beyond it; after a success the
    // first silent pass is reported, with the block's address.
    const std::string E = "ERASING FLASH MEMORY...", S1 = "SENT  128 / 300  BYTES...",
                      S2 = "SENT  256 / 300  BYTES...";
    const Names quiet{kStart, kErase, kLoop, kDone}, late{kStart, kErase, kError, kLoop, kDone},
        again{kStart, kErase, kLoop, kError, kLoop, kDone};
    const std::tuple<int, uint32_t, int, Names, Names> cases[] = {
        {0, 0x2000, 2, {E, E, E, S1}, quiet},
        {0, 0x2000, 3, {E, E, E, "FLASH WRITE ERROR  (2000h)", S1}, late},
        {3, 0xFD0080, 1, {E, S1, "FLASH WRITE ERROR  (fd0080h)", S2}, again}};
    for (const auto& [model, address, passes, expected, sounds] : cases) {
        JobBench t;
        t.prepare(model, 300);
        t.slowLink = true;
        int tries = passes * 3;
        t.policy = answer(
            [&](const Bytes& f) {
                return isBlockWrite(f) && writeAddress(f) == address && tries-- > 0;
            },
            Answer::Silent);
        Names lines;  // from the second status line on
        t.onEvent = [&](const std::string& e) {
            if (e.starts_with("CRC8") || e.starts_with("log")) return;
            lines.push_back(e);
            EXPECT_EQ(t.job.failed, e.find("ERROR") != std::string::npos) << e;
        };
        EXPECT_EQ(t.run(), 0u);
        lines.resize(std::min(lines.size(), expected.size()));
        EXPECT_EQ(lines, expected);
        EXPECT_EQ(t.sounds, sounds);
    }
}

// The job runner (the headless programs' window) serves the worker's calls on
// the calling thread and hands every notification over in order; an Abort while
// the worker waits for its CRC to be taken stops it before its first block.
TEST(Sequence, TheJobRunnerHandsEveryNotificationOverInOrderAndIsReusedAfterAnAbort) {
    JobBench t;
    t.prepare(3, 130);
    rw::JobRunner runner(t.services);
    rw::JobRequest request;
    std::tie(request.model, request.deviceAddress, request.baudRate, request.autoExit) =
        std::make_tuple(t.models[3].get(), 65535, 9600, true);
    request.imagePath = t.form.imageFile;
    const std::thread::id caller = std::this_thread::get_id();
    std::string seen;  // kind (status, CRC, done, quit), ended / logged, the text
    runner.setListener([&](const rw::JobEvent& e, rw::FlashJob&) {
        EXPECT_EQ(std::this_thread::get_id(), caller);
        seen += std::to_string(static_cast<int>(e.kind)) +
                (e.ended    ? "e "
                 : e.logged ? "l "
                            : " ") +
                e.text + ";";
        if (e.kind == rw::JobEvent::Kind::Crc && !request.autoExit) runner.requestAbort();
    });
    EXPECT_EQ(runner.run(request), 0u);
    EXPECT_EQ(seen,
              "0l FLASHING KVTC/2-5140 @ 65535...;1 ;0 ERASING FLASH MEMORY...;0 SENT  128 / "
              "130  BYTES...;0 SENT  130 / 130  BYTES...;0e " +
                  kComplete + ";2 ;3 ;");
    EXPECT_EQ(t.linkRate, 9600u);
    seen.clear();
    request.autoExit = false;
    EXPECT_EQ(runner.run(request), 1u);
    EXPECT_EQ(seen, "0l FLASHING KVTC/2-5140 @ 65535...;1 ;0 ERASING FLASH MEMORY...;2 ;");
}

}  // namespace
}  // namespace rwtest
