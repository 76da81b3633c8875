#pragma once
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "engine/JobRecord.h"

namespace rw {

// What a record says besides the job's own outcome, fixed when the job starts.
struct RecordContext {
    std::string program;  // name and version, e.g. "romwright 1.1.0.4"
    std::string station;  // this machine's host name
    std::string user;
    std::chrono::system_clock::time_point started;
    int queuePosition = 0;  // 1-based place in a device list; 0: not part of one
    int queueLength = 0;
    std::string plan;  // a batch's plan file and its line; empty / 0: none
    int planLine = 0;
};

// The file calls of one append, so a test can watch their order.
class RecordFile {
  public:
    virtual ~RecordFile() = default;
    // Opens (creating it) for appending; false with the reason.
    virtual bool open(const std::string& path, std::string& error) = 0;
    virtual void close() = 0;
    // An exclusive lock on the whole file, shared with every other process.
    virtual bool lock() = 0;
    virtual void unlock() = 0;
    // The file's last byte; nothing when it is empty (or cannot be read).
    virtual std::optional<char> lastByte() = 0;
    // Appends all of `bytes` in one write; false when it could not.
    virtual bool append(const std::string& bytes) = 0;
    // Waits until the appended bytes are on the disk.
    virtual bool sync() = 0;
};

// The real file: O_APPEND, flock(), fdatasync().
std::unique_ptr<RecordFile> posixRecordFile();

// The production record: one line of JSON per job, appended to a file that is
// never truncated. The append holds an exclusive lock around its three steps:
// a torn last line (power lost in the middle of a write) is ended first, the
// whole line goes out in one write, and fdatasync returns only once it is on
// the disk, so concurrent programs never interleave and a device reported
// programmed always has its record.
class ProductionRecord : public JobRecorder {
  public:
    explicit ProductionRecord(std::unique_ptr<RecordFile> file = posixRecordFile());
    ~ProductionRecord() override;

    // Opens `path` for the next job (an unwritable path shows before the device
    // is touched); false with the reason, the job then goes on without a record.
    bool open(const std::string& path, std::string& error);
    // The job that starts now.
    void beginJob(RecordContext context);
    // The job is being stopped: by the operator (Abort, Escape, a signal,
    // closing the window), so that a job that ends unprogrammed after this is
    // "aborted", not "failed"; or by the stall limit (still "failed"). `status`
    // is the record's status when the job ends without a final line of its own.
    void markStopped(std::string status, bool byOperator);

    // Programming thread: appends the job's line. Without an open file, nothing.
    void jobEnded(const JobOutcome& outcome) override;
    // The last append's failure, empty when it went out.
    std::string lastError() const;

    // The line for a job, without its line end. `time` is the moment it goes out.
    static std::string line(const RecordContext& context, const JobOutcome& outcome,
                            const char* result, std::chrono::system_clock::time_point time);

  private:
    std::unique_ptr<RecordFile> file_;
    bool open_ = false;
    RecordContext context_;
    bool aborted_ = false;
    std::string stopStatus_;
    mutable std::mutex mutex_;  // threads of one process share one file description
    std::string lastError_;
};

// "2026-12-07T04:12:16+01:00": local time with its offset.
std::string isoLocalTime(std::chrono::system_clock::time_point time);
// This machine's host name and the user running us.
std::string stationName();
std::string userName();

}  // namespace rw
