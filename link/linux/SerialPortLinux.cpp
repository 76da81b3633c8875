#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <iterator>
#include <string>
#include <system_error>

#include "link/SerialPort.h"
#include "link/linux/SerialSpeedLinux.h"
#include "link/posix/PosixCalls.h"

namespace rw::serialport {
namespace {

using posix::fd;
using posix::toPollMs;

struct StandardSpeed {
    uint32_t bitsPerSecond;
    speed_t code;
};

constexpr StandardSpeed kStandardSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

const StandardSpeed* findStandardSpeed(uint32_t bitsPerSecond) {
    const auto found =
        std::find_if(std::begin(kStandardSpeeds), std::end(kStandardSpeeds),
                     [&](const StandardSpeed& s) { return s.bitsPerSecond == bitsPerSecond; });
    return found == std::end(kStandardSpeeds) ? nullptr : found;
}

bool characterSize(uint8_t byteSize, tcflag_t& flag) {
    switch (byteSize) {
        case 5:
            flag = CS5;
            return true;
        case 6:
            flag = CS6;
            return true;
        case 7:
            flag = CS7;
            return true;
        case 8:
            flag = CS8;
            return true;
        default:
            return false;
    }
}

uint8_t byteSizeOf(tcflag_t cflag) {
    switch (cflag & CSIZE) {
        case CS5:
            return 5;
        case CS6:
            return 6;
        case CS7:
            return 7;
        default:
            return 8;
    }
}

// Framing: POSIX knows one or two stop bits, so "one and a half" (code 1)
// becomes two, the nearest setting that never shortens the gap between characters.
bool buildTermios(const SerialSettings& settings, termios& t) {
    tcflag_t size = 0;
    if (!characterSize(settings.byteSize, size) || settings.parity > 2 || settings.stopBits > 2) {
        return false;
    }
    cfmakeraw(&t);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    t.c_cflag |= size | CLOCAL | CREAD;
    if (settings.parity != 0) t.c_cflag |= PARENB | (settings.parity == 1 ? PARODD : 0);
    if (settings.stopBits != 0) t.c_cflag |= CSTOPB;
    if (settings.ctsFlow) t.c_cflag |= CRTSCTS;
    if (settings.xonXoff) t.c_iflag |= IXON | IXOFF;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    return true;
}

void setModemLine(int portFd, int line, bool active) {
    ioctl(portFd, active ? TIOCMBIS : TIOCMBIC, &line);
}

// What a failed open means for the operator.
std::string openFailureText(int error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case EIO:  // a ttyS port with no UART behind it
            return "no such device";
        case EACCES:
        case EPERM:
            // Serial devices belong to the group "dialout" on Debian and most others.
            return "permission denied; add your user to the dialout group";
        case EBUSY:  // another program opened it exclusively, as the link does
            return "busy in another program";
        default: {
            std::string text = std::generic_category().message(error);
            if (!text.empty()) text[0] = static_cast<char>(std::tolower(text[0]));
            return text;
        }
    }
}

}  // namespace

PortHandle openDevice(const std::string& path, std::string& why) {
    const int portFd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (portFd < 0) {
        why = openFailureText(errno);
        return kInvalidPortHandle;
    }
    // Exclusive use: a second open (by anyone but a privileged process) now fails with EBUSY.
    ioctl(portFd, TIOCEXCL);
    return portFd;
}

int closeDevice(PortHandle port) {
    // Exclusivity belongs to the terminal, not to this descriptor: without
    // releasing it a pseudo-terminal whose other side is still held could
    // never be opened again.
    ioctl(fd(port), TIOCNXCL);
    return ::close(fd(port)) == 0 ? 0 : -1;
}

bool readSettings(PortHandle port, SerialSettings& settings) {
    termios t{};
    if (tcgetattr(fd(port), &t) != 0) return false;
    uint32_t bitsPerSecond = 0;
    if (!termios2api::readOutputSpeed(fd(port), bitsPerSecond)) {
        const speed_t code = cfgetospeed(&t);
        for (const StandardSpeed& s : kStandardSpeeds) {
            if (s.code == code) bitsPerSecond = s.bitsPerSecond;
        }
    }
    settings.baudRate = bitsPerSecond;
    settings.byteSize = byteSizeOf(t.c_cflag);
    settings.parity = (t.c_cflag & PARENB) == 0 ? 0 : ((t.c_cflag & PARODD) != 0 ? 1 : 2);
    settings.stopBits = (t.c_cflag & CSTOPB) != 0 ? 2 : 0;
    settings.ctsFlow = (t.c_cflag & CRTSCTS) != 0;
    settings.xonXoff = (t.c_iflag & (IXON | IXOFF)) != 0;
    int lines = 0;
    if (ioctl(fd(port), TIOCMGET, &lines) == 0) {
        settings.dtrActive = (lines & TIOCM_DTR) != 0;
        settings.rtsActive = (lines & TIOCM_RTS) != 0;
    }
    return true;
}

