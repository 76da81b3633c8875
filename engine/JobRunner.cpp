#include "engine/JobRunner.h"

#include <cstdio>
#include <deque>
#include <mutex>

#include "engine/FlashJob.h"
#include "engine/JobNotifier.h"
#include "engine/ProgramDevice.h"
#include "engine/SyncMailbox.h"

namespace rw {

// Stands in for the window: synchronous notifications reach the listener on the
// serving thread while the worker waits; posted ones are queued by the worker
// and handed over by the serving thread in between, so the order holds.
class JobRunner::Window final : public JobNotifier {
  public:
    SyncMailbox mailbox;
    Listener listener;

    void sendFlashStatus(FlashJob& job, int ended, int logged) override {
        JobEvent event;
        event.ended = ended != 0;
        event.logged = logged != 0;
        event.text = job.statusText;
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

    // Serving thread: hands over the queued notifications.
    void deliverPosted(FlashJob& job) {
        std::deque<JobEvent> posted;
        {
            std::lock_guard lock(mutex_);
            posted.swap(posted_);
        }
        for (const JobEvent& event : posted) deliver(event, job);
    }

  private:
    void post(JobEvent::Kind kind, int value) {
        JobEvent event;
        event.kind = kind;
        event.failed = value;
        {
            std::lock_guard lock(mutex_);
            posted_.push_back(event);
        }
        mailbox.wake();
    }
    void deliver(const JobEvent& event, FlashJob& job) {
        if (listener) listener(event, job);
    }

    std::mutex mutex_;
    std::deque<JobEvent> posted_;
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

    startProgramDeviceThread(job, services_);
    while (!job.workerThread.finished()) {
        window_->mailbox.serveFor(5);
        window_->deliverPosted(job);
    }
    job.workerThread.join();
    window_->mailbox.serve();
    window_->deliverPosted(job);
    return job.workerThread.exitCode();
}

void JobRunner::requestAbort() {
    if (!job_->running) return;
    job_->running = 0;
    job_->failed = 1;
}

}  // namespace rw
