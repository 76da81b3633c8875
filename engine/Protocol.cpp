#include "engine/Protocol.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "base/Clock.h"
#include "base/Codes.h"
#include "engine/FlashJob.h"
#include "engine/HexImage.h"
#include "engine/WorkerServices.h"
#include "link/Transport.h"

namespace rw {

namespace {

constexpr uint8_t kFrameStart = 0x02;
constexpr uint8_t kHostAddressHigh = 0xFF;
constexpr uint8_t kHostAddressBase = 0xF8;
constexpr uint8_t kWriteMark = 0x77;
constexpr uint8_t kAcknowledge = 0x06;
constexpr int kShortReplyLength = 7;
constexpr int kFullReplyLength = 9;
constexpr int kMaxBlockBytes = 128;
constexpr int kBlockHeaderBytes = 13;
constexpr uint8_t kModeParameter38 = 38;
constexpr uint8_t kModeParameter42 = 42;
constexpr int kMode38SettleMs = 1250;

std::atomic<uint8_t> processSequence{0};

// The request sequence the job's requests advance: its services' own, or the
// process-wide one.
std::atomic<uint8_t>& sequenceOf(const FlashJob& job) {
    if (job.services != nullptr && job.services->requestSequence != nullptr) {
        return *job.services->requestSequence;
    }
    return processSequence;
}

// Bytes 0, 1, 2, 5 and 6 of every request; exchange() fills in the source.
void startRequest(FlashJob& job, uint8_t command) {
    uint8_t* tx = job.txFrame;
    tx[0] = kFrameStart;
    tx[1] = static_cast<uint8_t>((job.deviceAddress >> 8) & 0xFF);
    tx[2] = static_cast<uint8_t>(job.deviceAddress & 0xFF);
    tx[5] = command;
    tx[6] = kWriteMark;
}

void putAddress24(uint8_t* at, int32_t address) {
    at[0] = static_cast<uint8_t>((address >> 16) & 0xFF);
    at[1] = static_cast<uint8_t>((address >> 8) & 0xFF);
    at[2] = static_cast<uint8_t>(address & 0xFF);
}

bool isFullReplyCommand(uint8_t byte) {
    return byte == CMD_PERMISSION || byte == CMD_FLASH_INIT || byte == CMD_FLASH_WRITE ||
           byte == CMD_FLASH_VERIFY;
}

bool checksumAt(const uint8_t* frame, int at) {
    return frame[at] == (frameSum(frame, at) & 0xFF);
}

// What the bytes at the front of the reply buffer turn out to be.
enum class Front { NeedMore, Reply, StaleShort, StaleFull };

// A stale reply answers an earlier request to this device: start byte, host
// address and device address as in a reply, a sequence byte of 0xF8 to 0xFB
// other than this request's, and a valid checksum, in short (7 bytes) or full
// (9 bytes) form whatever the request. Anything else is the reply to check,
// once `wanted` bytes are held. `final`: no more bytes will come, so a front
// still undecided is decided with what is held.
Front classifyFront(const uint8_t* rx, int held, const uint8_t* tx, int wanted, bool final) {
    const Front reply = final || held >= wanted ? Front::Reply : Front::NeedMore;
    if (held == 0 || rx[0] != kFrameStart || (held > 1 && rx[1] != kHostAddressHigh) ||
        (held > 2 && ((rx[2] & 0xFC) != kHostAddressBase || rx[2] == tx[4])) ||
        (held > 3 && rx[3] != tx[1]) || (held > 4 && rx[4] != tx[2])) {
        return reply;
    }
    if (held < kShortReplyLength) return final ? Front::Reply : Front::NeedMore;
    // A full reply's command echo can equal a short reply's checksum: such a
    // frame is full when its ninth byte completes a full checksum.
    if (isFullReplyCommand(rx[6])) {
        if (held >= kFullReplyLength && checksumAt(rx, 8)) return Front::StaleFull;
        if (held < kFullReplyLength && !final) return Front::NeedMore;
    }
    return checksumAt(rx, 6) ? Front::StaleShort : reply;
}

// Collects the reply to the request in job.txFrame until it holds `wanted`
// bytes or the deadline passes. A reply often arrives in pieces (a USB serial
// adapter's latency timer, a UART FIFO, a TCP stream split in two segments),
// so one read is not enough. A reply that answers an earlier request (it came
// after that request had timed out) is dropped, with the bytes behind it kept,
// and the wait for the right one goes on: taken as this request's answer, it
// would put every later request one reply out of step. Reply deadlines run on
// the real monotonic clock: the links wait in real time.
int readReply(Transport& link, FlashJob& job, int wanted) {
    uint8_t* rx = job.rxFrame;
    const int64_t timeoutMs = std::max<int32_t>(job.replyTimeoutMs, 0);
    const int64_t deadlineMs = systemClock().nowMs() + timeoutMs;
    int held = 0;
    bool moreMayCome = true;
    for (;;) {
        const Front front = classifyFront(rx, held, job.txFrame, wanted, !moreMayCome);
        if (front == Front::Reply) return held;
        if (front != Front::NeedMore) {
            const int staleLength =
                front == Front::StaleFull ? kFullReplyLength : kShortReplyLength;
            held -= staleLength;
            std::memmove(rx, rx + staleLength, static_cast<size_t>(held));
            std::memset(rx + held, 0, static_cast<size_t>(staleLength));
            continue;
        }
        const int64_t leftMs = remainingMs(deadlineMs, systemClock().nowMs());
        const int32_t n =
            link.readWithTimeout(rx + held, static_cast<uint32_t>(kFrameBufferSize - held),
                                 static_cast<uint32_t>(leftMs));
        if (n > 0) held += std::min(n, kFrameBufferSize - held);
        // Nothing before the deadline, a failed receive, or the last look at
        // the deadline: decide with what we hold.
        if (n <= 0 || leftMs == 0) moreMayCome = false;
    }
}

}  // namespace

uint32_t frameSum(const uint8_t* bytes, int count) {
    uint32_t sum = 0;
    for (int i = 0; i < count; ++i) sum += bytes[i];
    return sum;
}

int checkReply(Transport& link, FlashJob& job) {
    const uint8_t* tx = job.txFrame;
    uint8_t* rx = job.rxFrame;
    const bool shortForm = tx[5] == CMD_MODE;
    // A short reply must fail the tests below, not borrow bytes of an earlier try.
    std::memset(rx, 0, kFrameBufferSize);
    if (readReply(link, job, shortForm ? kShortReplyLength : kFullReplyLength) == 0) {
        return LINK_TIMEOUT;
    }
    if (rx[0] != kFrameStart) return LINK_FAIL;
    if (rx[1] != tx[3] || rx[2] != tx[4] || rx[3] != tx[1] || rx[4] != tx[2]) return LINK_FAIL;
    if (rx[5] != kAcknowledge) return LINK_FAIL;
    if (shortForm) {
        return rx[6] == (frameSum(rx, 6) & 0xFF) ? LINK_OK : LINK_BAD_CHECKSUM;
    }
    if (rx[6] != tx[5]) return LINK_FAIL;
    // A refusal is decided before the checksum is looked at.
    job.replyStatus = rx[7];
    if (job.replyStatus != 0) return LINK_DEVICE_REFUSED;
    return rx[8] == (frameSum(rx, 8) & 0xFF) ? LINK_OK : LINK_BAD_CHECKSUM;
}

int exchange(Transport& link, FlashJob& job, int length, int settleMs) {
    if (length < 8 || length > kFrameBufferSize) return LINK_FAIL;
    uint8_t* tx = job.txFrame;
    std::memset(job.rxFrame, 0, kFrameBufferSize);
    job.replyStatus = 0;
    // Every try of one request carries the same sequence value; the next request
    // gets the next one.
    std::atomic<uint8_t>& counter = sequenceOf(job);
    const uint8_t sequence = counter.load() & 3;
    counter.store((sequence + 1) & 3);
    tx[3] = kHostAddressHigh;
    tx[4] = static_cast<uint8_t>(kHostAddressBase + sequence);
    tx[length - 1] = static_cast<uint8_t>(frameSum(tx, length - 1) & 0xFF);
    link.purgeInput();

    const int tries = tx[5] == CMD_PERMISSION ? 1 : 3;
    int result = LINK_FAIL;
    ++job.requestCount;
    for (int attempt = 0; attempt < tries; ++attempt) {
        if (attempt > 0) ++job.retryCount;
        const uint32_t sent = link.write(tx, static_cast<uint32_t>(length));
        result = sent == static_cast<uint32_t>(length) ? checkReply(link, job) : LINK_FAIL;
        if (result == LINK_OK) {
            if (settleMs != 0) {
                (job.services != nullptr ? job.services->clockToUse() : systemClock())
                    .sleepMs(settleMs);
            }
            return LINK_OK;
        }
    }
    return result == LINK_DEVICE_REFUSED ? LINK_DEVICE_REFUSED : LINK_FAIL;
}

int setProgrammingMode(Transport& link, FlashJob& job, bool on) {
    job.replyTimeoutMs =
        job.services != nullptr ? job.services->modeReplyTimeoutMs : kModeReplyTimeoutMs;
    if (job.model == nullptr) return LINK_FAIL;
    uint8_t parameter = 0;
    int settleMs = 0;
    switch (job.model->code) {
        case 0x4400:
        case 0x3000:
            parameter = kModeParameter38;
            settleMs = kMode38SettleMs;
            break;
        case 0x4255:
            parameter = kModeParameter42;
            break;
        default:
            return LINK_FAIL;
    }
    startRequest(job, CMD_MODE);
    job.txFrame[7] = 0x01;
    job.txFrame[8] = parameter;
    job.txFrame[9] = on ? 1 : 0;
    return exchange(link, job, 11, settleMs);
}

int sendDeviceCommand(Transport& link, FlashJob& job, uint8_t command) {
    job.txFrame[5] = command;
    if (job.model == nullptr) return LINK_FAIL;
    int length = 0;
    if (command == CMD_PERMISSION || command == CMD_FLASH_INIT) {
        job.txFrame[7] = static_cast<uint8_t>(job.model->code >> 8);
        job.txFrame[8] = static_cast<uint8_t>(job.model->code & 0xFF);
        length = 10;
    } else if (command == CMD_FLASH_VERIFY) {
        if (!job.image) return LINK_FAIL;
        job.txFrame[7] = imageCrc8(job);
        length = 9;
    } else {
        return LINK_FAIL;
    }
    startRequest(job, command);
    return exchange(link, job, length, 0);
}

int writeBlock(Transport& link, FlashJob& job) {
    // The block must lie inside the image buffer (flashEnd bytes of the model).
    if (job.model == nullptr || !job.image || job.bytesWritten < 0 ||
        job.imageLength > job.model->flashEnd || job.bytesWritten >= job.imageLength) {
        return LINK_FAIL;
    }
    const int count = std::min(job.imageLength - job.bytesWritten, kMaxBlockBytes);
    startRequest(job, CMD_FLASH_WRITE);
    putAddress24(job.txFrame + 7, job.model->flashStart + job.bytesWritten);
    job.txFrame[10] = static_cast<uint8_t>(count >> 8);
    job.txFrame[11] = static_cast<uint8_t>(count & 0xFF);
    std::memcpy(job.txFrame + 12, job.image.get() + job.bytesWritten, static_cast<size_t>(count));
    if (exchange(link, job, count + kBlockHeaderBytes, 0) != LINK_OK) return LINK_FAIL;
    job.bytesWritten += count;
    return LINK_OK;
}

int writeCrcByte(Transport& link, FlashJob& job) {
    if (job.model == nullptr || !job.image) return LINK_FAIL;
    startRequest(job, CMD_FLASH_WRITE);
    putAddress24(job.txFrame + 7, job.model->crcAddress());
    job.txFrame[10] = 0x00;
    job.txFrame[11] = 0x01;
    job.txFrame[12] = imageCrc8(job);
    return exchange(link, job, 14, 0) == LINK_OK ? LINK_OK : LINK_FAIL;
}

uint8_t requestSequence() {
    return processSequence.load() & 3;
}

}  // namespace rw
