#pragma once
#include <atomic>
#include <functional>
#include <thread>

namespace rw {

// The engine's thread object: a std::thread plus a flag that says whether its
// function has returned, and the value it returned. The object stays valid after
// the thread ends, so whoever waits for it never reads a released object.
class WorkerThread {
  public:
    WorkerThread() = default;
    ~WorkerThread();  // joins a thread that is still attached
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Starts fn on a new thread. A previous thread is joined first.
    void start(std::function<unsigned()> fn);
    // A thread was started and not yet joined.
    bool attached() const { return thread_.joinable(); }
    // A started thread's function has returned (true also when nothing runs).
    bool finished() const { return !thread_.joinable() || done_.load(std::memory_order_acquire); }
    // The function's result; valid once finished().
    unsigned exitCode() const { return exitCode_.load(std::memory_order_acquire); }
    // Waits for the thread to end; nothing happens when none is attached.
    void join();

  private:
    std::thread thread_;
    std::atomic<bool> done_{false};
    std::atomic<unsigned> exitCode_{0};
};

}  // namespace rw
