#pragma once
#include "link/SocketTransport.h"

namespace rw {

// A TCP link to host:port. The connection attempt is bounded, so a dead host
// fails the link instead of holding the programming thread for minutes.
class TcpTransport : public SocketTransport {
  public:
    static constexpr uint32_t kConnectTimeoutMs = 10000;

    TcpTransport(const char* hostText, int32_t port, uint32_t connectTimeoutMs = kConnectTimeoutMs);

    // Whatever part of the stream has arrived, at most the capacity; 0 when
    // nothing has, the peer has closed or the receive failed.
    uint32_t read(uint8_t* buffer, uint32_t capacity) override;
    // The count the stream took, 0 on failure (a closed peer never raises SIGPIPE).
    uint32_t write(const uint8_t* data, uint32_t length) override;

  private:
    int openSocket(uint32_t connectTimeoutMs);
};

}  // namespace rw
