#pragma once
// The job controller without a window: a view that records what the controller
// asks of it, a fake clock, and helpers that bring the controller into each of
// its states the way a window would.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "control/AddressLists.h"
#include "control/JobController.h"
#include "engine/FlashJob.h"
#include "support/FakeClock.h"
#include "support/TestEnv.h"

namespace rwtest {

// Records the controller's requests as short lines ("start 5", "status ...",
// "pause 1000", "retry", "quit 1", "buttons live"); refresh() records the colour
// the window would show ("red" or "plain") when it changed.
class RecordingView : public rw::JobView {
  public:
    std::optional<rw::GoForm> form;  // what readForm() returns; empty: validation failed
    rw::FlashJob* job = nullptr;
    std::vector<std::string> lines;
    std::string status;
    std::vector<std::string> history;
    bool live = false;
    int started = 0;

    std::optional<rw::GoForm> readForm() override {
        lines.push_back("form");
        return form;
    }
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
    }
    void openRetryList() override { lines.push_back("retry"); }
    void startQueuePause(int ms) override { lines.push_back("pause " + std::to_string(ms)); }
    void stopQueuePause() override {}
    void quit(int exitCode) override { lines.push_back("quit " + std::to_string(exitCode)); }

    // The recorded lines of the given kinds (their first word), in order.
    std::vector<std::string> only(std::initializer_list<std::string> kinds) const {
        std::vector<std::string> kept;
        for (const std::string& line : lines) {
            for (const std::string& kind : kinds) {
                if (line.compare(0, kind.size(), kind) == 0) kept.push_back(line);
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
        hexFile = writeFile(dir.path() / "image.hex", ":00000001FF\n").string();
        view.form = rw::GoForm{};
        view.form->address = 5;
        view.form->imageFile = hexFile;
        view.form->modelRow = 1;
        view.form->portIndex = 2;
        view.job = &job;
        controller.setJob(&job);
        controller.setLocalTime([] { return std::string("TIME"); });
        rw::pendingQueue().clear();
        rw::failedList().clear();
    }
    ~ControllerTest() override {
        rw::pendingQueue().clear();
        rw::failedList().clear();
    }

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
    std::string hexFile;
    rw::ModelTable models;
    FakeClock clock{1000};
    rw::FlashJob job{};
    RecordingView view;
    rw::JobController controller;
};

}  // namespace rwtest
