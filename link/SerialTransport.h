#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "link/SerialPort.h"
#include "link/Transport.h"

namespace rw {

// A COM port link: 8 data bits, no parity, two stop bits, no flow control,
// DTR and RTS inactive, 19200 bit/s until setBaudRate. The link's name is
// "COMN" whatever device stands behind COM port N, or the device's path for a
// link opened by path.
class SerialTransport : public Transport {
  public:
    // COM port N on /dev/ttyS<N-1>.
    explicit SerialTransport(int32_t portNumber);
    // COM port N on the given device.
    SerialTransport(int32_t portNumber, std::string devicePath);
    // The device at devicePath, with no COM number: the link is named by the
    // path (which may be longer than a COM name's room).
    struct NamedByPath {};
    SerialTransport(const std::string& devicePath, NamedByPath);
    ~SerialTransport() override;

    const char* linkName() override;

    // Stop-bit code 0 one, 1 one and a half (two on POSIX), 2 two. The code is
    // kept even when the port refuses it; non-zero result = applied.
    int setStopBits(uint8_t code) override;
    uint8_t getStopBits() override;
    // Any rate; non-zero = applied. getBaudRate reports the last requested
    // rate even when the port refused it; the line keeps running at the rate
    // it last accepted, and the link times replies and writes by that one.
    int setBaudRate(uint32_t bitsPerSecond) override;
    uint32_t getBaudRate() override;

    // Discard the driver's input / output queue; 1 done, 0 refused.
    int purgeInput() override;
    int purgeOutput() override;
    // kLineError* flags for the errors since the previous call; 0 when the
    // driver keeps no error counters.
    uint32_t commErrors() override;
    int32_t outputPending() override;
    int32_t inputAvailable() override;
    // Collects bytes until the line has been quiet for quietTimeMs() of the
    // rate in force after the last one: the count. LINK_TIMEOUT when the
    // time-out is 0, when nothing came, or when bytes kept coming until the deadline.
    int32_t readWithTimeout(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) override;
    // Queued bytes only, never waits; a short read records LINK_SHORT_READ.
    uint32_t read(uint8_t* buffer, uint32_t capacity) override;
    // At most the room left in the output queue (outQueueSize minus what is
    // queued); a count below the length records LINK_SHORT_WRITE.
    uint32_t write(const uint8_t* data, uint32_t length) override;

    // The silence that ends a reply: 3.5 character times of 11 bits at the
    // given rate, at least 1 ms (32 ms at 1200 bit/s, 1 ms at 38400), and at
    // most a quarter of the reply wait, so that at very slow rates a reply can
    // still end before the wait does.
    static uint32_t quietTimeMs(uint32_t bitsPerSecond, uint32_t replyWaitMs);

    // Why the port did not open, for the operator: "COM3 (/dev/ttyUSB0):
    // permission denied; add your user to the dialout group". Empty when it opened.
    const std::string& openFailure() const { return openFailure_; }

  private:
    int openPort(const std::string& devicePath);
    // Records why the device did not open; returns 0 (openPort's failure).
    int openFailed(const std::string& devicePath, const std::string& why);
    int closePort();
    // Applies portSettings; non-zero when the port accepted them.
    int applyPortSettings();
    // How long write may wait for the driver to take `count` bytes: twice
    // their transmission time plus a second, so a stalled line cannot hang the job.
    uint32_t writeLimitMs(uint32_t count) const;

    serialport::PortHandle portHandle = serialport::kInvalidPortHandle;
    uint32_t outQueueSize = 1024;
    std::unique_ptr<SerialSettings> portSettings;
    // The rate the port last accepted (the open rate until a change succeeds).
    uint32_t rateInForce = 0;
    LineErrorCounts lineErrorsSeen;
    std::string openFailure_;
    std::string pathName_;  // the name of a link opened by path; empty otherwise
};

}  // namespace rw
