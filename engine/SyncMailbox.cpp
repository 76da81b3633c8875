#include "engine/SyncMailbox.h"

#include <chrono>

namespace rw {

void SyncMailbox::setWakeHook(std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    wakeHook_ = std::move(hook);
}

void SyncMailbox::enqueue(Entry entry, Wake wake) {
    std::function<void()> hook;
    {
        std::lock_guard lock(mutex_);
        // A serve already asked for runs this entry too: one wake per batch.
        if (wake == Wake::Now && !wakeDue_) {
            hook = wakeHook_;
            wakeDue_ = static_cast<bool>(hook);
        }
        queue_.push_back(std::move(entry));
    }
    if (wake == Wake::Now) queued_.notify_all();
    if (hook) hook();
}

void SyncMailbox::call(const std::function<void()>& fn) {
    bool done = false;
    enqueue(Entry{{}, &fn, &done}, Wake::Now);
    std::unique_lock lock(mutex_);
    handled_.wait(lock, [&] { return done; });
}

void SyncMailbox::post(std::function<void()> fn, Wake wake) {
    enqueue(Entry{std::move(fn), nullptr, nullptr}, wake);
}

int SyncMailbox::serve() {
    {
        std::lock_guard lock(mutex_);
        wakeDue_ = false;  // entries queued from now on need a wake of their own
    }
    int count = 0;
    for (;;) {
        Entry entry;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty()) break;
            entry = std::move(queue_.front());
            queue_.pop_front();
        }
        if (entry.called != nullptr) {
            (*entry.called)();
            {
                std::lock_guard lock(mutex_);
                *entry.done = true;
            }
            handled_.notify_all();
        } else {
            entry.posted();
        }
        ++count;
    }
    return count;
}

int SyncMailbox::serveFor(int timeoutMs) {
    {
        std::unique_lock lock(mutex_);
        queued_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                         [&] { return !queue_.empty() || woken_; });
        woken_ = false;
    }
    return serve();
}

void SyncMailbox::wake() {
    {
        std::lock_guard lock(mutex_);
        woken_ = true;
    }
    queued_.notify_all();
}

}  // namespace rw
