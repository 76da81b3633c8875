#include "tools/batch/BatchLink.h"

#include <algorithm>
#include <filesystem>

#include "base/Clock.h"
#include "engine/ProgramDevice.h"
#include "engine/SyncMailbox.h"
#include "link/SerialTransport.h"
#include "link/SharedUdpSocket.h"
#include "link/SharedUdpTransport.h"
#include "link/TcpTransport.h"

namespace rw {

// The programming thread's notifications, carried to the serving thread as the
// window receives them: logged and final lines and the CRC while the worker
// waits, progress lines as copies it does not wait for.
class BatchLink::Notifier final : public JobNotifier {
  public:
    Notifier(BatchLink& link, SyncMailbox& mailbox) : link_(link), mailbox_(mailbox) {}

    void sendFlashStatus(FlashJob& job, int ended, int logged) override {
        if (!ended && !logged) {
            std::string text = job.statusText;
            mailbox_.post([this, text] { link_.controller_.flashStatus(text, 0, 0); },
                          SyncMailbox::Wake::Later);
            return;
        }
        mailbox_.call([&] { link_.controller_.flashStatus(ended, logged); });
    }
    void sendFlashCrc(FlashJob&, int crc) override {
        mailbox_.call([&] { link_.controller_.flashCrc(crc); });
    }
    void postFlashDone(int failed) override {
        mailbox_.post([this, failed] { link_.deviceEnded(failed != 0); });
    }
    void postQuit(int) override {}

