#include "engine/SyncMailbox.h"

#include <chrono>

namespace rw {

void SyncMailbox::setWakeHook(std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    wakeHook_ = std::move(hook);
}

void SyncMailbox::call(const std::function<void()>& fn) {
    Pending pending{&fn, false};
    std::function<void()> hook;
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(&pending);
        hook = wakeHook_;
    }
    queued_.notify_all();
    if (hook) hook();
    std::unique_lock lock(mutex_);
    handled_.wait(lock, [&] { return pending.done; });
}

int SyncMailbox::serve() {
    int count = 0;
    for (;;) {
        Pending* pending = nullptr;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty()) break;
            pending = queue_.front();
            queue_.pop_front();
        }
        (*pending->fn)();
        {
            std::lock_guard lock(mutex_);
            pending->done = true;
        }
        handled_.notify_all();
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
