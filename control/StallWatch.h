#pragma once
#include <cstdint>

namespace rw {

// The stall limit of unattended runs: a job whose block writes make no progress
// for `limitSeconds` is given up. The count starts at the job's first unlogged
// status (the write phase: the erase notice or the first block), allows the
// model's erase wait on top, and restarts at every change of bytesWritten.
class StallWatch {
  public:
    // limitSeconds 0 or less: no limit.
    explicit StallWatch(int limitSeconds) : limitSeconds_(limitSeconds) {}

    int limitSeconds() const { return limitSeconds_; }
    // A new job starts: nothing is counted until its write phase.
    void jobStarted(int64_t nowMs);
    // A status of the job: logged ones belong to the phases before the writing.
    void status(bool logged, int32_t bytesWritten, int32_t eraseWaitSeconds, int64_t nowMs);
    // The limit has passed without progress.
    bool expired(int64_t nowMs) const;

  private:
    int limitSeconds_;
    int64_t writePhaseMs_ = -1;  // first status of the write phase; -1 before it
    int64_t eraseEndMs_ = 0;
    int64_t lastProgressMs_ = 0;
    int32_t lastBytesWritten_ = 0;
};

}  // namespace rw
