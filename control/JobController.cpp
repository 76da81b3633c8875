#include "control/JobController.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "base/Clock.h"
#include "control/AddressLists.h"
#include "control/TextNumbers.h"
#include "engine/FlashJob.h"

namespace rw {

namespace {

constexpr int kDefaultIpPort = 3001;
constexpr const char* kAbortedStatus = "Flash Download Aborted...";
constexpr const char* kWaitingStatus = "WAITING FOR THE LAST JOB TO END...";

std::string localTimeText() {
    char stamp[128] = {};
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%c", &local);
    return stamp;
}

// The text of a fixed field of the job record, up to its terminator.
template <size_t N>
std::string fieldText(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

// Copies text into a fixed field of the job record, terminator included.
template <size_t N>
void copyField(char (&field)[N], const std::string& text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

}  // namespace

const char* jobStateName(JobState state) {
    switch (state) {
        case JobState::Idle:
            return "idle";
        case JobState::Running:
            return "running";
        case JobState::WindingDown:
            return "winding down";
        case JobState::QueuePause:
            return "queue pause";
        case JobState::Closing:
            return "closing";
    }
    return "?";
}

JobController::JobController(JobView& view, Clock& clock, const ModelTable& models)
    : view_(view), clock_(clock), models_(models), localTime_(localTimeText) {}

void JobController::go() {
    if (job_ == nullptr) return;
    switch (state_) {
        case JobState::Idle:
            startFromForm();
            return;
        case JobState::WindingDown:
            // The record is the last worker's until it has ended: the Go waits
            // for it instead of starting a second worker on the same record.
            if (!view_.readForm()) return;
            goWaiting_ = true;
            showStatus(kWaitingStatus);
            view_.refresh();
            return;
        case JobState::Running:
        case JobState::QueuePause:
        case JobState::Closing:
            return;
    }
}

void JobController::startFromForm() {
    const std::optional<GoForm> form = view_.readForm();
    if (form) start(*form);
}

bool JobController::start(const GoForm& form) {
    FlashJob& job = *job_;
    job.imageLength = 0;
    job.bytesWritten = 0;
    if (form.imageFile.empty() || ::access(form.imageFile.c_str(), R_OK) != 0) {
        return refuse("Invalid Binary File", form.imageFile);
    }
    if (form.modelRow < 0 || form.modelRow >= static_cast<int>(models_.size())) {
        return refuse("NO FLASH DEVICE SELECTED", form.imageFile);
    }
    if (form.imageFile.size() >= sizeof job.imagePath)
        return refuse("FILE PATH TOO LONG", form.imageFile);
    std::string host;
    int ipPort = kDefaultIpPort;
    if (form.driver != LINK_SERIAL) {
        const size_t colon = form.hostPort.find(':');
        host = form.hostPort.substr(0, colon);
        if (colon != std::string::npos) {
            ipPort = scanDecimal(std::string_view(form.hostPort).substr(colon + 1)).value_or(0);
        }
        if (host.size() >= sizeof job.hostName) return refuse("HOST NAME TOO LONG", form.imageFile);
    }

    startTick_ = static_cast<uint32_t>(clock_.nowMs());
    showStatus("");
    view_.setElapsed("");
    view_.setButtons(true);
    job.running = 1;
    job.failed = 0;
    job.linkKind = form.driver;
    job.baudRate = form.baudRate;
    job.deviceAddress = form.address;
    job.model = models_[static_cast<size_t>(form.modelRow)].get();
    copyField(job.imagePath, form.imageFile);
    if (form.driver != LINK_SERIAL) {
        copyField(job.hostName, host);
        job.port = ipPort;
    } else {
        job.port = form.portIndex + 1;
    }
    state_ = JobState::Running;
    workerOnRecord_ = true;
    doneReceived_ = false;
    aborted_ = false;
    beginRecord(form);
    view_.startThreads(job);
    view_.refresh();
    if (observer_ != nullptr) observer_->jobStarted(job);
    return true;
}

bool JobController::refuse(const std::string& status, const std::string& imageFile) {
    if (job_ == nullptr) return false;
    showStatus(status);
    job_->failed = 1;
    view_.refresh();
    if (observer_ != nullptr) observer_->startRefused(status, imageFile);
    return false;
}

void JobController::abort() {
    abortJob(kAbortedStatus, true);
}

void JobController::abortJob(const std::string& stopStatus, bool byOperator) {
    if (job_ == nullptr) return;
    switch (state_) {
        case JobState::Running:
            // The record tells an operator's stop from a failure; the stall
            // limit's stop is a failure.
            if (record_ != nullptr) record_->markStopped(stopStatus, byOperator);
            showStatus(kAbortedStatus);
            job_->running = 0;
            job_->failed = 1;
            aborted_ = true;
            state_ = JobState::WindingDown;
            break;
        case JobState::QueuePause:
            stopTheList();
            break;
        case JobState::Idle:
            showStatus("");
            job_->failed = 0;
            job_->imageLength = 0;
            break;
        case JobState::WindingDown:
        case JobState::Closing:
            // Abort is disabled here (the job has ended or is being aborted):
            // Escape must not turn a verified device into a failure.
            return;
    }
    view_.setButtons(false);
    view_.refresh();
}

void JobController::stopTheList() {
    view_.stopQueuePause();
    pending_->clear();
    listTaken_ = 0;
    queuedGoDue_ = false;
    showStatus(kAbortedStatus);
    job_->failed = 1;
    state_ = workerOnRecord_ ? JobState::WindingDown : JobState::Idle;
}

bool JobController::deviceListTaken() const {
    return state_ != JobState::QueuePause && state_ != JobState::Closing;
}

void JobController::listConfirmed() {
    if (job_ == nullptr) return;
    listTaken_ = 0;      // a new list: positions count from its start
    goWaiting_ = false;  // the list supersedes a single Go
    switch (state_) {
        case JobState::Idle:
            nextInQueue();
            return;
        case JobState::WindingDown:
            // The worker's own completion takes the first address when it has not
            // come yet; otherwise the list starts once the worker has ended.
            if (doneReceived_) listWaiting_ = true;
            return;
        case JobState::Running:  // the running job's completion takes it
        case JobState::QueuePause:
        case JobState::Closing:
            return;
    }
}

void JobController::close() {
    // Closing mid-job stops the device: its record says aborted.
    if (state_ == JobState::Running && record_ != nullptr)
        record_->markStopped(kAbortedStatus, true);
    state_ = JobState::Closing;
    view_.stopQueuePause();
    goWaiting_ = listWaiting_ = queuedGoDue_ = false;
    if (job_ != nullptr) job_->running = 0;
}

void JobController::abortForStall(int seconds) {
    if (state_ != JobState::Running) return;
    char line[64];
    std::snprintf(line, sizeof line, "NO BLOCK WRITTEN FOR %d SECONDS", seconds);
    logLine(line);
    abortJob(line, false);
}

void JobController::queuePauseElapsed() {
    if (state_ != JobState::QueuePause) return;
    if (workerOnRecord_) {
        queuedGoDue_ = true;
        return;
    }
    startQueued();
}

void JobController::startQueued() {
    queuedGoDue_ = false;
    state_ = JobState::Idle;
    view_.setButtons(false);  // as after the last job, should the start be refused
    view_.refresh();
    queuedStart_ = true;
    startFromForm();
    queuedStart_ = false;
}

void JobController::showStatus(const std::string& text, const std::string& detail) {
    statusDetail_ = detail;
    view_.setStatus(text);
}

void JobController::flashStatus(int ended, int logged) {
    if (job_ == nullptr) return;
    // Both texts are the worker's, read while it waits for this call; the
    // cause of a link that did not open comes with the job's final line.
    const std::string detail = ended ? fieldText(job_->linkFailure) : std::string();
    showFlashStatus(fieldText(job_->statusText), detail, ended, logged);
}

void JobController::flashStatus(const std::string& text, int ended, int logged) {
    if (job_ == nullptr) return;
    showFlashStatus(text, {}, ended, logged);
}

void JobController::showFlashStatus(const std::string& text, const std::string& detail, int ended,
                                    int logged) {
    if (logged) logLine(text);
    // Once aborted, the line says so until the job's own final line arrives.
    if (!aborted_ || ended) showStatus(text, detail);
    view_.setElapsed(elapsedText());
    if (ended) {
        checkRecordWritten();
        view_.setButtons(false);
        if (state_ == JobState::Running) state_ = JobState::WindingDown;
    }
    // Progress lines come once per block: the window shows the latest at its
    // own pace; logged and final lines show at once.
    if (ended || logged) {
        view_.refresh();
    } else {
        view_.refreshSoon();
    }
    if (observer_ != nullptr) {
        const uint32_t elapsedMs = static_cast<uint32_t>(clock_.nowMs()) - startTick_;
        observer_->jobStatus(*job_, ended, logged, elapsedMs);
    }
}

void JobController::flashCrc(int crc) {
    if (job_ == nullptr) return;
    char line[32];
    std::snprintf(line, sizeof line, "CRC8 = %02x hex", crc & 0xFF);
    view_.setCrc(line);
    view_.refresh();
}

void JobController::flashDone(int failed) {
    if (job_ == nullptr || state_ == JobState::Closing || !workerOnRecord_ || doneReceived_) {
        return;
    }
    doneReceived_ = true;
    checkRecordWritten();
    if (state_ == JobState::Running) {
        view_.setButtons(false);
        state_ = JobState::WindingDown;
    }
    if (failed) {
        const auto address = static_cast<uint16_t>(job_->deviceAddress);
        AddressList& failures = *failed_;
        if (std::find(failures.begin(), failures.end(), address) == failures.end()) {
            failures.push_back(address);
        }
    }
    goWaiting_ = goWaiting_ && pending_->empty();  // a queued run goes first
    nextInQueue();
    view_.refresh();
}

void JobController::nextInQueue() {
    AddressList& queue = *pending_;
    if (!queue.empty()) {
        const uint16_t next = queue.front();
        queue.erase(queue.begin());
        if (listTaken_ == 0) listLength_ = static_cast<int>(queue.size()) + 1;
        ++listTaken_;
        view_.setAddress(next);
        state_ = JobState::QueuePause;
        queuedGoDue_ = false;
        view_.setButtons(true);
        view_.startQueuePause(queuePauseMs_);
        view_.refresh();
    } else {
        listTaken_ = 0;
        if (failed_->size() > 1) view_.openRetryList();
    }
}

void JobController::quitRequested(int exitCode) {
    if (state_ == JobState::Closing) return;
    view_.quit(exitCode);
}

void JobController::workerEnded() {
    if (!workerOnRecord_) return;
    workerOnRecord_ = false;
    doneReceived_ = false;
    switch (state_) {
        case JobState::Running:  // ended without a completion: nothing more comes
        case JobState::WindingDown:
            state_ = JobState::Idle;
            view_.setButtons(false);
            if (listWaiting_) {
                listWaiting_ = false;
                nextInQueue();
            } else if (goWaiting_) {
                goWaiting_ = false;
                startFromForm();
            }
            view_.refresh();
            return;
        case JobState::QueuePause:
            if (queuedGoDue_) startQueued();
            return;
        case JobState::Idle:
        case JobState::Closing:
            return;
    }
}

void JobController::logLine(const std::string& text) {
    const std::string line = localTime_() + "  " + text;
    if (job_ != nullptr && job_->logFile != nullptr) {
        std::fputs((line + "\r\n").c_str(), job_->logFile);
        std::fflush(job_->logFile);
    }
    view_.addHistory(line);
    if (observer_ != nullptr) observer_->lineLogged(line);
}

std::string JobController::elapsedText() const {
    const uint32_t elapsedMs = static_cast<uint32_t>(clock_.nowMs()) - startTick_;
    char text[48];
    std::snprintf(text, sizeof text, "%0.1f seconds", elapsedMs * 0.001);
    return text;
}

void JobController::setRecord(std::string path, std::string program,
                              std::unique_ptr<RecordFile> file) {
    record_.reset();
    recordProblem_.clear();
    if (path.empty() || path == "-") return;
    recordPath_ = std::move(path);
    recordProgram_ = std::move(program);
    record_ = std::make_unique<ProductionRecord>(std::move(file));
}

void JobController::beginRecord(const GoForm& form) {
    job_->recorder = nullptr;
    if (record_ == nullptr) return;
    std::string error;
    if (!record_->open(recordPath_, error)) {
        noteRecordProblem("production record " + error);
        return;
    }
    RecordContext context;
    context.program = recordProgram_;
    context.station = stationName();
    context.user = userName();
    context.started = std::chrono::system_clock::now();
    if (queuedStart_) {
        context.queuePosition = listTaken_;
        context.queueLength = listLength_;
    }
    context.plan = form.plan;
    context.planLine = form.planLine;
    record_->beginJob(std::move(context));
    job_->recorder = record_.get();
}

void JobController::checkRecordWritten() {
    if (job_ == nullptr || job_->recorder == nullptr) return;
    const std::string error = record_->lastError();
    if (error.empty()) {
        recordProblem_.clear();
    } else {
        noteRecordProblem("production record " + recordPath_ + ": " + error);
    }
}

void JobController::noteRecordProblem(const std::string& reason) {
    recordProblem_ = reason;
    if (recordProblemsTold_.insert(reason).second && observer_ != nullptr) {
        observer_->recordProblem(reason);
    }
}

}  // namespace rw
