#pragma once
#include "link/SocketTransport.h"

namespace rw {

// A UDP link: binds the link's own port on every local address (with address
// reuse, so several links to the same port can coexist) and sends every
// datagram to host:port. A reply is one datagram from any sender.
class UdpTransport : public SocketTransport {
public:
    UdpTransport(const char* hostText, int32_t port);

    // One datagram (cut to the capacity); 0 when none is waiting or the receive failed.
    uint32_t read(uint8_t* buffer, uint32_t capacity) override;
    // One datagram to host:port; the count sent, 0 on failure.
    uint32_t write(const uint8_t* data, uint32_t length) override;

private:
    int openSocket();
};

}  // namespace rw
