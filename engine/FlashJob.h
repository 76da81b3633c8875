#pragma once
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "base/Codes.h"
#include "engine/DeviceModel.h"
#include "engine/WorkerThread.h"

namespace rw {

class JobNotifier;
class JobRecorder;
struct WorkerServices;

// Frame buffer size of the job record; the longest request is 141 bytes.
constexpr int kFrameBufferSize = 512;

// The one job record shared by the window, the programming thread and the
// animation thread. Value-initialise it (`new FlashJob{}`): every field starts at
// zero. `running` and `failed` are written by more than one thread, and the
// window paints `imageLength` and `bytesWritten` while the worker changes them,
// so those four are atomic; the status text changes hands only inside a
// synchronous status call.
struct FlashJob {
    int32_t deviceAddress = 0;             // 0..65535; only the low 16 bits go on the wire
    int32_t port = 0;                      // COM port number 1..8, or the IP port
    int32_t baudRate = 0;                  // serial speed in bit/s
    std::atomic<int32_t> imageLength{0};   // bytes in the flat image
    std::atomic<int32_t> bytesWritten{0};  // image bytes already written to the device
    int32_t linkKind = 0;                  // LINK_SERIAL, LINK_TCP, LINK_UDP (other values: serial)
    std::atomic<uint8_t> running{0};
    std::atomic<uint8_t> failed{0};
    uint8_t autoExit = 0;  // started from the command line: quit when the job ends
    char imagePath[1024] = {};
    char statusText[256] = {};
    // Why the link did not open ("COM3 (/dev/ttyUSB0): no such device"), written
    // by the worker before its PORT INITIALIZE ERROR line; empty otherwise.
    char linkFailure[256] = {};
    char hostName[32] = {};
    int32_t replyTimeoutMs = 0;
    uint8_t txFrame[kFrameBufferSize] = {};
    uint8_t rxFrame[kFrameBufferSize] = {};
    uint8_t replyStatus = 0;
    int32_t requestCount = 0;          // requests of this job, each counted once
    int32_t retryCount = 0;            // tries beyond each request's first
    std::unique_ptr<uint8_t[]> image;  // flashEnd bytes of the model while a job runs
    JobNotifier* window = nullptr;
    // Keeps the production record of this job: one line, before its final status. Null: none.
    JobRecorder* recorder = nullptr;
    std::FILE* logFile = nullptr;
    WorkerThread workerThread;
    const DeviceModel* model = nullptr;
    // The running programming thread's services (clock, reply wait, request
    // sequence) as the protocol uses them; null between jobs: the defaults.
    const WorkerServices* services = nullptr;
};

}  // namespace rw
