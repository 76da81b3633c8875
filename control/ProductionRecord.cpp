#include "control/ProductionRecord.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>

namespace rw {

namespace {

class PosixRecordFile final : public RecordFile {
  public:
    ~PosixRecordFile() override { close(); }

    bool open(const std::string& path, std::string& error) override {
        close();
        fd_ = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ < 0) error = path + ": " + std::strerror(errno);
        return fd_ >= 0;
    }
    void close() override {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    bool lock() override {
        int result;
        do {
            result = ::flock(fd_, LOCK_EX);
        } while (result != 0 && errno == EINTR);
        return result == 0;
    }
    void unlock() override { ::flock(fd_, LOCK_UN); }
    std::optional<char> lastByte() override {
        const off_t size = ::lseek(fd_, 0, SEEK_END);
        char byte = 0;
        if (size <= 0 || ::pread(fd_, &byte, 1, size - 1) != 1) return std::nullopt;
        return byte;
    }
    bool append(const std::string& bytes) override {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }
    bool sync() override { return ::fdatasync(fd_) == 0; }

  private:
    int fd_ = -1;
};

const char* resultOf(const JobOutcome& outcome, bool abortedByOperator) {
    if (outcome.programmed) return "programmed";
    return outcome.stopped && abortedByOperator ? "aborted" : "failed";
}

}  // namespace

std::unique_ptr<RecordFile> posixRecordFile() {
    return std::make_unique<PosixRecordFile>();
}

std::string isoLocalTime(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[32];
    char offset[8];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
    std::strftime(offset, sizeof offset, "%z", &local);  // +hhmm; ISO 8601's extended form: +hh:mm
    char iso[48];
    std::snprintf(iso, sizeof iso, "%s%.3s:%.2s", stamp, offset, offset + 3);
    return iso;
}

std::string stationName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

std::string userName() {
    if (const passwd* entry = ::getpwuid(::geteuid())) return entry->pw_name;
    const char* fromEnvironment = std::getenv("USER");
    return fromEnvironment != nullptr ? fromEnvironment : "";
}

ProductionRecord::ProductionRecord(std::unique_ptr<RecordFile> file) : file_(std::move(file)) {}

ProductionRecord::~ProductionRecord() {
    file_->close();
}

bool ProductionRecord::open(const std::string& path, std::string& error) {
    std::lock_guard lock(mutex_);
    open_ = file_->open(path, error);
    return open_;
}

void ProductionRecord::beginJob(RecordContext context) {
    std::lock_guard lock(mutex_);
    context_ = std::move(context);
    aborted_ = false;
    stopStatus_.clear();
}

void ProductionRecord::markStopped(std::string status, bool byOperator) {
    std::lock_guard lock(mutex_);
    stopStatus_ = std::move(status);
    aborted_ = byOperator;
}

void ProductionRecord::jobEnded(const JobOutcome& outcome) {
    std::lock_guard lock(mutex_);
    if (!open_) return;
    JobOutcome told = outcome;
    if (told.status.empty() && told.stopped) told.status = stopStatus_;
    const std::string text =
        line(context_, told, resultOf(told, aborted_), std::chrono::system_clock::now());
    lastError_.clear();
    if (!file_->lock()) {
        lastError_ = std::string("cannot lock the record file: ") + std::strerror(errno);
        return;
    }
    // A line torn by a power loss stays behind as it is; ours starts a line of its own.
    const std::optional<char> last = file_->lastByte();
    const std::string bytes = (last && *last != '\n' ? "\n" : "") + text + "\n";
    if (!file_->append(bytes) || !file_->sync()) {
        lastError_ = std::string("cannot write the record file: ") + std::strerror(errno);
    }
    file_->unlock();
}

std::string ProductionRecord::lastError() const {
    std::lock_guard lock(mutex_);
    return lastError_;
}

std::string ProductionRecord::line(const RecordContext& context, const JobOutcome& outcome,
                                   const char* result, std::chrono::system_clock::time_point time) {
    using Json = nlohmann::ordered_json;
    const auto durationMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(time - context.started).count();
    Json record;
    record["time"] = isoLocalTime(time);
    record["started"] = isoLocalTime(context.started);
    record["durationMs"] = durationMs;
    record["station"] = context.station;
    record["user"] = context.user;
    record["program"] = context.program;
    record["model"] = outcome.model;
    record["address"] = outcome.address;
    record["link"] = outcome.link;
    if (!outcome.device.empty()) {
        record["device"] = outcome.device;
        record["baud"] = outcome.baudRate;
    }
    record["file"] = outcome.file;
    record["fileSha256"] = outcome.fileSha256;
    record["imageLength"] = outcome.imageLength;
    if (outcome.imageCrc >= 0) {
        char crc[3];
        std::snprintf(crc, sizeof crc, "%02x", outcome.imageCrc & 0xFF);
        record["imageCrc"] = crc;
    } else {
        record["imageCrc"] = nullptr;
    }
    record["result"] = result;
    record["status"] = outcome.status;
    record["bytesWritten"] = outcome.bytesWritten;
    record["requests"] = outcome.requests;
    record["retries"] = outcome.retries;
    if (context.queueLength > 0) {
        record["queue"] = {{"position", context.queuePosition}, {"length", context.queueLength}};
    }
    if (!context.plan.empty()) {
        record["plan"] = context.plan;
        record["planLine"] = context.planLine;
    }
    // A Linux path may hold any bytes: what is not UTF-8 becomes U+FFFD, so the
    // line always parses.
    return record.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace rw
