#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "control/AddressLists.h"
#include "control/JobController.h"
#include "control/JobView.h"
#include "control/StallWatch.h"
#include "engine/FlashJob.h"
#include "engine/JobNotifier.h"
#include "engine/WorkerServices.h"
#include "tools/batch/BatchPlan.h"

namespace rw {

class SharedUdpSocket;
class SyncMailbox;

// How every link of a batch runs.
struct BatchOptions {
    size_t jobs = 0;  // links at once; 0: all
    int retries = 0;  // passes over a link's failed devices after its list
    int stallSeconds = 60;
    std::string recordPath;  // "" or "-": no production record
    std::string program;     // "romwright-batch 1.1.0.4", for the record
    int replyTimeoutMs = kModeReplyTimeoutMs;
};

// How one device of a link ended, after its last try.
struct DeviceResult {
    bool ended = false;
    bool programmed = false;
    std::string status;  // its last status line
    int tries = 0;
};

// One bus of the plan, driven as the window drives its link: a job controller
// with its own address queue and failed list, its own job record, request
// sequence and stall limit, and a view without a window. Its devices run one
// after another; its programming threads report through the batch's mailbox,
// whose serving thread makes every call here.
class BatchLink final : public JobView, public JobObserver {
  public:
    BatchLink(const Plan& plan, size_t index, const ModelTable& models, SyncMailbox& mailbox,
              const BatchOptions& options);
    ~BatchLink() override;

    // Called when a device ends (each try) and when the record cannot be written.
    std::function<void(const BatchLink&, const PlanDevice&, const DeviceResult&)> onDeviceEnded;
    std::function<void(const std::string&)> onProblem;

    // Queues the link's devices and starts the first.
    void start();
    // Drops the devices not yet started and aborts the running one (its device
    // is switched out of programming mode); no retry follows.
    void stop();
    // Between two serves of the mailbox: the pause before a queued device,
    // the stall limit, a list that goes on after a refused start.
    void tick(int64_t nowMs);
    // When tick() next has something to do without a notification; -1: never.
    int64_t nextDueMs() const { return pauseDueMs_; }

    bool started() const { return started_; }
    bool finished() const { return finished_; }
    const PlanLink& link() const { return plan_.links[index_]; }
    // The device under way (or last), its progress in percent and the status line shown.
    const PlanDevice& current() const { return plan_.devices[current_]; }
    const PlanDevice& device(size_t index) const { return plan_.devices[index]; }
    int percent() const;
    const std::string& status() const { return status_; }
    // Results by plan device index, for this link's devices (empty: never started).
    DeviceResult result(size_t device) const;

    // JobView: the controller's view of this link.
    std::optional<GoForm> readForm() override;
    void setStatus(const std::string& text) override { status_ = text; }
    void setElapsed(const std::string&) override {}
    void setCrc(const std::string&) override {}
    void setAddress(int32_t address) override;
    void addHistory(const std::string&) override {}
    void setButtons(bool) override {}
    void refresh() override {}
    void startThreads(FlashJob& job) override;
    void openRetryList() override {}  // the batch retries by itself, after the list
    void startQueuePause(int ms) override;
    void stopQueuePause() override { pauseDueMs_ = -1; }
    void quit(int) override {}

    // JobObserver.
    void jobStarted(const FlashJob& job) override;
    void startRefused(const std::string& status, const std::string& imageFile) override;
    void jobStatus(const FlashJob& job, int ended, int logged, uint32_t elapsedMs) override;
    void recordProblem(const std::string& reason) override;

  private:
    class Notifier;

    void deviceEnded(bool failed);
    void workerFinished();
    // The list is through: its failed devices go round again, or the link is done.
    void listEnded();

    const Plan& plan_;
    const size_t index_;
    SyncMailbox& mailbox_;
    std::unique_ptr<FlashJob> job_;
    std::unique_ptr<Notifier> notifier_;
    JobController controller_;
    AddressList pending_;
    AddressList failed_;
    std::atomic<uint8_t> sequence_{0};
    WorkerServices services_;
    std::shared_ptr<SharedUdpSocket> udpSocket_;  // held for the whole run
    StallWatch stall_;
    std::map<uint16_t, size_t> deviceOf_;  // address -> plan device index
    std::map<size_t, DeviceResult> results_;
    size_t current_ = 0;
    std::string status_;
    std::string stallLine_;  // the stall limit stopped the device under way
    int retriesLeft_ = 0;
    int64_t pauseDueMs_ = -1;
    bool resumeDue_ = false;  // a refused start: the list goes on at the next tick
    bool started_ = false;
    bool stopping_ = false;
    bool finished_ = false;
};

}  // namespace rw
