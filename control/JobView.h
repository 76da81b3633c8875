#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace rw {

struct FlashJob;

// What Go reads from the window's controls.
struct GoForm {
    int32_t address = 0;
    int32_t driver = 1;  // link kind: 1 serial, 2 TCP, 3 UDP
    int32_t baudRate = 0;
    std::string imageFile;  // the path as the file system takes it
    std::string hostPort;   // network links: "host:port" or "host"
    int modelRow = -1;      // row of the model table; -1 when no model is selected
    int portIndex = -1;     // COM list index (COM1 = 0); -1 when none is selected
    std::string plan;       // a batch's plan file and the device's line in it, for the record
    int planLine = 0;
};

// What the job controller asks of the window that shows a job. The setters only
// change the window's values; refresh() puts them on screen. Everything is called
// on the window's thread.
class JobView {
  public:
    virtual ~JobView() = default;

    // Go's first step: the controls, read and validated; empty when validation
    // failed (the view has told the operator why).
    virtual std::optional<GoForm> readForm() = 0;

    virtual void setStatus(const std::string& text) = 0;
    virtual void setElapsed(const std::string& text) = 0;
    virtual void setCrc(const std::string& text) = 0;
    virtual void setAddress(int32_t address) = 0;
    // A logged line ("<date and time>  STATUS"), shown first in the history.
    virtual void addHistory(const std::string& line) = 0;
    // live: a job or a queued run is under way (Go and Browse off, Abort on).
    virtual void setButtons(bool live) = 0;
    // Shows the values set above; the status colour and the bar follow the job.
    virtual void refresh() = 0;
    // The same, soon: many calls in quick succession may be shown as one.
    virtual void refreshSoon() { refresh(); }

    // Starts the busy animation and the programming thread on the filled job.
    // Later, on the window's thread, the view calls JobController::workerEnded()
    // once both threads have let go of the record.
    virtual void startThreads(FlashJob& job) = 0;
    // Runs the device list (in its retry form) after the current call has returned.
    virtual void openRetryList() = 0;
    // The pause before a queued Go: JobController::queuePauseElapsed() after ms.
    virtual void startQueuePause(int ms) = 0;
    virtual void stopQueuePause() = 0;
    // Ends the program's run with exitCode (command-line mode).
    virtual void quit(int exitCode) = 0;
};

// Optional listener for what a job does, for hosts that print or watch it (the
// command-line session). Called on the window's thread, after the view.
class JobObserver {
  public:
    virtual ~JobObserver() = default;
    // A job's threads were started.
    virtual void jobStarted(const FlashJob& job) { (void)job; }
    // Go was refused before anything started (missing file, no model...);
    // imageFile: the file Go was given, empty when Go did not get that far.
    virtual void startRefused(const std::string& status, const std::string& imageFile) {
        (void)status, (void)imageFile;
    }
    // A status of the programming thread; elapsedMs since Go.
    virtual void jobStatus(const FlashJob& job, int ended, int logged, uint32_t elapsedMs) {
        (void)job, (void)ended, (void)logged, (void)elapsedMs;
    }
    // A logged line, as the log file has it (without CR LF).
    virtual void lineLogged(const std::string& line) { (void)line; }
    // The production record could not be written (each reason once); programming goes on.
    virtual void recordProblem(const std::string& reason) { (void)reason; }
};

}  // namespace rw
