#include "engine/ProgramDevice.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "base/Clock.h"
#include "engine/FlashJob.h"
#include "engine/HexImage.h"
#include "engine/JobNotifier.h"
#include "engine/JobRecord.h"
#include "engine/Protocol.h"
#include "engine/SoundPlayer.h"
#include "engine/Sounds.h"
#include "engine/SyncMailbox.h"
#include "engine/WorkerThread.h"
#include "link/SerialPortPaths.h"
#include "link/SerialTransport.h"
#include "link/TcpTransport.h"
#include "link/Transport.h"
#include "link/UdpTransport.h"

namespace rw {

namespace {

// A failed pass of the write loop that returns faster than this (a peer that
// closed its connection fails every try at once) is followed by a pause of this
// length, so the loop cannot spin at full speed.
constexpr int64_t kFastFailureMs = 50;
constexpr int64_t kBackOffStepMs = 10;
// How long waitForThreadEnd blocks in the mailbox before it looks again.
constexpr int kServeWaitMs = 5;

constexpr const char* kCompleteLine = "*** FLASH PROGRAMMING COMPLETE ***";

// The extension of the path's file name, with its dot ("" when there is none):
// from the last '.' of the last path component on.
std::string fileExtension(const char* path) {
    std::string text(path, strnlen(path, sizeof(FlashJob::imagePath)));
    size_t nameStart = text.find_last_of('/');
    nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
    size_t dot = text.find_last_of('.');
    if (dot == std::string::npos || dot < nameStart) return {};
    return text.substr(dot);
}

bool isHexExtension(const std::string& extension) {
    if (extension.size() != 4) return false;
    const char* expected = ".hex";
    for (size_t i = 0; i < 4; ++i) {
        char c = extension[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != expected[i]) return false;
    }
    return true;
}

// One run of the programming sequence for one device.
class DeviceRun {
  public:
    DeviceRun(FlashJob& job, const WorkerServices& services)
        : job_(job), services_(services), clock_(services.clockToUse()) {}

    unsigned run();

  private:
    bool openLink();
    // The programming steps from the extension test to the CRC confirm. Returns
    // the job's final status line, or nothing when the write loop was stopped
    // (the device has then already been switched out of programming mode).
    std::optional<std::string> programSteps();
    void writeLoop();
    // One pass: a block write and its status; true when the block was written.
    bool writeOnePass();
    void backOff();
    std::optional<std::string> crcSteps();
    unsigned finish();
    // The production record's line, once per job: before its final status
    // line reaches the window, or before its completion notice without one.
    void record(const std::string& finalLine);

