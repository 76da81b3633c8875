#pragma once
#include <QObject>
#include <QTimer>

#include "engine/JobNotifier.h"
#include "engine/SyncMailbox.h"

namespace rw {

class ProgrammerDialog;

// The window's side of the engine's notifications, all carried in order through
// one mailbox that the window thread serves (from its event loop, or directly
// while it waits for the worker to end). Logged and final statuses and the CRC
// are handled while the worker waits. A progress line is posted as a copy without
// waking the window: the window serves those at its frame rate (or with the next
// notification that wakes it), so the worker never waits for the window between
// blocks. Completion and the quit request are posted and wake the window.
class DialogNotifier : public JobNotifier {
  public:
    explicit DialogNotifier(ProgrammerDialog& dialog);
    ~DialogNotifier() override;

    SyncMailbox& mailbox() { return mailbox_; }
    // While a worker runs: serve the mailbox at the frame rate (window thread).
    void startServing();
    void stopServing();

    void sendFlashStatus(FlashJob& job, int ended, int logged) override;
    void sendFlashCrc(FlashJob& job, int crc) override;
    void postFlashDone(int failed) override;
    void postQuit(int exitCode) override;

  private:
    ProgrammerDialog& dialog_;
    SyncMailbox mailbox_;
    // Queued calls go through this object, which lives on the window thread; Qt
    // drops them if it is gone.
    QObject context_;
    QTimer serveTimer_;
};

}  // namespace rw
