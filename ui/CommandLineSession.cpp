#include "ui/CommandLineSession.h"

#include <unistd.h>

#include "base/Clock.h"
#include "control/JobController.h"
#include "engine/FlashJob.h"
#include "engine/HexImage.h"
#include "ui/SignalAbort.h"

namespace rw {

namespace {
constexpr int kStallPollMs = 250;
}

CommandLineSession::CommandLineSession(JobController& controller, Clock& clock, int stallSeconds,
                                       bool windowless, std::function<void(int)> quit,
                                       std::FILE* out, std::FILE* err)
    : controller_(controller),
      clock_(clock),
      stall_(stallSeconds),
      windowless_(windowless),
      quit_(std::move(quit)),
      out_(out),
      err_(err),
      progressLine_(::isatty(::fileno(err)) != 0) {
    stallTimer_.setInterval(kStallPollMs);
    connect(&stallTimer_, &QTimer::timeout, this, &CommandLineSession::checkStall);
}

CommandLineSession::~CommandLineSession() {
    finishProgress();
}

void CommandLineSession::listenForSignals() {
    signals_ = std::make_unique<SignalAbort>([this](int) { signalled(); });
}

void CommandLineSession::signalled() {
    signalled_ = true;
    // A worker on the record winds the device down and then asks to quit.
    const bool windDown = controller_.workerOnRecord();
    controller_.abort();
    if (!windDown) quit_(1);
}

void CommandLineSession::checkStall() {
    if (controller_.state() != JobState::Running) return;
    if (stall_.expired(clock_.nowMs())) controller_.abortForStall(stall_.limitSeconds());
}

void CommandLineSession::jobStarted(const FlashJob& job) {
    // Bytes outside the model's region are dropped from the image; a script
    // should hear of it (a program linked for the wrong address looks like this).
    if (job.model != nullptr) {
        const HexLoad hex = loadHex(job.imagePath, *job.model);
        const std::string ignored = formatIgnoredBytes(hex.ignored, *job.model);
        if (hex.loaded() && !ignored.empty()) warning(ignored);
    }
    stall_.jobStarted(clock_.nowMs());
    if (stall_.limitSeconds() > 0) stallTimer_.start();
}

void CommandLineSession::startRefused(const std::string& status, const std::string& imageFile) {
    if (!windowless_) return;  // the window shows it and stays open
    refusal(status == "Invalid Binary File" && !imageFile.empty() ? status + ": " + imageFile
                                                                  : status);
    quit_(1);
}

void CommandLineSession::jobStatus(const FlashJob& job, int ended, int logged, uint32_t elapsedMs) {
    const int32_t written = job.bytesWritten;
    const int32_t length = job.imageLength;
    stall_.status(logged != 0, written, job.model ? job.model->eraseWaitSeconds : 0,
                  clock_.nowMs());
    if (ended) {
        stallTimer_.stop();
        finishProgress();
        // Why the link did not open goes to stderr; the status line stays as logged.
        if (!controller_.statusDetail().empty()) refusal(controller_.statusDetail());
        return;
    }
    // A terminal redraws about ten times a second: more would cost the job time.
    constexpr uint32_t kRedrawMs = 100;
    if (!progressLine_ || length <= 0) return;
    if (progressShown_ && elapsedMs - lastDrawMs_ < kRedrawMs && written != length) return;
    lastDrawMs_ = elapsedMs;
    const int percent = static_cast<int>(static_cast<double>(written) * 100.0 / length);
    std::fprintf(err_, "\r%d / %d bytes  %3d%%  %.1f s\033[K", written, length, percent,
                 elapsedMs * 0.001);
    std::fflush(err_);
    progressShown_ = true;
}

void CommandLineSession::lineLogged(const std::string& line) {
    clearProgress();
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
}

void CommandLineSession::refusal(const std::string& reason) {
    clearProgress();
    std::fprintf(err_, "romwright: %s\n", reason.c_str());
    std::fflush(err_);
}

void CommandLineSession::warning(const std::string& text) {
    clearProgress();
    std::fprintf(err_, "romwright: warning: %s\n", text.c_str());
    std::fflush(err_);
}

void CommandLineSession::clearProgress() {
    if (!progressShown_) return;
    std::fputs("\r\033[K", err_);
    std::fflush(err_);
    progressShown_ = false;
}

void CommandLineSession::finishProgress() {
    if (!progressShown_) return;
    std::fputc('\n', err_);
    std::fflush(err_);
    progressShown_ = false;
}

}  // namespace rw
