#pragma once
#include "link/SocketTransport.h"

namespace rw {

// A UDP link: binds the link's own port on every local address (with address
// reuse, so several links to the same port can coexist) and sends every
// datagram to host:port. A reply is one datagram from the host, from any of
// its ports; datagrams from anywhere else are dropped unread, so nobody else
// on the network can answer in the device's name.
class UdpTransport : public SocketTransport {
  public:
    UdpTransport(const char* hostText, int32_t port);

    // One datagram from the host (cut to the capacity); 0 when none is waiting,
    // the receive failed or the datagram came from elsewhere (it is dropped).
    uint32_t read(uint8_t* buffer, uint32_t capacity) override;
    // One datagram to host:port; the count sent, 0 on failure.
    uint32_t write(const uint8_t* data, uint32_t length) override;

  protected:
    int32_t receiveArrived(uint8_t* buffer, uint32_t capacity) override;

  private:
    int openSocket();
};

}  // namespace rw
