#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "link/SocketApi.h"
#include "link/posix/PosixCalls.h"

namespace rw::socketapi {
namespace {

using posix::fd;
using posix::toPollMs;

static_assert(sizeof(sockaddr_in) == sizeof(SocketAddressV4));

sockaddr_in toNative(const SocketAddressV4& address) {
    sockaddr_in native{};
    native.sin_family = address.family;
    native.sin_port = address.portNetworkOrder;
    native.sin_addr.s_addr = address.addressNetworkOrder;
    return native;
}

void setTimeoutOption(int socketFd, int option, uint32_t timeoutMs) {
    timeval value{};
    value.tv_sec = static_cast<time_t>(timeoutMs / 1000);
    value.tv_usec = static_cast<suseconds_t>((timeoutMs % 1000) * 1000);
    setsockopt(socketFd, SOL_SOCKET, option, &value, sizeof value);
}

bool setNonBlocking(int socketFd, bool on) {
    const int flags = fcntl(socketFd, F_GETFL);
    if (flags < 0) return false;
    const int wanted = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return fcntl(socketFd, F_SETFL, wanted) == 0;
}

int32_t countOrFailure(ssize_t result) {
    return result < 0 ? -1 : static_cast<int32_t>(result);
}

}  // namespace

bool startUp() {
    return true;
}

bool parseDottedAddress(const char* text, uint32_t& addressNetworkOrder) {
    const in_addr_t address = inet_addr(text);
    if (address == INADDR_NONE) return false;
    addressNetworkOrder = address;
    return true;
}

bool lookupFirstIPv4(const char* hostName, uint32_t& addressNetworkOrder) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (getaddrinfo(hostName, nullptr, &hints, &found) != 0 || found == nullptr) return false;
    bool ok = false;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addr != nullptr) {
            addressNetworkOrder =
                reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
            ok = true;
            break;
        }
    }
    freeaddrinfo(found);
    return ok;
}

uint16_t hostToNetwork16(uint16_t value) {
    return htons(value);
}

SocketHandle createSocket(bool stream) {
    const int type = (stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC;
    const int socketFd = ::socket(AF_INET, type, 0);
    return socketFd < 0 ? kInvalidSocketHandle : socketFd;
}

void setLinkOptions(SocketHandle socket, uint32_t timeoutMs, bool reuseAddress) {
    setTimeoutOption(fd(socket), SO_SNDTIMEO, timeoutMs);
    setTimeoutOption(fd(socket), SO_RCVTIMEO, timeoutMs);
    const int reuse = reuseAddress ? 1 : 0;
    setsockopt(fd(socket), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
}

bool bindTo(SocketHandle socket, const SocketAddressV4& address) {
    const sockaddr_in native = toNative(address);
    return ::bind(fd(socket), reinterpret_cast<const sockaddr*>(&native), sizeof native) == 0;
}

bool connectWithin(SocketHandle socket, const SocketAddressV4& address, uint32_t timeoutMs) {
    const int socketFd = fd(socket);
    if (!setNonBlocking(socketFd, true)) return false;
    const sockaddr_in native = toNative(address);
    if (::connect(socketFd, reinterpret_cast<const sockaddr*>(&native), sizeof native) != 0) {
        if (errno != EINPROGRESS) return false;
        // A signal may cut the wait short; the wait resumes with the time left.
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const int64_t leftMs = posix::msUntil(deadline);
            if (leftMs <= 0) return false;
            pollfd entry{socketFd, POLLOUT, 0};
            const int ready = ::poll(&entry, 1, toPollMs(leftMs));
            if (ready > 0) break;
            if (ready < 0 && errno != EINTR) return false;
        }
        int pending = 0;
        socklen_t size = sizeof pending;
        if (getsockopt(socketFd, SOL_SOCKET, SO_ERROR, &pending, &size) != 0 || pending != 0) {
            return false;
        }
    }
    return setNonBlocking(socketFd, false);
}

int32_t sendDatagram(SocketHandle socket, const uint8_t* data, uint32_t length,
                     const SocketAddressV4& to) {
    const sockaddr_in native = toNative(to);
    return countOrFailure(::sendto(fd(socket), data, length, MSG_NOSIGNAL,
                                   reinterpret_cast<const sockaddr*>(&native), sizeof native));
}

int32_t sendStream(SocketHandle socket, const uint8_t* data, uint32_t length) {
    return countOrFailure(::send(fd(socket), data, length, MSG_NOSIGNAL));
}

int32_t receiveDatagram(SocketHandle socket, uint8_t* buffer, uint32_t capacity) {
    sockaddr_in sender{};
    socklen_t senderSize = sizeof sender;
    return countOrFailure(::recvfrom(fd(socket), buffer, capacity, MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&sender), &senderSize));
}

bool peekDatagramSender(SocketHandle socket, uint32_t& addressNetworkOrder) {
    uint8_t first = 0;
    sockaddr_in sender{};
    socklen_t senderSize = sizeof sender;
    if (::recvfrom(fd(socket), &first, sizeof first, MSG_PEEK | MSG_DONTWAIT,
                   reinterpret_cast<sockaddr*>(&sender), &senderSize) < 0 ||
        sender.sin_family != AF_INET) {
        return false;
    }
    addressNetworkOrder = sender.sin_addr.s_addr;
    return true;
}

int32_t receiveStream(SocketHandle socket, uint8_t* buffer, uint32_t capacity) {
    return countOrFailure(::recv(fd(socket), buffer, capacity, MSG_DONTWAIT));
}

int pollSocket(SocketHandle socket, bool forWrite, uint32_t timeoutMs) {
    pollfd entry{fd(socket), static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
    const int ready = ::poll(&entry, 1, toPollMs(timeoutMs));
    if (ready < 0) return errno == EINTR ? 0 : -1;
    return ready > 0 ? 1 : 0;
}

void closeSocket(SocketHandle socket) {
    ::close(fd(socket));
}

}  // namespace rw::socketapi
