#include "link/UdpTransport.h"

namespace rw {

UdpTransport::UdpTransport(const char* hostText, int32_t port)
    : SocketTransport("UDP", LINK_UDP, hostText, port) {
    if (errorCode != 0) return;
    setRemoteAddress(0);
    errorCode = openSocket();
}

int UdpTransport::openSocket() {
    socketHandle = socketapi::createSocket(false);
    if (socketHandle == socketapi::INVALID_SOCKET_HANDLE) return LINK_FAIL;
    socketapi::setLinkOptions(socketHandle, SOCKET_TIMEOUT_MS, true);
    // remoteAddress holds the local binding (any address, the link's port) until
    // the bind has succeeded; from then on it is the destination of every datagram.
    if (!socketapi::bindTo(socketHandle, remoteAddress)) {
        closeSocketHandle();
        return LINK_FAIL;
    }
    remoteAddress.addressNetworkOrder = hostAddress;
    return 0;
}

uint32_t UdpTransport::read(uint8_t* buffer, uint32_t capacity) {
    const int32_t count = socketapi::receiveDatagram(socketHandle, buffer, capacity);
    return count < 0 ? 0 : static_cast<uint32_t>(count);
}

uint32_t UdpTransport::write(const uint8_t* data, uint32_t length) {
    const int32_t count = socketapi::sendDatagram(socketHandle, data, length, remoteAddress);
    return count < 0 ? 0 : static_cast<uint32_t>(count);
}

}  // namespace rw
