#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "control/AddressLists.h"
#include "control/JobView.h"
#include "control/ProductionRecord.h"
#include "engine/DeviceModel.h"

namespace rw {

class Clock;
struct FlashJob;

// The life of the job record, as one state machine:
//   Idle        no programming thread on the record; Go starts one.
//   Running     a job is live: Abort stops it, statuses and the CRC come in.
//   WindingDown the job ended (final status) or was aborted, but its threads
//               still hold the record; Go waits for them, Abort does nothing.
//   QueuePause  the pause before the next queued address; Go, Abort-as-usual and
//               the device list are not taken, Abort drops the rest of the list.
//   Closing     the window is closing; only the worker's statuses are shown.
enum class JobState { Idle, Running, WindingDown, QueuePause, Closing };
const char* jobStateName(JobState state);

// Drives one job record: every operator command and every notification of the
// programming thread is one transition here; a command that does not apply in
// the current state does nothing. It drives the process-wide PendingQueue and
// FailedList, writes the log file, and shows everything through a JobView.
// Plain C++, single-threaded: all calls come on the window's thread.
class JobController {
  public:
    // The Go state refuses paths and host names longer than the record holds.
    JobController(JobView& view, Clock& clock, const ModelTable& models);

    // The record the controller drives (the window owns it); null once freed.
    void setJob(FlashJob* job) { job_ = job; }
    FlashJob* job() const { return job_; }
    void setObserver(JobObserver* observer) { observer_ = observer; }
    void setQueuePauseMs(int ms) { queuePauseMs_ = ms; }
    // The address queue and failed list this controller drives (by default the
    // process-wide ones); a host with several controllers gives each its own.
    void setLists(AddressList& pending, AddressList& failed) {
        pending_ = &pending;
        failed_ = &failed;
    }
    // The production record: every job that starts a worker appends one line to
    // `path` ("" or "-": no record). `program` names us in it ("romwright 1.1.0.4").
    void setRecord(std::string path, std::string program,
                   std::unique_ptr<RecordFile> file = posixRecordFile());
    // Why the production record could not be written; empty once a line went out.
    const std::string& recordProblem() const { return recordProblem_; }
    // The "%c" date and time of log lines; replaced by tests.
    void setLocalTime(std::function<std::string()> localTime) { localTime_ = std::move(localTime); }

    JobState state() const { return state_; }
    // Go or Abort would reach a job: a programming thread still holds the record.
    bool workerOnRecord() const { return workerOnRecord_; }

    // Commands.
    void go();     // Go: the button, Enter, the command line
    void abort();  // Abort: the button or Escape
    // Go refused before anything started: shows the status in red.
    void refuseStart(const std::string& status) { refuse(status, ""); }
    // The device list may be opened now (not during the queue pause or closing).
    bool deviceListTaken() const;
    // The device list was confirmed; PendingQueue holds its addresses.
    void listConfirmed();
    // The close command: stops timers and asks the programming thread to end.
    void close();
    // No block was written for `seconds`: logs it and aborts the job as failed.
    void abortForStall(int seconds);
    void queuePauseElapsed();

    // The programming thread's notifications.
    // The status line in the job record's statusText.
    void flashStatus(int ended, int logged);
    // A copy of the status line (a progress line the worker did not wait for).
    void flashStatus(const std::string& text, int ended, int logged);
    void flashCrc(int crc);
    void flashDone(int failed);
    void quitRequested(int exitCode);
    // Both threads of the last Go have let go of the record (the link is closed).
    void workerEnded();

    // Why the status line's failure happened, beyond its text (the cause of a
    // link that did not open: "COM3 (/dev/ttyUSB0): no such device"); empty
    // when there is nothing to add. It belongs to the status line last shown.
    const std::string& statusDetail() const { return statusDetail_; }

    // Writes "<%c date and time>  text" to the log file, the history and the observer.
    void logLine(const std::string& text);
    // "%0.1f seconds" since startTick, the tick count wrapping at 32 bits.
    std::string elapsedText() const;

  private:
    // Go's steps after the form was read; false when the start was refused.
    bool start(const GoForm& form);
    bool refuse(const std::string& status, const std::string& imageFile);
    // Every status line the view shows goes through here, with its detail.
    void showStatus(const std::string& text, const std::string& detail = {});
    void showFlashStatus(const std::string& text, const std::string& detail, int ended, int logged);
    void startFromForm();
    // The queued Go after the pause, once no worker holds the record.
    void startQueued();
    // Takes the next queued address into the pause, or offers the retry.
    void nextInQueue();
    void stopTheList();
    // The job that starts now gets its record file opened and its context.
    void beginRecord(const GoForm& form);
    // The last append's failure (or the open's), told once per reason.
    void noteRecordProblem(const std::string& reason);
    // After the job's append: its failure, if any, is noted.
    void checkRecordWritten();
    // Abort's steps; `byOperator` false for the stall limit (the job failed).
    // `stopStatus`: the record's status should the job end without a final line.
    void abortJob(const std::string& stopStatus, bool byOperator);

    JobView& view_;
    Clock& clock_;
    const ModelTable& models_;
    FlashJob* job_ = nullptr;
    JobObserver* observer_ = nullptr;
    std::function<std::string()> localTime_;
    int queuePauseMs_ = 1000;

    JobState state_ = JobState::Idle;
    bool workerOnRecord_ = false;
    bool doneReceived_ = false;  // the worker on the record has posted its completion
    bool aborted_ = false;       // the live job was aborted: progress lines keep that status
    bool goWaiting_ = false;     // the operator's Go waits for the worker to end
    bool listWaiting_ = false;   // a confirmed list waits for the worker to end
    bool queuedGoDue_ = false;   // the pause is over; the queued Go waits for the worker
    uint32_t startTick_ = 0;
    AddressList* pending_ = &pendingQueue();
    AddressList* failed_ = &failedList();
    int listTaken_ = 0;   // addresses taken from the current list so far; 0: no list under way
    int listLength_ = 0;  // the list's length when its first address was taken
    bool queuedStart_ = false;  // the Go under way was taken from the list
    std::unique_ptr<ProductionRecord> record_;
    std::string recordPath_;
    std::string recordProgram_;
    std::string recordProblem_;
    std::set<std::string> recordProblemsTold_;
    std::string statusDetail_;
};

}  // namespace rw
