#pragma once
// The job controller without a window: a view that records what the controller
// asks of it and stands in for the window's event loop, a fake clock, and
// helpers that bring the controller into its states the way a window would.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "control/AddressLists.h"
#include "control/JobController.h"
#include "engine/FlashJob.h"
#include "engine/JobNotifier.h"
#include "engine/ProgramDevice.h"
#include "engine/Protocol.h"
#include "support/FakeClock.h"
#include "support/FakeLink.h"
#include "support/ReplyBuilder.h"
#include "support/TestEnv.h"

namespace rwtest {

// Records the controller's requests as short lines ("start 5", "status ...",
// "pause 1000", "retry", "quit 1", "address 7"); refresh() records the colour
// the window would show ("red" or "plain") when it changed. With realWorker,
// Go runs the programming sequence at once against a device that accepts
// everything (device 9 refuses permission); what a window would get as queued
// events (completion, the threads' end, the queue pause) waits in `queued`.
class RecordingView : public rw::JobView, public rw::JobNotifier {
  public:
    std::optional<rw::GoForm> form;  // what readForm() returns; empty: validation failed
    rw::FlashJob* job = nullptr;
    rw::JobController* controller = nullptr;
    FakeClock* clock = nullptr;
    std::vector<std::string> lines, history;
    std::string status;
    bool live = false;
    int started = 0;
    bool realWorker = false;
    std::function<void(rw::FlashJob&)> onStatus;  // inside each status, in the window's place
    std::deque<std::function<void()>> queued;

    std::optional<rw::GoForm> readForm() override { return form; }
    void setStatus(const std::string& text) override {
        status = text;
        lines.push_back("status " + text);
    }
    void setElapsed(const std::string&) override {}
    void setCrc(const std::string& text) override { lines.push_back(text); }
    void setAddress(int32_t address) override {
        if (form) form->address = address;
        lines.push_back("address " + std::to_string(address));
    }
    void addHistory(const std::string& line) override { history.push_back(line); }
    void setButtons(bool on) override { live = on; }
    void refresh() override {
        const std::string colour = job != nullptr && job->failed ? "red" : "plain";
        if (colour != lastColour_) lines.push_back(colour);
        lastColour_ = colour;
    }
    void startThreads(rw::FlashJob& record) override {
        ++started;
        lines.push_back("start " + std::to_string(record.deviceAddress));
        if (!realWorker) return;
        record.window = this;
        rw::WorkerServices services;
        services.clock = clock;
        services.makeLink = [](rw::FlashJob& j) -> std::unique_ptr<rw::Transport> {
            auto link = std::make_unique<FakeLink>(rw::LINK_SERIAL, j.port);
            link->setResponder([refuse = j.deviceAddress == 9](const Bytes& frame) {
                const bool no = refuse && frame[5] == rw::CMD_PERMISSION;
                return ReplyPieces{buildReply(frame, {.status = uint8_t(no ? 1 : 0)})};
            });
            return link;
        };
        rw::ProgramDeviceThread(record, services);
        queued.push_back([this] { controller->workerEnded(); });
    }
    void openRetryList() override { lines.push_back("retry"); }
    void startQueuePause(int ms) override {
        lines.push_back("pause " + std::to_string(ms));
        if (realWorker) queued.push_back([this] { controller->queuePauseElapsed(); });
    }
    void stopQueuePause() override {}
    void quit(int exitCode) override { lines.push_back("quit " + std::to_string(exitCode)); }

    void sendFlashStatus(rw::FlashJob& record, int ended, int logged) override {
        controller->flashStatus(ended, logged);
        if (onStatus) onStatus(record);
    }
    void sendFlashCrc(rw::FlashJob&, int crc) override { controller->flashCrc(crc); }
    void postFlashDone(int failed) override {
        queued.push_back([this, failed] { controller->flashDone(failed); });
    }
    void postQuit(int code) override {
        queued.push_back([this, code] { controller->quitRequested(code); });
    }
    // Handles the queued events, in order, until none is left.
    void settle() {
        for (int i = 0; i < 1000 && !queued.empty(); ++i) {
            const std::function<void()> next = std::move(queued.front());
            queued.pop_front();
            next();
        }
    }

    // The recorded lines of the given kinds (their first word), in order.
    std::vector<std::string> only(std::initializer_list<std::string> kinds) const {
        std::vector<std::string> kept;
        for (const std::string& line : lines) {
            for (const std::string& kind : kinds) {
                if (line.starts_with(kind)) kept.push_back(line);
            }
        }
        return kept;
    }

  private:
    std::string lastColour_ = "plain";
};

class ControllerTest : public ::testing::Test {
  public:
    ControllerTest() : controller(view, clock, models) {
        models = rw::buildModelTable();
        view.form = rw::GoForm{};
        view.form->address = 5;
        view.form->imageFile = writeFile(dir.path() / "image.hex", ":00000001FF\n").string();
        view.form->modelRow = 1;
        view.form->portIndex = 2;
        view.job = &job;
        view.controller = &controller;
        view.clock = &clock;
        controller.setJob(&job);
        controller.setLocalTime([] { return std::string("TIME"); });
        rw::pendingQueue().clear();
        rw::failedList().clear();
    }
    ~ControllerTest() override {
        rw::pendingQueue().clear();
        rw::failedList().clear();
    }
    void TestBody() override {}  // a fresh one per table row

    // The worker's status line: sets the record's text and notifies.
    void status(const std::string& text, int ended, int logged) {
        std::snprintf(job.statusText, sizeof job.statusText, "%s", text.c_str());
        controller.flashStatus(ended, logged);
    }
    // A worker that ends its job: final line, completion, threads gone.
    void finish(int failed, bool threadsGone = true) {
        job.failed = static_cast<uint8_t>(failed);
        status(failed ? "CRC CHECKSUM ERROR" : "*** FLASH PROGRAMMING COMPLETE ***", 1, 1);
        job.running = 0;
        controller.flashDone(failed);
        if (threadsGone) controller.workerEnded();
    }

    TempDir dir;
    rw::ModelTable models;
    FakeClock clock{1000};
    rw::FlashJob job{};
    RecordingView view;
    rw::JobController controller;
};

}  // namespace rwtest
