#pragma once
#include <functional>
#include <memory>

namespace rw {

struct FlashJob;
class SoundPlayer;
class SyncMailbox;
class Transport;
class WorkerThread;

// What a programming thread needs besides the job record. The window fills one
// per program; tests fill their own. The notifier is job.window.
struct WorkerServices {
    SoundPlayer* sound = nullptr;  // null: no sounds at all
    // Creates the link for the job's linkKind; empty: the real links.
    std::function<std::unique_ptr<Transport>(FlashJob&)> makeLink;
};

// The real link for the job: TCP (hostName, port), UDP (hostName, port), or
// serial (port) for any other linkKind.
std::unique_ptr<Transport> createLink(FlashJob& job);

// Programs one device from the filled job record; returns the final `failed`
// flag (0 or 1). Runs on the job's workerThread.
unsigned ProgramDeviceThread(FlashJob& job, const WorkerServices& services);

// Starts ProgramDeviceThread on job.workerThread.
void startProgramDeviceThread(FlashJob& job, const WorkerServices& services);

// Waits until the programming thread has ended and joins it, running the
// worker's synchronous calls from mailbox meanwhile and nothing else. thread may
// be null; a thread that was never started returns at once.
void waitForThreadEnd(WorkerThread* thread, SyncMailbox& mailbox);

}  // namespace rw