  private:
    BatchLink& link_;
    SyncMailbox& mailbox_;
};

BatchLink::BatchLink(const Plan& plan, size_t index, const ModelTable& models, SyncMailbox& mailbox,
                     const BatchOptions& options)
    : plan_(plan),
      index_(index),
      mailbox_(mailbox),
      job_(std::make_unique<FlashJob>()),
      notifier_(std::make_unique<Notifier>(*this, mailbox)),
      controller_(*this, systemClock(), models),
      stall_(options.stallSeconds),
      retriesLeft_(options.retries) {
    controller_.setJob(job_.get());
    controller_.setObserver(this);
    controller_.setLists(pending_, failed_);
    // The window's second between queued devices lets an operator read the
    // result and stop the list; unattended, the next device starts at once.
    controller_.setQueuePauseMs(0);
    controller_.setRecord(options.recordPath, options.program);
    services_.requestSequence = &sequence_;
    services_.modeReplyTimeoutMs = options.replyTimeoutMs;
    for (const size_t device : link().devices) deviceOf_[plan.devices[device].address] = device;
    current_ = link().devices.front();
}

BatchLink::~BatchLink() {
    // A programming thread still on the record is stopped and waited for.
    controller_.close();
    waitForThreadEnd(&job_->workerThread, mailbox_);
}

void BatchLink::start() {
    if (started_ || stopping_) return;
    started_ = true;
    // Every UDP link to this port shares the one socket bound to it; holding it
    // keeps it bound between devices.
    if (link().kind == LINK_UDP) udpSocket_ = SharedUdpSocket::forPort(link().port);
    for (const size_t device : link().devices) pending_.push_back(plan_.devices[device].address);
    controller_.listConfirmed();
}

void BatchLink::stop() {
    stopping_ = true;
    resumeDue_ = false;
    pending_.clear();
    if (!started_) {
        finished_ = true;
        return;
    }
    const JobState state = controller_.state();
    if (state == JobState::Running || state == JobState::QueuePause) controller_.abort();
    if (!controller_.workerOnRecord()) listEnded();
}

void BatchLink::tick(int64_t nowMs) {
    if (pauseDueMs_ >= 0 && nowMs >= pauseDueMs_) {
        pauseDueMs_ = -1;
        controller_.queuePauseElapsed();
    }
    if (resumeDue_) {
        resumeDue_ = false;
        controller_.listConfirmed();  // the next queued device, if any
        if (!controller_.workerOnRecord() && controller_.state() == JobState::Idle) listEnded();
    }
    if (controller_.state() == JobState::Running && stall_.expired(nowMs)) {
        stallLine_ = "NO BLOCK WRITTEN FOR " + std::to_string(stall_.limitSeconds()) + " SECONDS";
        controller_.abortForStall(stall_.limitSeconds());
    }
}

int BatchLink::percent() const {
    const int32_t length = job_->imageLength;
    if (length <= 0) return 0;
    return static_cast<int>(int64_t{job_->bytesWritten} * 100 / length);
}

std::optional<GoForm> BatchLink::readForm() {
    const PlanDevice& device = current();
    GoForm form;
    form.address = device.address;
    form.driver = link().kind;
    form.baudRate = device.baudRate;
    form.imageFile = device.file;
    form.hostPort = link().host + ":" + std::to_string(link().port);
    form.modelRow = device.modelRow;
    form.portIndex = link().comNumber - 1;
    std::error_code ignored;
    form.plan = std::filesystem::absolute(plan_.path, ignored).string();
    form.planLine = device.line;
    return form;
}

void BatchLink::setAddress(int32_t address) {
    auto device = deviceOf_.find(static_cast<uint16_t>(address));
    if (device != deviceOf_.end()) current_ = device->second;
}

void BatchLink::startQueuePause(int ms) {
    pauseDueMs_ = systemClock().nowMs() + ms;
}

void BatchLink::startThreads(FlashJob& job) {
    const PlanLink& bus = link();
    const PlanDevice& device = current();
    WorkerServices services = services_;
    // The link as the plan names it: a serial device opened by its path is
    // named by that path; UDP goes over the port's shared socket.
    services.makeLink = [kind = bus.kind, host = bus.host, port = bus.port, com = bus.comNumber,
                         path = device.devicePath](FlashJob&) -> std::unique_ptr<Transport> {
        if (kind == LINK_TCP) return std::make_unique<TcpTransport>(host.c_str(), port);
        if (kind == LINK_UDP) return std::make_unique<SharedUdpTransport>(host.c_str(), port);
        if (com > 0) return std::make_unique<SerialTransport>(com, path);
        return std::make_unique<SerialTransport>(path, SerialTransport::NamedByPath{});
    };
    services.serialPortPath = [path = device.devicePath](int) { return path; };
    stallLine_.clear();
    job.window = notifier_.get();
    job.workerThread.start([this, &job, services] {
        const unsigned failed = ProgramDeviceThread(job, services);
        mailbox_.post([this] { workerFinished(); });
        return failed;
    });
}

void BatchLink::jobStarted(const FlashJob&) {
    stall_.jobStarted(systemClock().nowMs());
}

void BatchLink::startRefused(const std::string& status, const std::string& imageFile) {
    // The file went away since the plan was read: this device fails, the list goes on.
    DeviceResult& result = results_[current_];
    result.ended = true;
    result.programmed = false;
    result.status = status + (imageFile.empty() ? "" : ": " + imageFile);
    ++result.tries;
    const uint16_t address = current().address;
    if (std::find(failed_.begin(), failed_.end(), address) == failed_.end()) {
        failed_.push_back(address);
    }
    if (onDeviceEnded) onDeviceEnded(*this, current(), result);
    resumeDue_ = true;
}

void BatchLink::jobStatus(const FlashJob& job, int, int logged, uint32_t) {
    // Only the atomics of the record are read: a progress line arrives as a
    // copy while the worker goes on writing the record.
    stall_.status(logged != 0, job.bytesWritten, job.model ? job.model->eraseWaitSeconds : 0,
                  systemClock().nowMs());
}

void BatchLink::recordProblem(const std::string& reason) {
    if (onProblem) onProblem(reason);
}

void BatchLink::deviceEnded(bool failed) {
    // The controller takes the next address now: the result is the current device's.
    const size_t device = current_;
    DeviceResult& result = results_[device];
    result.ended = true;
    result.programmed = !failed;
    result.status = stallLine_.empty() ? status_ : stallLine_;
    ++result.tries;
    controller_.flashDone(failed ? 1 : 0);
    if (onDeviceEnded) onDeviceEnded(*this, plan_.devices[device], result);
}

void BatchLink::workerFinished() {
    job_->workerThread.join();
    controller_.workerEnded();
    if (controller_.state() == JobState::Idle) listEnded();
}

DeviceResult BatchLink::result(size_t device) const {
    auto found = results_.find(device);
    return found != results_.end() ? found->second : DeviceResult{};
}

void BatchLink::listEnded() {
    if (!pending_.empty() || controller_.workerOnRecord() || resumeDue_) return;
    if (!stopping_ && retriesLeft_ > 0 && !failed_.empty()) {
        --retriesLeft_;
        pending_ = failed_;
        failed_.clear();
        controller_.listConfirmed();
        return;
    }
    finished_ = true;
}

}  // namespace rw
