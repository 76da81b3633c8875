#pragma once
#include <QObject>

#include "engine/JobNotifier.h"
#include "engine/SyncMailbox.h"

namespace rw {

class ProgrammerDialog;

// The window's side of the engine's notifications. Status and CRC reports are
// carried through a mailbox that the window thread serves (from its event loop,
// or directly while it waits for the worker to end); the worker waits inside
// each one. Completion and the quit request are queued calls on the dialog.
class DialogNotifier : public JobNotifier {
  public:
    explicit DialogNotifier(ProgrammerDialog& dialog);
    ~DialogNotifier() override;

    SyncMailbox& mailbox() { return mailbox_; }

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
};

}  // namespace rw
