#include "link/TcpTransport.h"

namespace rw {

TcpTransport::TcpTransport(const char* hostText, int32_t port, uint32_t connectTimeoutMs)
    : SocketTransport("TCP", LINK_TCP, hostText, port) {
    if (errorCode != 0) return;
    setRemoteAddress(hostAddress);
    errorCode = openSocket(connectTimeoutMs);
}

int TcpTransport::openSocket(uint32_t connectTimeoutMs) {
    socketHandle = socketapi::createSocket(true);
    if (socketHandle == socketapi::kInvalidSocketHandle) return LINK_FAIL;
    socketapi::setLinkOptions(socketHandle, kSocketTimeoutMs, true);
    if (!socketapi::connectWithin(socketHandle, remoteAddress, connectTimeoutMs)) {
        closeSocketHandle();
        return LINK_FAIL;
    }
    return 0;
}

uint32_t TcpTransport::read(uint8_t* buffer, uint32_t capacity) {
    const int32_t count = socketapi::receiveStream(socketHandle, buffer, capacity);
    return count < 0 ? 0 : static_cast<uint32_t>(count);
}

uint32_t TcpTransport::write(const uint8_t* data, uint32_t length) {
    const int32_t count = socketapi::sendStream(socketHandle, data, length);
    return count < 0 ? 0 : static_cast<uint32_t>(count);
}

}  // namespace rw
