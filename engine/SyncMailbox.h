#pragma once
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace rw {

// Carries calls from a worker thread to the window thread, in order.
// The worker's call() queues a function and blocks until the window thread has
// run it; post() queues one and returns at once. The window thread runs queued
// functions with serve(): normally from its event loop, woken by the wake hook;
// while it waits for the worker to end it serves the mailbox directly
// (waitForThreadEnd), so the two never wait on each other, and nothing but the
// worker's calls runs during that wait.
class SyncMailbox {
  public:
    // Called on the worker thread when a function is queued into an empty
    // mailbox (for example to post a "serve now" event to the window's event
    // loop); one serve() runs everything queued since. May be empty.
    void setWakeHook(std::function<void()> hook);

    // Worker side: runs fn on the serving thread and returns after it has run.
    void call(const std::function<void()>& fn);
    // When the serving side learns of a posted function: at once (the wake hook,
    // or a serveFor() waiting), or at its next serve, which the owner schedules
    // itself (a timer, serveFor()'s time-out).
    enum class Wake { Now, Later };
    // Worker side: queues fn to run on the serving thread and returns at once.
    void post(std::function<void()> fn, Wake wake = Wake::Now);

    // Serving side: runs every queued function, in order; returns how many ran.
    int serve();
    // Serving side: waits up to timeoutMs for a queued function or a wake(), then serves.
    int serveFor(int timeoutMs);
    // Wakes a thread blocked in serveFor (for example when a worker ends).
    void wake();

  private:
    struct Entry {
        std::function<void()> posted;                   // post(): owned here
        const std::function<void()>* called = nullptr;  // call(): the caller's, while it waits
        bool* done = nullptr;                           // call(): set once it has run
    };
    // Queues an entry; with Wake::Now, wakes the serving side unless a wake
    // is already due.
    void enqueue(Entry entry, Wake wake);

    std::mutex mutex_;
    std::condition_variable queued_;
    std::condition_variable handled_;
    std::deque<Entry> queue_;
    std::function<void()> wakeHook_;
    bool woken_ = false;
    bool wakeDue_ = false;  // the hook ran and the serve it asked for has not begun
};

}  // namespace rw
