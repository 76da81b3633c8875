#pragma once
#include <functional>
#include <memory>
#include <string>

#include "base/Codes.h"
#include "engine/WorkerServices.h"

namespace rw {

struct DeviceModel;
struct FlashJob;

// What one job programs: the fields Go takes from the window.
struct JobRequest {
    const DeviceModel* model = nullptr;
    int deviceAddress = 0;
    int linkKind = LINK_SERIAL;
    std::string hostName;  // network links
    int port = 0;          // COM port number, or IP port
    int baudRate = 38400;
    std::string imagePath;
    bool autoExit = false;  // the worker also asks to quit at the end
};

// One notification of the programming thread.
struct JobEvent {
    enum class Kind { Status, Crc, Done, Quit };
    Kind kind = Kind::Status;
    bool ended = false;   // Status: the job ended with this line
    bool logged = false;  // Status: the line goes to the log
    std::string text;     // Status: a copy of the status line
    int crc = 0;          // Crc: the image CRC-8
    int failed = 0;       // Done: the device failed; Quit: the exit code
};

// Runs programming jobs without a window: the calling thread plays the window's
// part, serving the worker's synchronous calls until the worker has ended, and
// hands every notification to a listener, in order. One job record, reused.
class JobRunner {
  public:
    // Called on the thread of run() for every notification; the job may be
    // inspected there (and Abort requested).
    using Listener = std::function<void(const JobEvent& event, FlashJob& job)>;

    explicit JobRunner(WorkerServices services = {});
    ~JobRunner();
    JobRunner(const JobRunner&) = delete;
    JobRunner& operator=(const JobRunner&) = delete;

    void setListener(Listener listener);
    FlashJob& job() { return *job_; }

    // Fills the job as Go does and runs it to its end: the final failed flag.
    unsigned run(const JobRequest& request);
    // What the window's Abort does while a job runs; safe from any thread.
    void requestAbort();

  private:
    class Window;

    WorkerServices services_;
    std::unique_ptr<FlashJob> job_;
    std::unique_ptr<Window> window_;
};

}  // namespace rw
