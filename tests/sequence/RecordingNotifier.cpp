#include "RecordingNotifier.h"

#include "engine/FlashJob.h"

namespace rwtest {

using Kind = RecordedNotification::Kind;

void RecordingNotifier::setSendHook(SendHook hook) {
    std::lock_guard lock(mutex_);
    hook_ = std::move(hook);
}

void RecordingNotifier::recordSend(RecordedNotification record, rw::FlashJob& job) {
    SendHook hook;
    {
        std::lock_guard lock(mutex_);
        records_.push_back(record);
        hook = hook_;
    }
    if (hook) hook(record, job);
}

void RecordingNotifier::sendFlashStatus(rw::FlashJob& job, int ended, int logged) {
    recordSend({Kind::Status, ended, logged, job.statusText}, job);
}

void RecordingNotifier::sendFlashCrc(rw::FlashJob& job, int crc) {
    recordSend({Kind::Crc, crc, 0, {}}, job);
}

void RecordingNotifier::postFlashDone(int failed) {
    std::lock_guard lock(mutex_);
    records_.push_back({Kind::Done, failed, 0, {}});
}

void RecordingNotifier::postQuit(int exitCode) {
    std::lock_guard lock(mutex_);
    records_.push_back({Kind::Quit, exitCode, 0, {}});
}

std::vector<RecordedNotification> RecordingNotifier::records() const {
    std::lock_guard lock(mutex_);
    return records_;
}

std::vector<std::string> RecordingNotifier::statusLines() const {
    std::vector<std::string> lines;
    for (const RecordedNotification& record : records()) {
        if (record.kind == Kind::Status) lines.push_back(record.statusText);
    }
    return lines;
}

std::vector<std::string> RecordingNotifier::finalLines() const {
    std::vector<std::string> lines;
    for (const RecordedNotification& record : records()) {
        if (record.kind == Kind::Status && record.wParam == 1) lines.push_back(record.statusText);
    }
    return lines;
}

int RecordingNotifier::count(Kind kind) const {
    int total = 0;
    for (const RecordedNotification& record : records()) total += record.kind == kind ? 1 : 0;
    return total;
}

}  // namespace rwtest
