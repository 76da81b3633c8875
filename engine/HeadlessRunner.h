#pragma once
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/FlashJob.h"
#include "engine/ProgramDevice.h"

namespace rw {

// One thing the programming thread reported or played, as the window would see it.
struct Notification {
    enum class Kind { Status, Crc, Done, Quit, SoundOnce, SoundLooping, SoundEnd };
    Kind kind = Kind::Status;
    int wParam = 0;    // Status: ended; Crc: the CRC; Done: failed; Quit: exit code
    int lParam = 0;    // Status: logged
    std::string text;  // Status: a copy of statusText; sounds: the file's path
};

// What one headless job programs.
struct HeadlessRequest {
    const DeviceModel* model = nullptr;
    int deviceAddress = 0;
    int linkKind = LINK_SERIAL;
    std::string hostName;  // network links
    int port = 0;          // COM port number or IP port
    int baudRate = 38400;
    std::string imagePath;
    bool autoExit = false;
};

struct HeadlessResult {
    std::vector<Notification> notifications;  // in the order they happened
    unsigned failed = 1;                      // the worker's exit code

    // The texts of the status notifications, in order.
    std::vector<std::string> statusLines() const;
    // The paths of every sound played, in order.
    std::vector<std::string> sounds() const;
};

// Runs the programming thread for one device without a window: the calling
// thread plays the window's part, serving the worker's synchronous calls from a
// mailbox until the worker has ended. Every notification and sound is recorded.
class HeadlessRunner {
  public:
    // Called on the calling thread of run() for every record, in order; the job
    // may be inspected (and Abort requested) from it.
    using Observer = std::function<void(const Notification&, FlashJob&)>;

    // services.sound may be null (no sounds reach a player; they are still
    // recorded); services.makeLink empty: the real links.
    explicit HeadlessRunner(WorkerServices services = {});
    ~HeadlessRunner();
    HeadlessRunner(const HeadlessRunner&) = delete;
    HeadlessRunner& operator=(const HeadlessRunner&) = delete;

    void setObserver(Observer observer);
    FlashJob& job() { return *job_; }

    // Fills the job as Go does and runs it to its end.
    HeadlessResult run(const HeadlessRequest& request);

    // What the window's Abort does while a job runs; safe from any thread.
    void requestAbort();

  private:
    class Recorder;

    void fillJob(const HeadlessRequest& request);

    WorkerServices services_;
    std::unique_ptr<FlashJob> job_;
    std::unique_ptr<Recorder> recorder_;
};

}  // namespace rw
