#pragma once
// Test-side sockets on 127.0.0.2: the peers that the network links talk to.
#include <cstdint>
#include <string>
#include <vector>

namespace rwtest {

constexpr const char* PEER_HOST = "127.0.0.2";

// Owns a file descriptor; closes it with the object.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release();
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

// A UDP socket bound to 127.0.0.2 on a free port, with address reuse so that a
// link can bind the same port on every address; the port in `port`.
Fd udpPeer(uint16_t& port);
// A TCP socket listening on 127.0.0.2 on a free port.
Fd tcpListener(uint16_t& port, int backlog = 4);
// A TCP socket bound to 127.0.0.2 on a free port, not listening: connects are refused.
Fd tcpRefusingPort(uint16_t& port);
// Accepts one connection, waiting at most timeoutMs; an empty Fd when none came.
Fd acceptWithin(int listener, int timeoutMs);

// Receives one datagram within timeoutMs; empty when none came. The sender's
// port goes to senderPort when given.
std::vector<uint8_t> receiveDatagramWithin(int fd, int timeoutMs, uint16_t* senderPort = nullptr);
void sendDatagramTo(int fd, const std::vector<uint8_t>& bytes, const char* host, uint16_t port);
// Reads from a stream until `count` bytes arrived or timeoutMs passed.
std::vector<uint8_t> receiveStreamWithin(int fd, size_t count, int timeoutMs);
void sendAll(int fd, const std::vector<uint8_t>& bytes);

std::vector<uint8_t> bytesOf(const std::string& text);

}  // namespace rwtest
