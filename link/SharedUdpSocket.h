#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "link/SocketApi.h"

namespace rw {

// One UDP socket bound to a local port on every address, shared by all links
// of a program that talk to hosts on that port. Two sockets bound to one port
// cannot both receive: the system hands each datagram to one of them (the last
// bound), so links to gateways that all use the default port must share one.
// A receiver thread takes every datagram and queues it for the link attached
// to its sender's host; datagrams from any other host are dropped.
class SharedUdpSocket {
  public:
    // The socket of `port`: the one already open in this process, or a new one.
    // Check bound(): a port that cannot be bound gives a socket that never is.
    static std::shared_ptr<SharedUdpSocket> forPort(int32_t port);

    explicit SharedUdpSocket(int32_t port);
    ~SharedUdpSocket();
    SharedUdpSocket(const SharedUdpSocket&) = delete;
    SharedUdpSocket& operator=(const SharedUdpSocket&) = delete;

    bool bound() const { return handle_ != socketapi::kInvalidSocketHandle; }
    int32_t port() const { return port_; }

    // Datagrams from `host` (IPv4, network byte order) are queued from now on;
    // false when another link already has that host.
    bool attach(uint32_t host);
    // Stops queueing for `host` and drops what is queued.
    void detach(uint32_t host);

    // One datagram to host:port; the count sent, or a negative value.
    int32_t send(uint32_t host, const uint8_t* data, uint32_t length);
    // Takes the next datagram from `host`, waiting up to timeoutMs for one:
    // its length (cut to the capacity), or -1 when none came.
    int32_t receive(uint32_t host, uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs);
    // A datagram from `host` is waiting.
    bool waiting(uint32_t host);
    // 1 when the socket takes a datagram now, 0 not, -1 when the poll failed.
    int writable();

  private:
    void receiveLoop();

    const int32_t port_;
    socketapi::SocketHandle handle_ = socketapi::kInvalidSocketHandle;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::map<uint32_t, std::deque<std::vector<uint8_t>>> queues_;  // by attached host
    std::atomic<bool> stop_{false};
    std::thread receiver_;
};

}  // namespace rw
