#include "ui/DialogNotifier.h"

#include "ui/ProgrammerDialog.h"

namespace rw {

DialogNotifier::DialogNotifier(ProgrammerDialog& dialog) : dialog_(dialog) {
    mailbox_.setWakeHook([this] {
        QMetaObject::invokeMethod(
            &context_, [this] { mailbox_.serve(); }, Qt::QueuedConnection);
    });
}

DialogNotifier::~DialogNotifier() {
    mailbox_.setWakeHook({});
}

void DialogNotifier::sendFlashStatus(FlashJob&, int ended, int logged) {
    mailbox_.call([this, ended, logged] { dialog_.onFlashStatus(ended, logged); });
}

void DialogNotifier::sendFlashCrc(FlashJob&, int crc) {
    mailbox_.call([this, crc] { dialog_.onFlashCrc(crc); });
}

void DialogNotifier::postFlashDone(int failed) {
    QMetaObject::invokeMethod(
        &context_, [this, failed] { dialog_.onFlashDone(failed); }, Qt::QueuedConnection);
}

void DialogNotifier::postQuit(int exitCode) {
    QMetaObject::invokeMethod(
        &context_, [this, exitCode] { dialog_.controller().quitRequested(exitCode); },
        Qt::QueuedConnection);
}

}  // namespace rw
