#pragma once
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace rw {

// Carries synchronous calls from a worker thread to the window thread.
// The worker's call() queues a function and blocks until the window thread has
// run it. The window thread runs queued calls with serve(): normally from its
// event loop, woken by the wake hook; while it waits for the worker to end it
// serves the mailbox directly (waitForThreadEnd), so the two never wait on each
// other, and nothing but the worker's calls runs during that wait.
class SyncMailbox {
  public:
    // Called on the worker thread each time a call is queued (for example to
    // post a "serve now" event to the window's event loop). May be empty.
    void setWakeHook(std::function<void()> hook);

    // Worker side: runs fn on the serving thread and returns after it has run.
    void call(const std::function<void()>& fn);

    // Serving side: runs every queued call; returns how many ran.
    int serve();
    // Serving side: waits up to timeoutMs for a queued call or a wake(), then serves.
    int serveFor(int timeoutMs);
    // Wakes a thread blocked in serveFor (for example when a worker ends).
    void wake();

  private:
    struct Pending {
        const std::function<void()>* fn;
        bool done;
    };
    std::mutex mutex_;
    std::condition_variable queued_;
    std::condition_variable handled_;
    std::deque<Pending*> queue_;
    std::function<void()> wakeHook_;
    bool woken_ = false;
};

}  // namespace rw