    void setStatus(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void sendStatus(int ended, int logged);
    void playScheme(const char* file, int flags);

    FlashJob& job_;
    const WorkerServices& services_;
    Clock& clock_;
    std::unique_ptr<Transport> link_;
    std::string schemeFolder_;
    int64_t silentUntilSeconds_ = 0;
    bool loopSoundPending_ = false;
    bool recorded_ = false;
    std::string fileSha256_;
    int imageCrc_ = -1;
};

// The device path of a serial job's COM port.
std::string serialDevicePath(const FlashJob& job, const WorkerServices& services) {
    return services.serialPortPath ? services.serialPortPath(job.port)
                                   : defaultSerialDevicePath(job.port);
}

unsigned DeviceRun::run() {
    job_.services = &services_;
    job_.requestCount = 0;
    job_.retryCount = 0;
    schemeFolder_ = schemeFolder();
    if (!openLink()) return finish();

    std::string extension = fileExtension(job_.imagePath);
    playScheme("start.wav", kSoundOnce);
    setStatus("FLASHING %s @ %d...", job_.model->name.c_str(), job_.deviceAddress);
    sendStatus(0, 1);
    link_->setBaudRate(static_cast<uint32_t>(job_.baudRate));

    std::optional<std::string> finalLine;
    if (!isHexExtension(extension)) {
        job_.failed = 1;
        finalLine = "HEX FILE ERROR";
    } else {
        finalLine = programSteps();
    }
    if (finalLine) {
        // The final line decides the result. An Abort that reaches the window
        // before this line does came too late to stop anything, so the result
        // is set again once the window has the line (it disables Abort then).
        uint8_t outcome = *finalLine == kCompleteLine ? 0 : 1;
        job_.failed = outcome;
        record(*finalLine);
        setStatus("%s", finalLine->c_str());
        sendStatus(1, 1);
        job_.failed = outcome;
        setProgrammingMode(*link_, job_, false);
    }
    return finish();
}

bool DeviceRun::openLink() {
    link_ = services_.makeLink ? services_.makeLink(job_) : createLink(job_, services_);
    job_.linkFailure[0] = '\0';
    if (link_ && link_->lastError() == 0) return true;
    // The window reads the cause while it handles the final line below.
    if (const auto* serial = dynamic_cast<const SerialTransport*>(link_.get())) {
        std::snprintf(job_.linkFailure, sizeof job_.linkFailure, "%s",
                      serial->openFailure().c_str());
    }
    job_.failed = 1;
    setStatus("%s PORT INITIALIZE ERROR", link_ ? link_->linkName() : "");
    record(job_.statusText);
    sendStatus(1, 1);
    return false;
}

std::optional<std::string> DeviceRun::programSteps() {
    if (!loadHexImage(job_, &fileSha256_)) {
        job_.failed = 1;
        return "HEX2BIN ERROR";
    }
    imageCrc_ = imageCrc8(job_);
    if (job_.window != nullptr) job_.window->sendFlashCrc(job_, imageCrc_);

    // Models without mode parameters get no mode request; that result is not a failure.
    setProgrammingMode(*link_, job_, true);

    // A permission request that times out or is malformed does not stop the job.
    if (sendDeviceCommand(*link_, job_, CMD_PERMISSION) == LINK_DEVICE_REFUSED) {
        job_.failed = 1;
        char line[64];
        std::snprintf(line, sizeof line, "%d: PERMISSION DENIED", job_.deviceAddress);
        return line;
    }
    if (sendDeviceCommand(*link_, job_, CMD_FLASH_INIT) != 0) {
        job_.failed = 1;
        return std::string(link_->linkName()) + " FLASH INITIALIZE ERROR";
    }

    // The device erases its flash now and stays silent meanwhile.
    silentUntilSeconds_ = clock_.nowSeconds() + job_.model->eraseWaitSeconds;
    playScheme("erase.wav", kSoundLooping);
    loopSoundPending_ = true;
    if (job_.model->eraseWaitSeconds != 0) {
        setStatus("ERASING FLASH MEMORY...");
        sendStatus(0, 0);
    }

    writeLoop();
    // An Abort that arrived while the last block was under way must not let the
    // job go on to a verified CRC: an aborted job always ends failed.
    if (!job_.running || job_.bytesWritten != job_.imageLength) {
        job_.failed = 1;
        setProgrammingMode(*link_, job_, false);
        return std::nullopt;
    }
    return crcSteps();
}

void DeviceRun::writeLoop() {
    // A failed block is retried without limit: the operator (or the caller's
    // stall limit) decides when to stop by clearing `running`.
    while (job_.running && job_.bytesWritten < job_.imageLength) {
        int64_t passStartMs = clock_.nowMs();
        bool written = writeOnePass();
        if (!written && clock_.nowMs() - passStartMs < kFastFailureMs) backOff();
    }
}

bool DeviceRun::writeOnePass() {
    bool written = writeBlock(*link_, job_) == 0;
    if (written) {
        if (job_.failed || loopSoundPending_) playScheme("loop.wav", kSoundLooping);
        setStatus("SENT  %d / %d  BYTES...", job_.bytesWritten.load(), job_.imageLength.load());
        silentUntilSeconds_ = clock_.nowSeconds();
        // A block that succeeds at the moment of an Abort must not clear the
        // failure the Abort has just shown.
        if (job_.running) job_.failed = 0;
        loopSoundPending_ = false;
    } else if (silentUntilSeconds_ < clock_.nowSeconds()) {
        playScheme("error.wav", kSoundOnce);
        setStatus("FLASH WRITE ERROR  (%xh)",
                  static_cast<unsigned>(job_.model->flashStart + job_.bytesWritten));
        job_.failed = 1;
        loopSoundPending_ = false;
    }
    // Within the erase wait a failure repeats the previous line unchanged.
    sendStatus(0, 0);
    return written;
}

void DeviceRun::backOff() {
    for (int64_t waitedMs = 0; waitedMs < kFastFailureMs && job_.running;
         waitedMs += kBackOffStepMs) {
        clock_.sleepMs(kBackOffStepMs);
    }
}

std::optional<std::string> DeviceRun::crcSteps() {
    // Once the CRC byte write has begun the CRC steps decide the result, even
    // when an Abort arrives meanwhile: it came too late to stop anything.
    if (writeCrcByte(*link_, job_) != 0 || sendDeviceCommand(*link_, job_, CMD_FLASH_VERIFY) != 0) {
        job_.failed = 1;
        return "CRC CHECKSUM ERROR";
    }
    job_.failed = 0;
    return std::string(kCompleteLine);
}

void DeviceRun::record(const std::string& finalLine) {
    if (recorded_ || job_.recorder == nullptr) return;
    recorded_ = true;
    JobOutcome outcome;
    outcome.programmed = finalLine == kCompleteLine;
    outcome.stopped = !job_.running;  // only Abort, closing or the stall limit clear it
    outcome.status = finalLine;
    outcome.model = job_.model != nullptr ? job_.model->name : "";
    outcome.address = job_.deviceAddress;
    outcome.link = link_ ? link_->linkName() : "";
    if (link_ && link_->kind() == LINK_SERIAL) {
        outcome.device = serialDevicePath(job_, services_);
        outcome.baudRate = job_.baudRate;
    }
    std::error_code ignored;
    const std::string path(job_.imagePath, strnlen(job_.imagePath, sizeof job_.imagePath));
    outcome.file = std::filesystem::absolute(path, ignored).string();
    outcome.fileSha256 = fileSha256_;
    outcome.imageLength = job_.imageLength;
    outcome.imageCrc = imageCrc_;
    outcome.bytesWritten = job_.bytesWritten;
    outcome.requests = job_.requestCount;
    outcome.retries = job_.retryCount;
    job_.recorder->jobEnded(outcome);
}

unsigned DeviceRun::finish() {
    record("");
    unsigned failed = job_.failed ? 1 : 0;
    if (services_.sound != nullptr) {
        services_.sound->playEndSound(schemeFolder_ + (failed ? "fail.wav" : "done.wav"));
    }
    if (job_.window != nullptr) job_.window->postFlashDone(static_cast<int>(failed));
    job_.running = 0;
    job_.image.reset();
    link_.reset();
    job_.services = nullptr;
    if (job_.autoExit && job_.window != nullptr) job_.window->postQuit(static_cast<int>(failed));
    return failed;
}

void DeviceRun::setStatus(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(job_.statusText, sizeof job_.statusText, format, args);
    va_end(args);
}

void DeviceRun::sendStatus(int ended, int logged) {
    if (job_.window != nullptr) job_.window->sendFlashStatus(job_, ended, logged);
}

void DeviceRun::playScheme(const char* file, int flags) {
    if (services_.sound != nullptr) playSchemeSound(*services_.sound, schemeFolder_ + file, flags);
}

}  // namespace

std::unique_ptr<Transport> createLink(FlashJob& job, const WorkerServices& services) {
    switch (job.linkKind) {
        case LINK_TCP:
            return std::make_unique<TcpTransport>(job.hostName, job.port);
        case LINK_UDP:
            return std::make_unique<UdpTransport>(job.hostName, job.port);
        default:
            return std::make_unique<SerialTransport>(job.port, serialDevicePath(job, services));
    }
}

unsigned ProgramDeviceThread(FlashJob& job, const WorkerServices& services) {
    return DeviceRun(job, services).run();
}

void startProgramDeviceThread(FlashJob& job, const WorkerServices& services) {
    job.workerThread.start([&job, services] { return ProgramDeviceThread(job, services); });
}

void waitForThreadEnd(WorkerThread* thread, SyncMailbox& mailbox) {
    if (thread == nullptr) return;
    while (!thread->finished()) mailbox.serveFor(kServeWaitMs);
    thread->join();
}

}  // namespace rw
