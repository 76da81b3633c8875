#pragma once
// A window stand-in for tests that run the programming sequence on their own
// thread: records every notification with a copy of the status text, and can
// run a test's hook inside each synchronous call (where the window would act,
// for example pressing Abort after a given status line).
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/JobNotifier.h"

namespace rwtest {

struct RecordedNotification {
    enum class Kind { Status, Crc, Done, Quit };
    Kind kind = Kind::Status;
    int wParam = 0;
    int lParam = 0;
    std::string statusText;  // Status only
    bool operator==(const RecordedNotification&) const = default;
};

class RecordingNotifier : public rw::JobNotifier {
  public:
    // Runs inside sendFlashStatus / sendFlashCrc, after the call was recorded.
    using SendHook = std::function<void(const RecordedNotification&, rw::FlashJob&)>;

    void setSendHook(SendHook hook);

    void sendFlashStatus(rw::FlashJob& job, int ended, int logged) override;
    void sendFlashCrc(rw::FlashJob& job, int crc) override;
    void postFlashDone(int failed) override;
    void postQuit(int exitCode) override;

    std::vector<RecordedNotification> records() const;
    // The status texts in order.
    std::vector<std::string> statusLines() const;
    // Status texts that ended the job (wParam 1).
    std::vector<std::string> finalLines() const;
    int count(RecordedNotification::Kind kind) const;

  private:
    void recordSend(RecordedNotification record, rw::FlashJob& job);

    mutable std::mutex mutex_;
    std::vector<RecordedNotification> records_;
    SendHook hook_;
};

}  // namespace rwtest
