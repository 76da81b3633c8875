#include "engine/HeadlessRunner.h"

#include <cstdio>

#include "engine/JobNotifier.h"
#include "engine/SoundPlayer.h"
#include "engine/SyncMailbox.h"

namespace rw {

// Stands in for the window and the sound player. Synchronous notifications are
// recorded on the serving thread while the worker waits; posted ones and sounds
// are recorded on the worker thread as they happen. The worker is the only
// producer, so the records are in the order of its calls.
class HeadlessRunner::Recorder final : public JobNotifier, public SoundPlayer {
  public:
    explicit Recorder(SoundPlayer* forward) : forward_(forward) {}

    SyncMailbox mailbox;

    void setObserver(Observer observer) { observer_ = std::move(observer); }

    void reset() {
        std::lock_guard lock(mutex_);
        records_.clear();
        delivered_ = 0;
    }

    std::vector<Notification> records() const {
        std::lock_guard lock(mutex_);
        return records_;
    }

    // Hands every record not yet seen to the observer; serving thread only.
    void deliverPending(FlashJob& job) {
        std::vector<Notification> fresh;
        {
            std::lock_guard lock(mutex_);
            fresh.assign(records_.begin() + static_cast<long>(delivered_), records_.end());
            delivered_ = records_.size();
        }
        if (!observer_) return;
        for (const Notification& record : fresh) observer_(record, job);
    }

    void sendFlashStatus(FlashJob& job, int ended, int logged) override {
        mailbox.call([&] {
            append({Notification::Kind::Status, ended, logged, job.statusText});
            deliverPending(job);
        });
    }
    void sendFlashCrc(FlashJob& job, int crc) override {
        mailbox.call([&] {
            append({Notification::Kind::Crc, crc, 0, {}});
            deliverPending(job);
        });
    }
    void postFlashDone(int failed) override { append({Notification::Kind::Done, failed, 0, {}}); }
    void postQuit(int exitCode) override { append({Notification::Kind::Quit, exitCode, 0, {}}); }

    void playOnce(const std::string& path) override {
        append({Notification::Kind::SoundOnce, 0, 0, path});
        if (forward_ != nullptr) forward_->playOnce(path);
    }
    void playLooping(const std::string& path) override {
        append({Notification::Kind::SoundLooping, 0, 0, path});
        if (forward_ != nullptr) forward_->playLooping(path);
    }
    void playEndSound(const std::string& path) override {
        append({Notification::Kind::SoundEnd, 0, 0, path});
        if (forward_ != nullptr) forward_->playEndSound(path);
    }

  private:
    void append(Notification record) {
        std::lock_guard lock(mutex_);
        records_.push_back(std::move(record));
    }

    SoundPlayer* forward_;
    Observer observer_;
    mutable std::mutex mutex_;
    std::vector<Notification> records_;
    size_t delivered_ = 0;
};

std::vector<std::string> HeadlessResult::statusLines() const {
    std::vector<std::string> lines;
    for (const Notification& record : notifications) {
        if (record.kind == Notification::Kind::Status) lines.push_back(record.text);
    }
    return lines;
}

std::vector<std::string> HeadlessResult::sounds() const {
    std::vector<std::string> paths;
    for (const Notification& record : notifications) {
        if (record.kind >= Notification::Kind::SoundOnce) paths.push_back(record.text);
    }
    return paths;
}

HeadlessRunner::HeadlessRunner(WorkerServices services)
    : services_(std::move(services)),
      job_(std::make_unique<FlashJob>()),
      recorder_(std::make_unique<Recorder>(services_.sound)) {}

HeadlessRunner::~HeadlessRunner() {
    job_->running = 0;
    waitForThreadEnd(&job_->workerThread, recorder_->mailbox);
}

void HeadlessRunner::setObserver(Observer observer) {
    recorder_->setObserver(std::move(observer));
}

HeadlessResult HeadlessRunner::run(const HeadlessRequest& request) {
    fillJob(request);
    recorder_->reset();
    WorkerServices services = services_;
    services.sound = recorder_.get();
    startProgramDeviceThread(*job_, services);
    waitForThreadEnd(&job_->workerThread, recorder_->mailbox);
    recorder_->deliverPending(*job_);

    HeadlessResult result;
    result.notifications = recorder_->records();
    result.failed = job_->workerThread.exitCode();
    return result;
}

void HeadlessRunner::requestAbort() {
    if (!job_->running) return;
    job_->running = 0;
    job_->failed = 1;
}

void HeadlessRunner::fillJob(const HeadlessRequest& request) {
    FlashJob& job = *job_;
    job.imageLength = 0;
    job.bytesWritten = 0;
    job.window = recorder_.get();
    job.running = 1;
    job.failed = 0;
    job.autoExit = request.autoExit ? 1 : 0;
    job.linkKind = request.linkKind;
    job.baudRate = request.baudRate;
    job.deviceAddress = request.deviceAddress;
    job.model = request.model;
    std::snprintf(job.imagePath, sizeof job.imagePath, "%s", request.imagePath.c_str());
    std::snprintf(job.hostName, sizeof job.hostName, "%s", request.hostName.c_str());
    job.port = request.port;
}

}  // namespace rw
