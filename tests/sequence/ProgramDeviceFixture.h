#pragma once
// The programming sequence against an in-memory device on a fake clock: a
// fixture that runs whole jobs on the test's thread and records their status
// lines, flags, sounds, frames and the flash the device ends with.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>

#include "RecordingNotifier.h"
#include "RecordingSoundPlayer.h"
#include "engine/FlashJob.h"
#include "engine/JobRecord.h"
#include "engine/ProgramDevice.h"
#include "engine/Protocol.h"
#include "engine/Sounds.h"
#include "support/FakeClock.h"
#include "support/ReplyBuilder.h"
#include "support/TestEnv.h"
#include "support/TestImages.h"

namespace rwtest {

using Flash = std::map<uint32_t, uint8_t>;

using Kind = RecordedNotification::Kind;
using Sound = RecordedSound::Kind;
using Names = std::vector<std::string>;
using Commands = std::vector<uint8_t>;
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
inline std::function<bool(const Bytes&)> is(uint8_t command) {
    return [command](const Bytes& f) { return f[5] == command; };
}
inline Policy refuse(uint8_t command) {
    return [command](const Bytes& f) { return f[5] == command ? Answer::Refuse : Answer::Accept; };
}
inline Policy silent(std::function<bool(const Bytes&)> when) {
    return [when](const Bytes& f) { return when(f) ? Answer::Silent : Answer::Accept; };
}
// Silent to the block write at `address` for `passes` passes (three tries each).
inline Policy silentBlocks(uint32_t address, int passes) {
    auto triesLeft = std::make_shared<int>(passes * 3);
    return silent([=](const Bytes& f) {
        return isBlockWrite(f) && writeAddress(f) == address && (*triesLeft)-- > 0;
    });
}

// What a device that started erased holds after a complete run: every written
// byte, with the CRC in the region's last byte.
inline Flash expectedFlash(const rw::DeviceModel& model, const std::vector<uint8_t>& image) {
    Flash flash;
    for (size_t i = 0; i < image.size(); ++i)
        flash[static_cast<uint32_t>(model.flashStart) + static_cast<uint32_t>(i)] = image[i];
    flash[static_cast<uint32_t>(model.crcAddress())] = expectedCrc(model, image);
    return flash;
}

// Takes each job's record, noting how many notifications the window had then.
struct OutcomeRecorder : rw::JobRecorder {
    RecordingNotifier* notifier = nullptr;
    std::vector<rw::JobOutcome> outcomes;
    std::vector<size_t> notificationsBefore;
    void jobEnded(const rw::JobOutcome& outcome) override {
        outcomes.push_back(outcome);
        notificationsBefore.push_back(notifier->records().size());
    }
};

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
        image_ = patternBytes(size);
        job_ = std::make_unique<rw::FlashJob>();
        notifier_ = std::make_unique<RecordingNotifier>();
        sounds_ = std::make_unique<RecordingSoundPlayer>();
        services_.sound = sounds_.get();
        recorder_ = OutcomeRecorder{};
        recorder_.notifier = notifier_.get();
        frames_.clear();
        flash_.clear();
        policy_ = nullptr;
        clock_.clearSleeps();
        job_->window = notifier_.get();
        job_->recorder = &recorder_;
        job_->running = 1;
        job_->deviceAddress = 101;
        job_->port = 1;
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
    OutcomeRecorder recorder_;
    std::unique_ptr<RecordingSoundPlayer> sounds_;
};

}  // namespace rwtest
