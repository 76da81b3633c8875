#pragma once
// The serial-device calls the serial link makes. link/linux/SerialPortLinux.cpp
// implements them on termios; a Windows build adds its own implementation.
#include <cstdint>
#include <string>

namespace rw {

// The port settings the link keeps and applies as one record.
struct SerialSettings {
    uint32_t baudRate = 0;
    uint8_t byteSize = 0;  // data bits, 5 to 8
    uint8_t parity = 0;    // 0 none, 1 odd, 2 even
    uint8_t stopBits = 0;  // 0 one, 1 one and a half, 2 two
    bool ctsFlow = false;  // hardware (RTS/CTS) flow control
    bool xonXoff = false;  // software flow control, both directions
    bool dtrActive = false;
    bool rtsActive = false;
};

// Line-error flags the link reports.
constexpr uint32_t kLineErrorRxOverflow = 0x01;  // input queue overflowed
constexpr uint32_t kLineErrorOverrun = 0x02;     // the UART lost a character
constexpr uint32_t kLineErrorParity = 0x04;
constexpr uint32_t kLineErrorFrame = 0x08;
constexpr uint32_t kLineErrorBreak = 0x10;

// The driver's running error counters; flags are derived from their growth.
struct LineErrorCounts {
    uint32_t frame = 0;
    uint32_t overrun = 0;
    uint32_t parity = 0;
    uint32_t brk = 0;
    uint32_t bufferOverrun = 0;
};

namespace serialport {

using PortHandle = std::intptr_t;
constexpr PortHandle kInvalidPortHandle = -1;

// Opens the device for reading and writing without waiting for a carrier and
// takes it exclusively; kInvalidPortHandle when it is missing or held, and then
// `why` says so in the operator's words ("no such device", "permission denied;
// add your user to the dialout group", "busy in another program").
PortHandle openDevice(const std::string& path, std::string& why);
// Releases exclusivity and closes; 0, or -1 when the close failed.
int closeDevice(PortHandle port);

// The port's current settings; false when the device has none (not a tty).
bool readSettings(PortHandle port, SerialSettings& settings);
// Raw mode, no flow control of any kind, reads that never block, and the
// given speed, framing and modem-line levels; false when the port refused.
bool applySettings(PortHandle port, const SerialSettings& settings);
// Makes DTR and RTS inactive. Pseudo-terminals and some drivers refuse; ignored.
void clearModemLines(PortHandle port);
// Asks the driver to hand over received bytes at once; a refusal is ignored.
void requestLowLatency(PortHandle port);

// Bytes in the driver's input / output queue; 0 when the driver cannot tell.
uint32_t inputQueued(PortHandle port);
uint32_t outputQueued(PortHandle port);
// Discards queued input and/or output; false when the driver refused.
bool purge(PortHandle port, bool input, bool output);
// Flags for the errors counted since `seen`, which is brought up to date;
// 0 when the driver keeps no counters.
uint32_t lineErrors(PortHandle port, LineErrorCounts& seen);

// Takes at most `capacity` bytes that have already arrived; never waits.
// The count, or -1 when the read failed.
int32_t readQueued(PortHandle port, uint8_t* buffer, uint32_t capacity);
// Hands bytes to the driver, waiting for it to take them at most timeoutMs;
// the count taken, or -1 when the first write failed.
int32_t writeWithin(PortHandle port, const uint8_t* data, uint32_t length, uint32_t timeoutMs);
// Waits up to timeoutMs for input: 1 input waiting, 0 none (also when a
// signal cut the wait short), -1 the line hung up or the poll failed.
int waitReadable(PortHandle port, uint32_t timeoutMs);

}  // namespace serialport
}  // namespace rw
