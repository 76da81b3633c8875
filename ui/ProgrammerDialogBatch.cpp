// The device list and the sound-scheme menu of the main dialog.
#include "ui/DeviceListDialog.h"
#include "ui/ProgrammerDialog.h"
#include "ui/SoundMenu.h"

namespace {

// The programming thread posts its completion just before it lets go of the
// record, so while `running` is set or the thread has not ended, that
// completion is still to come.
bool completionStillToCome(const rw::FlashJob& job) {
    const rw::WorkerThread& worker = job.workerThread;
    return job.running.load() != 0 || (worker.attached() && !worker.finished());
}

}  // namespace

void ProgrammerDialog::runDeviceList() {
    if (!DeviceListDialog::runAndQueue(this)) return;
    // A job still on the record takes the first queued address through its own
    // completion. A notice of ours as well would change the record's address
    // under the running worker and start a second job on the one record.
    if (job() != nullptr && completionStillToCome(*job())) return;
    postFlashDone(0);
}

void ProgrammerDialog::showSoundMenu() {
    if (SoundMenu::choose(this)) postSoundChanged();
}
