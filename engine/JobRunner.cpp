#include "engine/JobRunner.h"

#include <cstdio>

#include "engine/FlashJob.h"
#include "engine/JobNotifier.h"
#include "engine/ProgramDevice.h"
#include "engine/SyncMailbox.h"

namespace rw {

// Stands in for the window: every notification reaches the listener on the
// serving thread, through one mailbox, so the order holds; logged and final
// statuses and the CRC while the worker waits, the others as posted copies.
class JobRunner::Window final : public JobNotifier {
  public:
    SyncMailbox mailbox;
    Listener listener;

    void sendFlashStatus(FlashJob& job, int ended, int logged) override {
        JobEvent event;
        event.ended = ended != 0;
        event.logged = logged != 0;
        event.text = job.statusText;
        if (!event.ended && !event.logged) {
            // A progress line goes over as a copy; the worker does not wait for it.
            mailbox.post([this, event, &job] { deliver(event, job); }, SyncMailbox::Wake::Later);
            return;
        }
        mailbox.call([&] { deliver(event, job); });
    }
    void sendFlashCrc(FlashJob& job, int crc) override {
        JobEvent event;
        event.kind = JobEvent::Kind::Crc;
        event.crc = crc;
        mailbox.call([&] { deliver(event, job); });
    }
    void postFlashDone(int failed) override { post(JobEvent::Kind::Done, failed); }
    void postQuit(int exitCode) override { post(JobEvent::Kind::Quit, exitCode); }
    void setJob(FlashJob& job) { job_ = &job; }

  private:
    void post(JobEvent::Kind kind, int value) {
        JobEvent event;
        event.kind = kind;
        event.failed = value;
        mailbox.post([this, event] { deliver(event, *job_); });
    }
    void deliver(const JobEvent& event, FlashJob& job) {
        if (listener) listener(event, job);
    }

    FlashJob* job_ = nullptr;
};

JobRunner::JobRunner(WorkerServices services)
    : services_(std::move(services)),
      job_(std::make_unique<FlashJob>()),
      window_(std::make_unique<Window>()) {}

JobRunner::~JobRunner() {
    job_->running = 0;
    waitForThreadEnd(&job_->workerThread, window_->mailbox);
}

void JobRunner::setListener(Listener listener) {
    window_->listener = std::move(listener);
}

unsigned JobRunner::run(const JobRequest& request) {
    FlashJob& job = *job_;
    job.imageLength = 0;
    job.bytesWritten = 0;
    job.window = window_.get();
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

    window_->setJob(job);
    startProgramDeviceThread(job, services_);
    waitForThreadEnd(&job.workerThread, window_->mailbox);
    window_->mailbox.serve();
    return job.workerThread.exitCode();
}

void JobRunner::requestAbort() {
    if (!job_->running) return;
    job_->running = 0;
    job_->failed = 1;
}

}  // namespace rw
