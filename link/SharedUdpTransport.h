#pragma once
#include <cstdint>
#include <memory>

#include "link/Transport.h"

namespace rw {

class SharedUdpSocket;

// A UDP link to host:port over the process's shared socket of that port
// (SharedUdpSocket), for programs that run links to several hosts on one port
// at once. It behaves as a UdpTransport does: named "UDP host:port", datagrams
// leave from the port they go to, and a reply is one datagram from the host,
// from any of its ports; nothing from another host ever reaches it.
class SharedUdpTransport : public Transport {
  public:
    // Fails (LINK_FAIL) when the host does not resolve, the port cannot be
    // bound, or another link of this process already talks to host:port.
    SharedUdpTransport(const char* hostText, int32_t port);
    ~SharedUdpTransport() override;

    // Drops one waiting datagram: its length, 0 when none was waiting.
    int purgeInput() override;
    // Clears errorCode; a datagram socket has nothing queued to discard.
    int purgeOutput() override;
    uint32_t commErrors() override;
    // 1 writable now, 0 not, -1 when the poll failed or the link is not open.
    int32_t outputPending() override;
    // 1 when a datagram from the host is waiting, else 0.
    int32_t inputAvailable() override;
    // The next datagram from the host within timeoutMs, cut to the capacity:
    // its length, or LINK_TIMEOUT.
    int32_t readWithTimeout(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) override;
    // A waiting datagram, cut to the capacity; 0 when none is waiting.
    uint32_t read(uint8_t* buffer, uint32_t capacity) override;
    // One datagram to host:port; the count sent, 0 on failure.
    uint32_t write(const uint8_t* data, uint32_t length) override;

  private:
    std::shared_ptr<SharedUdpSocket> socket_;
    uint32_t hostAddress_ = 0;
    bool attached_ = false;
};

}  // namespace rw
