#pragma once
#include <cstdint>

#include "base/Codes.h"

namespace rw {

// A byte link to a controller: serial line, UDP or TCP. The constructor of an
// implementation opens the link and records the outcome in errorCode (0 or
// LINK_FAIL); the destructor closes it. There is no reopening. Only the
// programming thread that created a link uses it, so links take no locks.
class Transport {
  public:
    Transport();
    virtual ~Transport();
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    virtual int isSerial();
    virtual int isTcp();
    virtual int isUdp();
    // Stop-bit code 0 one, 1 one and a half, 2 two; non-zero result = applied.
    virtual int setStopBits(uint8_t code);
    virtual uint8_t getStopBits();
    // Non-zero result = applied. Network links ignore it and return 1.
    virtual int setBaudRate(uint32_t bitsPerSecond);
    virtual uint32_t getBaudRate();
    // Display name: "COM3", "UDP host:port", "TCP host:port".
    virtual const char* linkName();
    virtual int kind();
    // 0, or the most recent failure an implementation recorded.
    virtual int lastError();
    // 0 when write() took the byte, otherwise LINK_FAIL.
    virtual int writeByte(uint8_t value);
    // The byte (0..255) when a single read() delivered one, otherwise LINK_TIMEOUT.
    virtual int readByte();
    // write() of the text without its terminator; returns write()'s count.
    virtual uint32_t writeString(const char* text);

    // Discards input that has arrived and not been read.
    virtual int purgeInput() = 0;
    // Discards output not yet sent.
    virtual int purgeOutput() = 0;
    // Line-error flags, 0 = none.
    virtual uint32_t commErrors() = 0;
    // Serial: bytes still queued for sending; network: 1 writable, 0 not, -1 poll failed.
    virtual int32_t outputPending() = 0;
    // Non-zero when input is waiting (serial: the byte count; network: 1, or -1).
    virtual int32_t inputAvailable() = 0;
    // Waits up to timeoutMs for input; a positive byte count, 0 when a network
    // receive failed, or LINK_TIMEOUT.
    virtual int32_t readWithTimeout(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) = 0;
    // Takes only bytes that have already arrived, never waits; 0 when none.
    virtual uint32_t read(uint8_t* buffer, uint32_t capacity) = 0;
    // Hands bytes to the link; the number accepted, 0 on failure.
    virtual uint32_t write(const uint8_t* data, uint32_t length) = 0;

  protected:
    int32_t errorCode = 0;
    int32_t linkKind = 0;
    int32_t portNumber = 0;
    char linkText[64] = {};
};

}  // namespace rw
