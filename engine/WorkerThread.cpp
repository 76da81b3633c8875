#include "engine/WorkerThread.h"

namespace rw {

WorkerThread::~WorkerThread() {
    join();
}

void WorkerThread::start(std::function<unsigned()> fn) {
    join();
    done_.store(false, std::memory_order_release);
    thread_ = std::thread([this, fn = std::move(fn)] {
        exitCode_.store(fn(), std::memory_order_release);
        done_.store(true, std::memory_order_release);
    });
}

void WorkerThread::join() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

}  // namespace rw
