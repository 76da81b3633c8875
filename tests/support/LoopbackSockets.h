#pragma once
// Test-side sockets on 127.0.0.2 (the peers of the network links and of the
// simulator) and time helpers.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace rwtest {

constexpr const char* kPeerHost = "127.0.0.2";
using Ms = std::chrono::milliseconds;
using Bytes = std::vector<uint8_t>;
const auto now = std::chrono::steady_clock::now;

// Owns a file descriptor (-1 for none) and closes it with the object.
struct Fd : std::shared_ptr<void> {
    explicit Fd(int fd = -1)
        : std::shared_ptr<void>(nullptr, [fd](void*) { fd >= 0 && ::close(fd); }), fd_(fd) {}
    int get() const { return fd_; }

  private:
    int fd_;
};

inline int64_t elapsedMsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<Ms>(now() - start).count();
}

// Polls `ready` every millisecond for at most 2 s.
template <typename Ready>
bool within2s(Ready ready) {
    for (const auto start = now(); elapsedMsSince(start) < 2000; std::this_thread::sleep_for(Ms(1)))
        if (ready()) return true;
    return false;
}

inline sockaddr_in addressOf(const char* host, uint16_t port) {
    sockaddr_in address{AF_INET, htons(port), {}, {}};
    inet_pton(AF_INET, host, &address.sin_addr);
    return address;
}

// A socket bound to `host` (127.0.0.2 by default) on a free port (in `port`);
// listening when backlog >= 0. UDP peers reuse the address so a link can bind
// the same port on every address.
inline Fd peerSocket(int type, uint16_t& port, int backlog = -1, bool reuse = true,
                     const char* host = kPeerHost) {
    Fd fd(::socket(AF_INET, type, 0));
    const int on = 1;
    if (reuse) setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = addressOf(host, 0);
    socklen_t size = sizeof address;
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        (backlog >= 0 && ::listen(fd.get(), backlog) != 0))
        throw std::runtime_error("peer socket");
    getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
    return fd;
}

inline bool readableWithin(int fd, int timeoutMs) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, timeoutMs) > 0;
}

// What a datagram socket, stream or terminal delivers until `count` bytes came, within 2 s.
inline Bytes receive(int fd, size_t count = 1, uint16_t* senderPort = nullptr) {
    Bytes bytes;
    sockaddr_in sender{};
    socklen_t size = sizeof sender;
    for (const auto start = now(); bytes.size() < count && elapsedMsSince(start) < 2000;) {
        if (!readableWithin(fd, 10)) continue;
        uint8_t chunk[2048];
        const ssize_t got = senderPort == nullptr
                                ? ::read(fd, chunk, sizeof chunk)
                                : ::recvfrom(fd, chunk, sizeof chunk, 0,
                                             reinterpret_cast<sockaddr*>(&sender), &size);
        if (got <= 0) break;
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    if (senderPort != nullptr) *senderPort = ntohs(sender.sin_port);
    return bytes;
}

// To the link's UDP port on 127.0.0.1 when port != 0, else down the connected stream.
inline void sendBytes(int fd, const Bytes& bytes, uint16_t port = 0) {
    const sockaddr_in address = addressOf("127.0.0.1", port);
    ::sendto(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL,
             port != 0 ? reinterpret_cast<const sockaddr*>(&address) : nullptr,
             port != 0 ? sizeof address : 0);
}

inline Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

}  // namespace rwtest
