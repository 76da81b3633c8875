#pragma once
#include <cstdint>
#include <string>

namespace rw {

// What the programming thread knows about a job when it ends, for the
// production record: written before the job's final status line reaches the
// window (or, for a job without one, before its completion notice).
struct JobOutcome {
    bool programmed = false;  // verified: "*** FLASH PROGRAMMING COMPLETE ***"
    bool stopped = false;     // `running` was cleared before the end (Abort, close, stall)
    std::string status;       // the final status line; empty when the job ended without one
    std::string model;
    int address = 0;
    std::string link;        // the link's display name ("COM3", "TCP host:port")
    std::string device;      // serial links: the device path behind the COM number
    int baudRate = 0;        // serial links: the rate asked for; 0 otherwise
    std::string file;        // the HEX file, absolute
    std::string fileSha256;  // of the bytes the loader read; empty when it read none
    int32_t imageLength = 0;
    int imageCrc = -1;  // 0..255 once the image loaded
    int32_t bytesWritten = 0;
    int requests = 0;  // requests sent (each with its tries)
    int retries = 0;   // tries beyond each request's first
};

// Keeps the production record. The programming thread calls jobEnded once per
// job, on its own thread.
class JobRecorder {
  public:
    virtual ~JobRecorder() = default;
    virtual void jobEnded(const JobOutcome& outcome) = 0;
};

}  // namespace rw
