#pragma once
#include <cstdint>

#include "link/SocketApi.h"
#include "link/Transport.h"

namespace rw {

// What the UDP and TCP links share: the socket, the remote address, name
// resolution, readiness polls, purging and the wait for a reply. Only ever
// created as a UdpTransport or TcpTransport.
class SocketTransport : public Transport {
  public:
    ~SocketTransport() override;

    // One receive of at most 256 bytes when input is waiting; its count, else 0.
    int purgeInput() override;
    // Clears errorCode; nothing else (a socket has no send queue to discard).
    int purgeOutput() override;
    // Always 0: a socket has no line-error flags.
    uint32_t commErrors() override;
    // 1 writable now, 0 not, -1 when the poll failed.
    int32_t outputPending() override;
    // 1 readable now, 0 not, -1 when the poll failed.
    int32_t inputAvailable() override;
    // Waits until the socket is readable or the time-out has passed, then makes
    // one read: its count (0 when the receive failed), or LINK_TIMEOUT. Input
    // that the link drops as not coming from its peer does not end the wait.
    int32_t readWithTimeout(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) override;
    uint32_t read(uint8_t* buffer, uint32_t capacity) override;
    uint32_t write(const uint8_t* data, uint32_t length) override;
    // Dotted-decimal text, else the first IPv4 address of a name lookup, in
    // network byte order; 0 on success, LINK_FAIL when the name does not resolve.
    virtual int resolve(const char* hostText, uint32_t& address);

  protected:
    // Sends and receives never wait longer than this for the socket.
    static constexpr uint32_t kSocketTimeoutMs = 5;
    static constexpr uint32_t kPurgeScratchSize = 256;
    // What receiveArrived reports for input dropped as not coming from the peer.
    static constexpr int32_t kNotFromPeer = -1;

    // Names the link ("<kindText> host:port") and resolves the host; a host
    // that does not resolve leaves errorCode at LINK_FAIL and no socket.
    SocketTransport(const char* kindText, int32_t kind, const char* hostText, int32_t port);
    // Fills remoteAddress with the given address and the link's port.
    void setRemoteAddress(uint32_t addressNetworkOrder);
    void closeSocketHandle();
    // The read that readWithTimeout makes once the socket is readable: the
    // count (0 when the receive failed), or kNotFromPeer when what arrived was
    // dropped unread. A stream comes only from its peer: one read().
    virtual int32_t receiveArrived(uint8_t* buffer, uint32_t capacity);

    socketapi::SocketHandle socketHandle = socketapi::kInvalidSocketHandle;
    SocketAddressV4 remoteAddress{};
    uint32_t hostAddress = 0;
};

}  // namespace rw
