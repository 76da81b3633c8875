#include "ui/DialogNotifier.h"

#include <cstring>
#include <string>

#include "engine/FlashJob.h"
#include "ui/ProgrammerDialog.h"

namespace rw {

namespace {
constexpr int kFrameMs = 16;
}

DialogNotifier::DialogNotifier(ProgrammerDialog& dialog) : dialog_(dialog) {
    mailbox_.setWakeHook([this] {
        QMetaObject::invokeMethod(
            &context_, [this] { mailbox_.serve(); }, Qt::QueuedConnection);
    });
    serveTimer_.setInterval(kFrameMs);
    QObject::connect(&serveTimer_, &QTimer::timeout, &context_, [this] { mailbox_.serve(); });
}

DialogNotifier::~DialogNotifier() {
    mailbox_.setWakeHook({});
}

void DialogNotifier::startServing() {
    serveTimer_.start();
}

void DialogNotifier::stopServing() {
    serveTimer_.stop();
    mailbox_.serve();
}

void DialogNotifier::sendFlashStatus(FlashJob& job, int ended, int logged) {
    if (ended == 0 && logged == 0) {
        // A progress line: the window takes a copy, in order, and the worker goes on.
        std::string text(job.statusText, strnlen(job.statusText, sizeof job.statusText));
        mailbox_.post([this, text = std::move(text)] { dialog_.onFlashProgress(text); },
                      SyncMailbox::Wake::Later);
        return;
    }
    mailbox_.call([this, ended, logged] { dialog_.onFlashStatus(ended, logged); });
}

void DialogNotifier::sendFlashCrc(FlashJob&, int crc) {
    mailbox_.call([this, crc] { dialog_.onFlashCrc(crc); });
}

void DialogNotifier::postFlashDone(int failed) {
    mailbox_.post([this, failed] { dialog_.onFlashDone(failed); });
}

void DialogNotifier::postQuit(int exitCode) {
    mailbox_.post([this, exitCode] { dialog_.controller().quitRequested(exitCode); });
}

}  // namespace rw
