#include "link/SharedUdpTransport.h"

#include <cstdio>

#include "link/SharedUdpSocket.h"
#include "link/SocketApi.h"

namespace rw {

SharedUdpTransport::SharedUdpTransport(const char* hostText, int32_t port) {
    if (hostText == nullptr) hostText = "";
    std::snprintf(linkText, sizeof linkText, "UDP %s:%d", hostText, port);
    linkKind = LINK_UDP;
    portNumber = port;
    errorCode = LINK_FAIL;
    const bool resolved =
        hostText[0] != '\0' && (socketapi::parseDottedAddress(hostText, hostAddress_) ||
                                socketapi::lookupFirstIPv4(hostText, hostAddress_));
    if (!resolved) return;
    socket_ = SharedUdpSocket::forPort(port);
    if (!socket_->bound()) return;
    attached_ = socket_->attach(hostAddress_);
    if (attached_) errorCode = 0;
}

SharedUdpTransport::~SharedUdpTransport() {
    if (attached_) socket_->detach(hostAddress_);
}

int SharedUdpTransport::purgeInput() {
    uint8_t scratch[256];
    return static_cast<int>(read(scratch, sizeof scratch));
}

int SharedUdpTransport::purgeOutput() {
    errorCode = 0;
    return 0;
}

uint32_t SharedUdpTransport::commErrors() {
    return 0;
}

int32_t SharedUdpTransport::outputPending() {
    return attached_ ? socket_->writable() : -1;
}

int32_t SharedUdpTransport::inputAvailable() {
    return attached_ && socket_->waiting(hostAddress_) ? 1 : 0;
}

int32_t SharedUdpTransport::readWithTimeout(uint8_t* buffer, uint32_t capacity,
                                            uint32_t timeoutMs) {
    if (!attached_) return LINK_TIMEOUT;
    const int32_t count = socket_->receive(hostAddress_, buffer, capacity, timeoutMs);
    return count < 0 ? LINK_TIMEOUT : count;
}

uint32_t SharedUdpTransport::read(uint8_t* buffer, uint32_t capacity) {
    if (!attached_) return 0;
    const int32_t count = socket_->receive(hostAddress_, buffer, capacity, 0);
    return count < 0 ? 0 : static_cast<uint32_t>(count);
}

uint32_t SharedUdpTransport::write(const uint8_t* data, uint32_t length) {
    if (!attached_) return 0;
    const int32_t count = socket_->send(hostAddress_, data, length);
    return count < 0 ? 0 : static_cast<uint32_t>(count);
}

}  // namespace rw
