#pragma once
#include <QObject>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "control/JobView.h"
#include "control/StallWatch.h"

namespace rw {

class Clock;
class JobController;
class SignalAbort;

// What only command-line mode has: every logged status on stdout in the log's
// own form ("<date and time>  STATUS"), a progress line redrawn on stderr when
// that is a terminal, SIGINT/SIGTERM as Abort, the stall limit, and the exit
// code. It watches the job controller and drives it like an operator would.
class CommandLineSession : public QObject, public JobObserver {
    Q_OBJECT
  public:
    // quit ends the program's run with an exit code. stallSeconds 0: no limit.
    CommandLineSession(JobController& controller, Clock& clock, int stallSeconds, bool windowless,
                       std::function<void(int)> quit, std::FILE* out = stdout,
                       std::FILE* err = stderr);
    ~CommandLineSession() override;

    // Turns SIGINT and SIGTERM into signalled() from now on.
    void listenForSignals();
    // A signal: the job is aborted (the device is switched out of programming
    // mode by its wind-down) and the run ends failed.
    void signalled();
    // The program's exit code for the job's: 1 after a signal, whatever the job says.
    int exitCode(int jobExitCode) const { return signalled_ ? 1 : jobExitCode; }
    // A start refused without a window, or why a job could not run (its link
    // did not open): the reason on stderr.
    void refusal(const std::string& reason);
    // A warning on stderr that does not stop anything.
    void warning(const std::string& text);
    // Checks the stall limit (the session's timer does this four times a second).
    void checkStall();

    void jobStarted(const FlashJob& job) override;
    void startRefused(const std::string& status, const std::string& imageFile) override;
    void jobStatus(const FlashJob& job, int ended, int logged, uint32_t elapsedMs) override;
    void lineLogged(const std::string& line) override;
    void recordProblem(const std::string& reason) override { warning(reason); }

  private:
    void clearProgress();
    void finishProgress();

    JobController& controller_;
    Clock& clock_;
    StallWatch stall_;
    bool windowless_;
    std::function<void(int)> quit_;
    std::FILE* out_;
    std::FILE* err_;
    bool progressLine_;
    bool progressShown_ = false;
    uint32_t lastDrawMs_ = 0;  // elapsed time of the last progress line drawn
    bool signalled_ = false;
    QTimer stallTimer_;
    std::unique_ptr<SignalAbort> signals_;
};

}  // namespace rw
