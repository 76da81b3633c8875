#pragma once
// The programming sequence against an in-memory device on a fake clock. Whole
// jobs run on the test's thread; the fixture is the job's window, sound player
// and recorder, and keeps the notifications, sounds, frames, records and the
// flash the device ends with.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>

#include "engine/FlashJob.h"
#include "engine/JobNotifier.h"
#include "engine/JobRecord.h"
#include "engine/ProgramDevice.h"
#include "engine/Protocol.h"
#include "engine/SoundPlayer.h"
#include "engine/Sounds.h"
#include "support/FakeClock.h"
#include "support/FakeLink.h"
#include "support/ReplyBuilder.h"
#include "support/TestEnv.h"
#include "support/TestImages.h"

namespace rwtest {

using Names = std::vector<std::string>;
using Frame = std::function<bool(const Bytes&)>;
enum class Answer { Accept, Silent, Refuse };
using Policy = std::function<Answer(const Bytes&)>;
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
inline Policy refuse(uint8_t command) {
    return [command](const Bytes& f) { return f[5] == command ? Answer::Refuse : Answer::Accept; };
}
inline Policy silent(Frame when) {
    return [when](const Bytes& f) { return when(f) ? Answer::Silent : Answer::Accept; };
}
// Silent to the block write at `address` for `passes` passes (three tries each).
inline Policy silentBlocks(uint32_t address, int passes) {
    auto triesLeft = std::make_shared<int>(passes * 3);
    return silent([=](const Bytes& f) {
        return isBlockWrite(f) && writeAddress(f) == address && (*triesLeft)-- > 0;
    });
}

// Notifications are kept as "log TEXT" (logged), "end TEXT" (final), "TEXT"
// (progress), "crc N", "done N" and "quit N"; sounds as "once Classic/start.wav",
// "loop ..." and "end ..." (the path below the Sounds folder).
class SequenceTest : public ::testing::Test,
                     public rw::JobNotifier,
                     public rw::SoundPlayer,
                     public rw::JobRecorder {
  protected:
    SequenceTest() : models_(rw::buildModelTable()) {
        services_.clock = &clock_;
        services_.sound = this;
        services_.serialPortPath = [](int n) { return "/dev/ttyUSB" + std::to_string(n); };
        rw::setDataFolder(dir_.str());
        rw::setSoundScheme("Classic");
        services_.makeLink = [this](rw::FlashJob& job) -> std::unique_ptr<rw::Transport> {
            auto link = std::make_unique<FakeLink>(linkKind_, job.port);
            link->setOpenError(openError_);
            if (slow_) link->setTimeoutClock(&clock_);  // each silent try costs 3000 ms
            link->setResponder([this](const Bytes& frame) { return answer(frame); });
            link_ = link.get();
            return link;
        };
    }
    ~SequenceTest() override { rw::setSoundScheme(""); }

    ReplyPieces answer(const Bytes& frame) {
        frames_.push_back(frame);
        const Answer a = policy_ ? policy_(frame) : Answer::Accept;
        if (a == Answer::Silent) return {};
        if (a == Answer::Accept && frame[5] == rw::CMD_FLASH_WRITE) {
            for (size_t i = 0; i < ((size_t{frame[10]} << 8) | frame[11]); ++i)
                flash_[writeAddress(frame) + static_cast<uint32_t>(i)] = frame[12 + i];
        }
        return {buildReply(frame, {.status = uint8_t(a == Answer::Refuse ? 1 : 0)})};
    }

    // A fresh job for the model with a HEX file of a `size`-byte image, as Go
    // fills it: device 101 on COM3 at 19200 bit/s.
    const rw::DeviceModel& prepare(int modelIndex, size_t size, const char* fileName = "app.hex") {
        const rw::DeviceModel& row = *models_[static_cast<size_t>(modelIndex)];
        image_ = patternBytes(size);
        job_ = std::make_unique<rw::FlashJob>();
        events_.clear(), sounds_.clear(), outcomes_.clear(), frames_.clear(), flash_.clear();
        policy_ = nullptr;
        onEvent_ = nullptr;
        clock_.clearSleeps();
        job_->window = this;
        job_->recorder = this;
        job_->running = 1;
        job_->deviceAddress = 101;
        job_->port = 3;
        job_->baudRate = 19200;
        job_->model = &row;
        setImagePath(writeFile(dir_.path() / fileName, intelHex(row.flashStart, image_)));
        return row;
    }
    void setImagePath(const std::filesystem::path& path) {
        std::snprintf(job_->imagePath, sizeof job_->imagePath, "%s", path.string().c_str());
    }
    unsigned run() { return rw::ProgramDeviceThread(*job_, services_); }
    long count(const Frame& which) const { return std::ranges::count_if(frames_, which); }
    std::vector<uint8_t> commands() const {
        std::vector<uint8_t> list;
        for (const Bytes& f : frames_) list.push_back(f[5]);
        return list;
    }
    // What the device holds after a complete run: the image, the CRC in the region's last byte.
    std::map<uint32_t, uint8_t> expectedFlash(const rw::DeviceModel& model) const {
        std::map<uint32_t, uint8_t> flash;
        for (size_t i = 0; i < image_.size(); ++i)
            flash[static_cast<uint32_t>(model.flashStart) + static_cast<uint32_t>(i)] = image_[i];
        flash[static_cast<uint32_t>(model.crcAddress())] = expectedCrc(model, image_);
        return flash;
    }
    // The window's Abort.
    void abortJob() {
        job_->running = 0;
        job_->failed = 1;
    }

    void sendFlashStatus(rw::FlashJob& job, int ended, int logged) override {
        event((ended ? "end " : logged ? "log " : "") + std::string(job.statusText));
    }
    void sendFlashCrc(rw::FlashJob&, int crc) override {
        baudAtCrc_ = link_->getBaudRate();
        event("crc " + std::to_string(crc));
    }
    void postFlashDone(int failed) override { events_.push_back("done " + std::to_string(failed)); }
    void postQuit(int code) override { events_.push_back("quit " + std::to_string(code)); }
    void event(const std::string& text) {
        events_.push_back(text);
        if (onEvent_) onEvent_(text);
    }
    void playOnce(const std::string& path) override { sound("once ", path); }
    void playLooping(const std::string& path) override { sound("loop ", path); }
    void playEndSound(const std::string& path) override { sound("end ", path); }
    void sound(const char* kind, const std::string& path) {
        sounds_.push_back(kind + path.substr(path.find("/Sounds/") + 8));
    }
    void jobEnded(const rw::JobOutcome& outcome) override {
        outcomes_.push_back(outcome);
        eventsAtRecord_ = events_.size();
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
    std::map<uint32_t, uint8_t> flash_;
    std::vector<uint8_t> image_;
    std::unique_ptr<rw::FlashJob> job_;
    FakeLink* link_ = nullptr;  // the running job's
    uint32_t baudAtCrc_ = 0;
    Names events_, sounds_;
    std::function<void(const std::string&)> onEvent_;  // in the window's place
    std::vector<rw::JobOutcome> outcomes_;
    size_t eventsAtRecord_ = 0;
};

}  // namespace rwtest