bool applySettings(PortHandle port, const SerialSettings& settings) {
    if (settings.baudRate == 0) return false;  // speed 0 would mean "hang up"
    termios t{};
    if (tcgetattr(fd(port), &t) != 0 || !buildTermios(settings, t)) return false;
    const StandardSpeed* standard = findStandardSpeed(settings.baudRate);
    if (standard != nullptr && cfsetspeed(&t, standard->code) != 0) return false;
    if (tcsetattr(fd(port), TCSANOW, &t) != 0) return false;
    if (standard == nullptr && !termios2api::setArbitrarySpeed(fd(port), settings.baudRate)) {
        return false;
    }
    setModemLine(fd(port), TIOCM_DTR, settings.dtrActive);
    setModemLine(fd(port), TIOCM_RTS, settings.rtsActive);
    return true;
}

void clearModemLines(PortHandle port) {
    setModemLine(fd(port), TIOCM_DTR, false);
    setModemLine(fd(port), TIOCM_RTS, false);
}

void requestLowLatency(PortHandle port) {
    serial_struct serial{};
    if (ioctl(fd(port), TIOCGSERIAL, &serial) != 0) return;
    serial.flags = static_cast<int>(static_cast<unsigned>(serial.flags) | ASYNC_LOW_LATENCY);
    ioctl(fd(port), TIOCSSERIAL, &serial);
}

uint32_t inputQueued(PortHandle port) {
    int count = 0;
    return ioctl(fd(port), FIONREAD, &count) == 0 && count > 0 ? static_cast<uint32_t>(count) : 0;
}

uint32_t outputQueued(PortHandle port) {
    int count = 0;
    return ioctl(fd(port), TIOCOUTQ, &count) == 0 && count > 0 ? static_cast<uint32_t>(count) : 0;
}

bool purge(PortHandle port, bool input, bool output) {
    if (!input && !output) return true;
    const int queue = input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH);
    return tcflush(fd(port), queue) == 0;
}

uint32_t lineErrors(PortHandle port, LineErrorCounts& seen) {
    serial_icounter_struct counts{};
    if (ioctl(fd(port), TIOCGICOUNT, &counts) != 0) return 0;
    const LineErrorCounts now{
        static_cast<uint32_t>(counts.frame), static_cast<uint32_t>(counts.overrun),
        static_cast<uint32_t>(counts.parity), static_cast<uint32_t>(counts.brk),
        static_cast<uint32_t>(counts.buf_overrun)};
    uint32_t flags = 0;
    if (now.frame != seen.frame) flags |= kLineErrorFrame;
    if (now.overrun != seen.overrun) flags |= kLineErrorOverrun;
    if (now.parity != seen.parity) flags |= kLineErrorParity;
    if (now.brk != seen.brk) flags |= kLineErrorBreak;
    if (now.bufferOverrun != seen.bufferOverrun) flags |= kLineErrorRxOverflow;
    seen = now;
    return flags;
}

int32_t readQueued(PortHandle port, uint8_t* buffer, uint32_t capacity) {
    if (capacity == 0) return 0;
    const ssize_t count = ::read(fd(port), buffer, capacity);
    if (count >= 0) return static_cast<int32_t>(count);
    return errno == EAGAIN || errno == EINTR ? 0 : -1;
}

int32_t writeWithin(PortHandle port, const uint8_t* data, uint32_t length, uint32_t timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    uint32_t written = 0;
    while (written < length) {
        const ssize_t count = ::write(fd(port), data + written, length - written);
        if (count > 0) {
            written += static_cast<uint32_t>(count);
            continue;
        }
        if (count < 0 && errno != EAGAIN && errno != EINTR)
            return written > 0 ? static_cast<int32_t>(written) : -1;
        const int64_t leftMs = posix::msUntil(deadline);
        if (leftMs <= 0) break;
        pollfd entry{fd(port), POLLOUT, 0};
        ::poll(&entry, 1, toPollMs(leftMs));
    }
    return static_cast<int32_t>(written);
}

int waitReadable(PortHandle port, uint32_t timeoutMs) {
    pollfd entry{fd(port), POLLIN, 0};
    const int ready = ::poll(&entry, 1, toPollMs(timeoutMs));
    if (ready < 0) return errno == EINTR ? 0 : -1;
    if (ready == 0) return 0;
    return (entry.revents & POLLIN) != 0 ? 1 : -1;
}

}  // namespace rw::serialport
