#include "LoopbackSockets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace rwtest {
namespace {

sockaddr_in addressOf(const char* host, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, host, &address.sin_addr);
    return address;
}

Fd boundSocket(int type, bool reuse, uint16_t& port) {
    Fd socketFd(::socket(AF_INET, type | SOCK_CLOEXEC, 0));
    if (socketFd.get() < 0) throw std::runtime_error("socket");
    const int on = 1;
    if (reuse) setsockopt(socketFd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = addressOf(PEER_HOST, 0);
    if (::bind(socketFd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("bind");
    }
    socklen_t size = sizeof address;
    getsockname(socketFd.get(), reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
    return socketFd;
}

bool readableWithin(int fd, int timeoutMs) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, timeoutMs) > 0;
}

}  // namespace

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
}

int Fd::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void Fd::reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

Fd udpPeer(uint16_t& port) {
    return boundSocket(SOCK_DGRAM, true, port);
}

Fd tcpListener(uint16_t& port, int backlog) {
    Fd listener = boundSocket(SOCK_STREAM, true, port);
    if (::listen(listener.get(), backlog) != 0) throw std::runtime_error("listen");
    return listener;
}

Fd tcpRefusingPort(uint16_t& port) {
    return boundSocket(SOCK_STREAM, false, port);
}

Fd acceptWithin(int listener, int timeoutMs) {
    if (!readableWithin(listener, timeoutMs)) return Fd();
    return Fd(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
}

std::vector<uint8_t> receiveDatagramWithin(int fd, int timeoutMs, uint16_t* senderPort) {
    if (!readableWithin(fd, timeoutMs)) return {};
    std::vector<uint8_t> bytes(2048);
    sockaddr_in sender{};
    socklen_t size = sizeof sender;
    const ssize_t count =
        ::recvfrom(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&sender), &size);
    bytes.resize(count > 0 ? static_cast<size_t>(count) : 0);
    if (senderPort != nullptr) *senderPort = ntohs(sender.sin_port);
    return bytes;
}

void sendDatagramTo(int fd, const std::vector<uint8_t>& bytes, const char* host, uint16_t port) {
    const sockaddr_in address = addressOf(host, port);
    ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&address),
             sizeof address);
}

std::vector<uint8_t> receiveStreamWithin(int fd, size_t count, int timeoutMs) {
    std::vector<uint8_t> bytes;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
        if (!readableWithin(fd, 10)) continue;
        uint8_t chunk[512];
        const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0) break;
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    return bytes;
}

void sendAll(int fd, const std::vector<uint8_t>& bytes) {
    size_t sent = 0;
    for (int tries = 0; sent < bytes.size() && tries < 100; ++tries) {
        const ssize_t count = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (count <= 0) break;
        sent += static_cast<size_t>(count);
    }
}

std::vector<uint8_t> bytesOf(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

}  // namespace rwtest
