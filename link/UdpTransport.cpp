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
    if (socketHandle == socketapi::kInvalidSocketHandle) return LINK_FAIL;
    socketapi::setLinkOptions(socketHandle, kSocketTimeoutMs, true);
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
    const int32_t count = receiveArrived(buffer, capacity);
    return count < 0 ? 0 : static_cast<uint32_t>(count);
}

int32_t UdpTransport::receiveArrived(uint8_t* buffer, uint32_t capacity) {
    // The sender is looked at before the datagram is taken, so a foreign one
    // never touches the buffer.
    uint32_t sender = 0;
    if (!socketapi::peekDatagramSender(socketHandle, sender)) return 0;
    if (sender != hostAddress) {
        uint8_t discarded = 0;
        socketapi::receiveDatagram(socketHandle, &discarded, sizeof discarded);
        return kNotFromPeer;
    }
    const int32_t count = socketapi::receiveDatagram(socketHandle, buffer, capacity);
    return count < 0 ? 0 : count;
}

uint32_t UdpTransport::write(const uint8_t* data, uint32_t length) {
    const int32_t count = socketapi::sendDatagram(socketHandle, data, length, remoteAddress);
    return count < 0 ? 0 : static_cast<uint32_t>(count);
}

}  // namespace rw
