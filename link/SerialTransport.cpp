#include "link/SerialTransport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "link/SerialPortPaths.h"

namespace rw {
namespace {

constexpr uint32_t kOpenBaudRate = 19200;
constexpr uint8_t kTwoStopBits = 2;
constexpr uint32_t kBitsPerCharacter = 11;  // start, 8 data, 2 stop
using Milliseconds = std::chrono::milliseconds;
constexpr Milliseconds kHangupPause(5);

}  // namespace

SerialTransport::SerialTransport(int32_t number)
    : SerialTransport(number, defaultSerialDevicePath(number)) {}

SerialTransport::SerialTransport(int32_t number, std::string devicePath)
    : portSettings(std::make_unique<SerialSettings>()) {
    std::snprintf(linkText, sizeof linkText, "COM%d", number);
    portNumber = number;
    linkKind = LINK_SERIAL;
    errorCode = openPort(devicePath) != 0 ? 0 : LINK_FAIL;
}

SerialTransport::SerialTransport(const std::string& devicePath, NamedByPath)
    : portSettings(std::make_unique<SerialSettings>()), pathName_(devicePath) {
    linkKind = LINK_SERIAL;
    errorCode = openPort(devicePath) != 0 ? 0 : LINK_FAIL;
}

const char* SerialTransport::linkName() {
    return pathName_.empty() ? linkText : pathName_.c_str();
}

SerialTransport::~SerialTransport() {
    if (portHandle != serialport::kInvalidPortHandle) closePort();
}

int SerialTransport::openPort(const std::string& devicePath) {
    std::string why;
    portHandle = serialport::openDevice(devicePath, why);
    if (portHandle == serialport::kInvalidPortHandle) return openFailed(devicePath, why);
    const bool terminal = serialport::readSettings(portHandle, *portSettings);
    SerialSettings& s = *portSettings;
    s.baudRate = kOpenBaudRate;
    s.byteSize = 8;
    s.parity = 0;
    s.stopBits = kTwoStopBits;
    s.ctsFlow = false;
    s.xonXoff = false;
    s.dtrActive = false;
    s.rtsActive = false;
    // An open raises DTR and RTS on most drivers; a controller may read them
    // as a reset or transmit request, so they drop before anything else.
    serialport::clearModemLines(portHandle);
    if (!serialport::applySettings(portHandle, s)) {
        return openFailed(devicePath,
                          terminal ? "the port refused its settings" : "not a serial port");
    }
    rateInForce = s.baudRate;
    serialport::requestLowLatency(portHandle);
    serialport::lineErrors(portHandle, lineErrorsSeen);
    return 1;
}

int SerialTransport::openFailed(const std::string& devicePath, const std::string& why) {
    openFailure_ = pathName_.empty() ? std::string(linkText) + " (" + devicePath + "): " + why
                                     : devicePath + ": " + why;
    return 0;
}

int SerialTransport::closePort() {
    serialport::purge(portHandle, true, false);
    serialport::purge(portHandle, false, true);
    serialport::clearModemLines(portHandle);
    const int closed = serialport::closeDevice(portHandle);
    portHandle = serialport::kInvalidPortHandle;
    return closed == 0 ? 0 : LINK_FAIL;
}

int SerialTransport::setStopBits(uint8_t code) {
    portSettings->stopBits = code;
    return applyPortSettings();
}

uint8_t SerialTransport::getStopBits() {
    return portSettings->stopBits;
}

int SerialTransport::setBaudRate(uint32_t bitsPerSecond) {
    portSettings->baudRate = bitsPerSecond;
    return applyPortSettings();
}

int SerialTransport::applyPortSettings() {
    // The whole record goes to the port, so an accepted change of any field
    // also puts the record's rate in force.
    if (!serialport::applySettings(portHandle, *portSettings)) return 0;
    rateInForce = portSettings->baudRate;
    return 1;
}

uint32_t SerialTransport::getBaudRate() {
    return portSettings->baudRate;
}

int SerialTransport::purgeInput() {
    return serialport::purge(portHandle, true, false) ? 1 : 0;
}

int SerialTransport::purgeOutput() {
    return serialport::purge(portHandle, false, true) ? 1 : 0;
}

uint32_t SerialTransport::commErrors() {
    return serialport::lineErrors(portHandle, lineErrorsSeen);
}

int32_t SerialTransport::outputPending() {
    return static_cast<int32_t>(serialport::outputQueued(portHandle));
}

int32_t SerialTransport::inputAvailable() {
    return static_cast<int32_t>(serialport::inputQueued(portHandle));
}

uint32_t SerialTransport::quietTimeMs(uint32_t bitsPerSecond, uint32_t replyWaitMs) {
    // 3.5 characters of 11 bits = 38.5 bit times, in whole milliseconds.
    const uint64_t bitTimesX10 = 35ull * kBitsPerCharacter;
    const uint64_t quietMs = bitTimesX10 * 100 / std::max<uint32_t>(bitsPerSecond, 1);
    return static_cast<uint32_t>(
        std::min<uint64_t>(std::max<uint64_t>(quietMs, 1), replyWaitMs / 4));
}

int32_t SerialTransport::readWithTimeout(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) {
    // Microsecond precision: at 38400 bit/s the quiet time is a single
    // millisecond, and a millisecond tick could cut a reply mid-character.
    using SteadyClock = std::chrono::steady_clock;
    const SteadyClock::time_point deadline = SteadyClock::now() + Milliseconds(timeoutMs);
    const Milliseconds quiet(quietTimeMs(rateInForce, timeoutMs));
    uint32_t total = 0;
    SteadyClock::time_point lastByte;
    for (;;) {
        const SteadyClock::time_point now = SteadyClock::now();
        if (now >= deadline) return LINK_TIMEOUT;
        const bool waiting = inputAvailable() > 0;
        if (waiting && total >= capacity) {
            // The rest of an over-long reply stays queued: the line never
            // counts as quiet, as when bytes keep coming until the deadline.
            std::this_thread::sleep_until(deadline);
            continue;
        }
        if (waiting) {
            const uint32_t got = read(buffer + total, capacity - total);
            total += got;
            if (got > 0) {
                lastByte = SteadyClock::now();
            } else {
                std::this_thread::sleep_for(kHangupPause);  // the driver refused the read
            }
            continue;
        }
        if (total > 0 && now - lastByte >= quiet) return static_cast<int32_t>(total);
        SteadyClock::time_point until = deadline;
        if (total > 0) until = std::min(until, lastByte + quiet);
        const auto waitMs = std::chrono::ceil<Milliseconds>(until - now).count();
        if (serialport::waitReadable(portHandle, static_cast<uint32_t>(waitMs)) < 0) {
            // A hung-up line polls ready at once; pace the retries.
            std::this_thread::sleep_for(std::min(Milliseconds(waitMs), kHangupPause));
        }
    }
}

uint32_t SerialTransport::read(uint8_t* buffer, uint32_t capacity) {
    const uint32_t queued = serialport::inputQueued(portHandle);
    if (queued == 0) return 0;
    const uint32_t count = std::min(capacity, queued);
    const int32_t got = serialport::readQueued(portHandle, buffer, count);
    const uint32_t stored = got > 0 ? static_cast<uint32_t>(got) : 0;
    if (stored < count) errorCode = LINK_SHORT_READ;
    return stored;
}

uint32_t SerialTransport::writeLimitMs(uint32_t count) const {
    const uint64_t bitsPerSecond = std::max<uint32_t>(rateInForce, 1);
    const uint64_t sendMs = uint64_t{count} * kBitsPerCharacter * 1000 / bitsPerSecond;
    return static_cast<uint32_t>(std::min<uint64_t>(2 * sendMs + 1000, 60000));
}

uint32_t SerialTransport::write(const uint8_t* data, uint32_t length) {
    const uint32_t queued = serialport::outputQueued(portHandle);
    const uint32_t room = queued < outQueueSize ? outQueueSize - queued : 0;
    const uint32_t count = std::min(length, room);
    const int32_t written =
        count == 0 ? 0 : serialport::writeWithin(portHandle, data, count, writeLimitMs(count));
    const uint32_t taken = written > 0 ? static_cast<uint32_t>(written) : 0;
    if (taken < length) errorCode = LINK_SHORT_WRITE;
    return taken;
}

}  // namespace rw
