#include "tools/batch/BatchRun.h"

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <set>

#include "base/Clock.h"
#include "engine/SyncMailbox.h"
#include "tools/batch/BatchDisplay.h"

namespace rw {

namespace {

// The serving thread looks at signals, stall limits and the display at least this often.
constexpr int64_t kTickMs = 100;

std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void onStopSignal(int) {
    BatchRun::requestStop();
}

}  // namespace

BatchRun::BatchRun(const Plan& plan, const ModelTable& models, const BatchOptions& options,
                   std::FILE* out, std::FILE* err, bool live)
    : plan_(plan), models_(models), options_(options), out_(out), err_(err), live_(live) {}

void BatchRun::stopOnSignals() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

void BatchRun::requestStop() {
    stopRequested.store(true);
}

int BatchRun::run() {
    Clock& clock = systemClock();
    const int64_t startMs = clock.nowMs();
    SyncMailbox mailbox;
    BatchDisplay display(out_, live_);
    std::set<std::string> problemsTold;
    BatchDisplay::Links links;
    for (size_t i = 0; i < plan_.links.size(); ++i) {
        links.push_back(std::make_unique<BatchLink>(plan_, i, models_, mailbox, options_));
        links.back()->onDeviceEnded = [&display](const BatchLink& link, const PlanDevice& device,
                                                 const DeviceResult& result) {
            display.deviceEnded(link, device, result);
        };
        links.back()->onProblem = [&](const std::string& reason) {
            if (!problemsTold.insert(reason).second) return;
            std::fprintf(err_, "romwright-batch: %s\n", reason.c_str());
            std::fflush(err_);
        };
    }
    const size_t jobs = options_.jobs == 0 ? links.size() : options_.jobs;
    bool stopping = false;
    for (;;) {
        const int64_t nowMs = clock.nowMs();
        if (stopRequested.load() && !stopping) {
            stopping = true;
            for (auto& link : links) link->stop();
        }
        size_t running = 0;
        for (auto& link : links) {
            link->tick(nowMs);
            if (link->started() && !link->finished()) ++running;
        }
        for (auto& link : links) {
            if (running >= jobs || stopping) break;
            if (link->started()) continue;
            link->start();
            ++running;
        }
        const bool allFinished = std::all_of(links.begin(), links.end(),
                                             [](const auto& link) { return link->finished(); });
        if (allFinished) break;
        display.update(links, nowMs);
        int64_t waitMs = kTickMs;
        for (const auto& link : links) {
            if (link->nextDueMs() >= 0) waitMs = std::min(waitMs, link->nextDueMs() - nowMs);
        }
        mailbox.serveFor(static_cast<int>(std::max<int64_t>(waitMs, 0)));
    }
    display.summary(links, static_cast<double>(clock.nowMs() - startMs) / 1000.0);
    if (stopping) return 1;
    for (size_t i = 0; i < plan_.devices.size(); ++i) {
        if (!links[plan_.devices[i].link]->result(i).programmed) return 1;
    }
    return 0;
}

}  // namespace rw
