#include "link/SocketTransport.h"

#include <cstdio>

#include "base/Clock.h"

namespace rw {

SocketTransport::SocketTransport(const char* kindText, int32_t kind, const char* hostText,
                                 int32_t port) {
    if (hostText == nullptr) hostText = "";
    std::snprintf(linkText, sizeof linkText, "%s %s:%d", kindText, hostText, port);
    linkKind = kind;
    portNumber = port;
    if (resolve(hostText, hostAddress) != 0) errorCode = LINK_FAIL;
}

SocketTransport::~SocketTransport() {
    closeSocketHandle();
}

void SocketTransport::closeSocketHandle() {
    if (socketHandle == socketapi::kInvalidSocketHandle) return;
    socketapi::closeSocket(socketHandle);
    socketHandle = socketapi::kInvalidSocketHandle;
}

void SocketTransport::setRemoteAddress(uint32_t addressNetworkOrder) {
    remoteAddress = SocketAddressV4{};
    remoteAddress.family = socketapi::kAddressFamilyInet;
    remoteAddress.portNetworkOrder = socketapi::hostToNetwork16(static_cast<uint16_t>(portNumber));
    remoteAddress.addressNetworkOrder = addressNetworkOrder;
}

int SocketTransport::resolve(const char* hostText, uint32_t& address) {
    if (hostText == nullptr || hostText[0] == '\0') return LINK_FAIL;
    if (socketapi::parseDottedAddress(hostText, address)) return 0;
    return socketapi::lookupFirstIPv4(hostText, address) ? 0 : LINK_FAIL;
}

int SocketTransport::purgeInput() {
    if (inputAvailable() == 0) return 0;
    uint8_t scratch[kPurgeScratchSize];
    return static_cast<int>(read(scratch, sizeof scratch));
}

int SocketTransport::purgeOutput() {
    errorCode = 0;
    return 0;
}

uint32_t SocketTransport::commErrors() {
    return 0;
}

int32_t SocketTransport::outputPending() {
    return socketapi::pollSocket(socketHandle, true, 0);
}

int32_t SocketTransport::inputAvailable() {
    return socketapi::pollSocket(socketHandle, false, 0);
}

int32_t SocketTransport::readWithTimeout(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) {
    Clock& clock = systemClock();
    const int64_t deadlineMs = clock.nowMs() + timeoutMs;
    // One poll with the time left: it returns at once for input that is already
    // readable (also with a time-out of 0), and otherwise as soon as input
    // arrives, so a reply costs no extra system call and no added latency.
    // A failed poll (-1) counts as input: the read then reports the failure as 0.
    // Dropped input lets the wait go on until the same deadline.
    for (;;) {
        const int64_t leftMs = remainingMs(deadlineMs, clock.nowMs());
        if (socketapi::pollSocket(socketHandle, false, static_cast<uint32_t>(leftMs)) != 0) {
            const int32_t count = receiveArrived(buffer, capacity);
            if (count != kNotFromPeer) return count;
        }
        if (leftMs == 0) return LINK_TIMEOUT;
    }
}

int32_t SocketTransport::receiveArrived(uint8_t* buffer, uint32_t capacity) {
    return static_cast<int32_t>(read(buffer, capacity));
}

uint32_t SocketTransport::read(uint8_t*, uint32_t) {
    return 0;
}

uint32_t SocketTransport::write(const uint8_t*, uint32_t) {
    return 0;
}

}  // namespace rw
