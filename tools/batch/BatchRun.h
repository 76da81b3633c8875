#pragma once
#include <cstdio>

#include "engine/DeviceModel.h"
#include "tools/batch/BatchLink.h"
#include "tools/batch/BatchPlan.h"

namespace rw {

// Runs a plan: every link on its own programming thread, at most
// options.jobs links at once, all driven from the calling thread, which serves
// the workers' notifications, the pauses, stall limits and the display.
class BatchRun {
  public:
    BatchRun(const Plan& plan, const ModelTable& models, const BatchOptions& options,
             std::FILE* out, std::FILE* err, bool live);

    // Runs to the end; 0 when every device was programmed, 1 otherwise or
    // when a stop was requested.
    int run();

    // SIGINT and SIGTERM request a stop from now on: every running device is
    // aborted (its device switched out of programming mode), nothing else
    // starts, and run() returns 1 once all have wound down.
    static void stopOnSignals();
    // What the signals do; safe in a signal handler.
    static void requestStop();

  private:
    const Plan& plan_;
    const ModelTable& models_;
    const BatchOptions& options_;
    std::FILE* out_;
    std::FILE* err_;
    bool live_;
};

}  // namespace rw
