#pragma once
// A job bench without a window, shared by the controller and sequence tests:
// the job controller drives the record; the bench is its view, the window's
// event loop, the worker's notifier, sound player and recorder, and a device
// that answers as a policy says. With realWorker, Go runs the programming
// sequence at once on this thread against that device; what a window would
// get as queued events (completion, the threads' end, the queue pause) waits
// in `queued` until settle().
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <map>
#include <nlohmann/json.hpp>

#include "control/JobController.h"  // with the address lists and the production record
#include "engine/FlashJob.h"
#include "engine/JobNotifier.h"
#include "engine/ProgramDevice.h"
#include "engine/Protocol.h"
#include "engine/SoundPlayer.h"
#include "engine/Sounds.h"
#include "support/FakeClock.h"
#include "support/ReplyBuilder.h"  // with the fake link
#include "support/TestEnv.h"
#include "support/TestImages.h"

namespace rwtest {

class JobBench;
using Names = std::vector<std::string>;
using Frame = std::function<bool(const Bytes&)>;
enum class Answer { Accept, Silent, Refuse };
// How the device answers a frame; it may also act on the bench (an Abort).
using Policy = std::function<Answer(JobBench&, const Bytes&)>;
inline const std::string kComplete = "*** FLASH PROGRAMMING COMPLETE ***";

inline uint32_t writeAddress(const Bytes& f) {
    return (uint32_t{f[7]} << 16) | (uint32_t{f[8]} << 8) | f[9];
}
inline bool isBlockWrite(const Bytes& f) {
    return f[5] == rw::CMD_FLASH_WRITE && f[11] != 1;
}
inline bool isCrcByteWrite(const Bytes& f) {
    return f[5] == rw::CMD_FLASH_WRITE && f[11] == 1;
}
inline Frame is(uint8_t command) {
    return [command](const Bytes& f) { return f[5] == command; };
}
inline Policy answer(Frame when, Answer a) {
    return [when, a](JobBench&, const Bytes& f) { return when(f) ? a : Answer::Accept; };
}
// The lines of JSON in text, from `at` on.
inline std::vector<nlohmann::ordered_json> jsonLines(const std::string& text, size_t at = 0) {
    std::vector<nlohmann::ordered_json> parsed;
    for (size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        parsed.push_back(nlohmann::ordered_json::parse(text.substr(at, end - at)));
    return parsed;
}

// The view records `lines` ("status TEXT", "start 5", "address 7", "pause 1000",
// "retry", "quit 1", and "red" / "plain" when the colour changes); the worker's
// notifications and the CRC line they show go to `events` ("log TEXT" logged,
// "end TEXT" final, "TEXT" progress, "CRC8 = 0a hex", "done N", "quit N"); the
// player's calls to `sounds` ("once Classic/start.wav", "loop ...", "end ...").
class JobBench : public ::testing::Test,
                 public rw::JobView,
                 public rw::JobNotifier,
                 public rw::SoundPlayer,
                 public rw::JobRecorder {
  public:
    JobBench() : controller(*this, clock, models) {
        rw::setDataFolder(dir.str());
        rw::setSoundScheme("Classic");
        std::tie(form.address, form.baudRate, form.modelRow, form.portIndex) =
            std::tuple(5, 19200, 1, 2);
        form.imageFile = writeFile(dir.path() / "image.hex", ":00000001FF\r\n").string();
        controller.setJob(&job);
        controller.setLocalTime([] { return std::string("TIME"); });
        controller.setRecord(recordPath, "romwright test");
        rw::queueAddressList("");  // empties both lists
        std::tie(services.clock, services.sound) = std::tuple(&clock, this);
        services.serialPortPath = [](int n) { return "/dev/ttyUSB" + std::to_string(n); };
        services.makeLink = [this](rw::FlashJob& j) -> std::unique_ptr<rw::Transport> {
            auto link = std::make_unique<FakeLink>(j.linkKind, j.port);
            if (slowLink) link->setTimeoutClock(&clock);  // each silent try costs 3000 ms
            link->setResponder([this](const Bytes& frame) { return reply(frame); });
            link_ = link.get();
            return link;
        };
    }
    void TestBody() override {}  // a fresh one per table row

    // A `size`-byte image for the model, chosen in the form; Go runs the worker.
    const rw::DeviceModel& prepare(int modelIndex, size_t size) {
        const rw::DeviceModel& row = *models[static_cast<size_t>(modelIndex)];
        image = patternBytes(size);
        form.modelRow = modelIndex;
        form.imageFile = writeFile(dir.path() / "app.hex", intelHex(row.flashStart, image));
        realWorker = true;
        return row;
    }
    // Go, then every queued event: the worker's result.
    unsigned run() {
        controller.go();
        settle();
        return exitCode;
    }
    void settle() {
        for (int i = 0; i < 1000 && !queued.empty(); ++i) {
            const std::function<void()> next = std::move(queued.front());
            queued.pop_front();
            next();
        }
    }
    // A worker's status line, by hand.
    void status(const std::string& text, int ended, int logged) {
        std::snprintf(job.statusText, sizeof job.statusText, "%s", text.c_str());
        controller.flashStatus(ended, logged);
    }
    // The requests as letters: M / m mode on / off, P permission, I flash
    // initialise, W block write, C CRC byte write, V CRC confirm.
    std::string steps() const {
        std::string letters;
        for (const Bytes& f : frames) {
            const uint8_t c = f.at(5);
            letters += c == rw::CMD_PERMISSION     ? 'P'
                       : c == rw::CMD_FLASH_INIT   ? 'I'
                       : c == rw::CMD_FLASH_VERIFY ? 'V'
                       : c == rw::CMD_MODE         ? (f.at(9) ? 'M' : 'm')
                       : c == rw::CMD_FLASH_WRITE  ? (f.at(11) == 1 ? 'C' : 'W')
                                                   : '?';
        }
        return letters;
    }
    // The production record's lines.
    std::vector<nlohmann::ordered_json> records() const { return jsonLines(readFile(recordPath)); }
    std::optional<rw::GoForm> readForm() override { return form; }
    void setStatus(const std::string& text) override { lines.push_back("status " + text); }
    void setElapsed(const std::string&) override {}
    void setCrc(const std::string& text) override { event(text); }
    void setAddress(int32_t address) override {
        form.address = address;
        lines.push_back("address " + std::to_string(address));
    }
    void addHistory(const std::string&) override {}
    void setButtons(bool on) override { live = on; }
    void refresh() override {
        if ((colour_ == "red") != bool(job.failed))
            lines.push_back(colour_ = job.failed ? "red" : "plain");
    }
    void startThreads(rw::FlashJob& record) override {
        lines.push_back("start " + std::to_string(record.deviceAddress));
        if (!realWorker) return;
        record.window = this;
        if (record.recorder != nullptr) next_ = std::exchange(record.recorder, this);
        exitCode = rw::ProgramDeviceThread(record, services);
        queued.push_back([this] { controller.workerEnded(); });
    }
    void openRetryList() override { lines.push_back("retry"); }
    void startQueuePause(int ms) override {
        lines.push_back("pause " + std::to_string(ms));
        if (realWorker) queued.push_back([this] { controller.queuePauseElapsed(); });
    }
    void stopQueuePause() override {}
    void quit(int code) override { lines.push_back("quit " + std::to_string(code)); }

    void sendFlashStatus(rw::FlashJob& j, int ended, int logged) override {
        controller.flashStatus(ended, logged);
        event((ended ? "end " : logged ? "log " : "") + std::string(j.statusText));
    }
    void sendFlashCrc(rw::FlashJob&, int crc) override { controller.flashCrc(crc); }
    void postFlashDone(int failed) override {
        events.push_back("done " + std::to_string(failed));
        queued.push_back([this, failed] { controller.flashDone(failed); });
    }
    void postQuit(int code) override { events.push_back("quit " + std::to_string(code)); }
    void playOnce(const std::string& path) override { sound("once ", path); }
    void playLooping(const std::string& path) override { sound("loop ", path); }
    void playEndSound(const std::string& path) override { sound("end ", path); }
    void jobEnded(const rw::JobOutcome& outcome) override {
        outcomes.push_back(outcome);
        eventsAtRecord = events.size();
        if (next_ != nullptr) next_->jobEnded(outcome);
    }

    TempDir dir;
    const std::string recordPath = (dir.path() / "Production.jsonl").string();
    const rw::ModelTable models = rw::buildModelTable();
    FakeClock clock{1'000'000};
    rw::FlashJob job{};
    rw::GoForm form;
    rw::JobController controller;
    rw::WorkerServices services;
    bool realWorker = false, slowLink = false, live = false;
    Policy policy;
    std::function<void(const std::string&)> onEvent;  // after the window had it
    std::vector<Bytes> frames;
    std::map<uint32_t, uint8_t> flash;
    std::vector<uint8_t> image;
    Names lines, events, sounds;
    std::deque<std::function<void()>> queued;
    std::vector<rw::JobOutcome> outcomes;
    size_t eventsAtRecord = 0;
    unsigned exitCode = 99, linkRate = 0;  // the worker's result; the link's rate at the last frame

  private:
    void event(const std::string& text) {
        events.push_back(text);
        if (onEvent) onEvent(text);
    }
    void sound(const char* kind, const std::string& path) {
        sounds.push_back(kind + path.substr(path.find("/Sounds/") + 8));
    }
    ReplyPieces reply(const Bytes& frame) {
        frames.push_back(frame);
        linkRate = link_->getBaudRate();
        const Answer a = policy ? policy(*this, frame) : Answer::Accept;
        if (a == Answer::Silent) return {};
        for (size_t i = 0; a == Answer::Accept && frame[5] == rw::CMD_FLASH_WRITE &&
                           i < ((size_t{frame[10]} << 8) | frame[11]);
             ++i)
            flash[writeAddress(frame) + static_cast<uint32_t>(i)] = frame[12 + i];
        return {buildReply(frame, {.status = uint8_t(a == Answer::Refuse ? 1 : 0)})};
    }

    std::string colour_ = "plain";
    rw::JobRecorder* next_ = nullptr;
    FakeLink* link_ = nullptr;
};

}  // namespace rwtest
