#pragma once
#include <functional>
#include <memory>

#include "engine/WorkerServices.h"

namespace rw {

struct FlashJob;
class SyncMailbox;
class Transport;
class WorkerThread;

// The real link for the job: TCP (hostName, port), UDP (hostName, port), or
// serial (port, at the device path services give it) for any other linkKind.
std::unique_ptr<Transport> createLink(FlashJob& job, const WorkerServices& services);

// Programs one device from the filled job record; returns the final `failed`
// flag (0 or 1). Runs on the job's workerThread. The notifier is job.window.
unsigned ProgramDeviceThread(FlashJob& job, const WorkerServices& services);

// Starts ProgramDeviceThread on job.workerThread.
void startProgramDeviceThread(FlashJob& job, const WorkerServices& services);

// Waits until the programming thread has ended and joins it, running the
// worker's synchronous calls from mailbox meanwhile and nothing else. thread may
// be null; a thread that was never started returns at once.
void waitForThreadEnd(WorkerThread* thread, SyncMailbox& mailbox);

}  // namespace rw
