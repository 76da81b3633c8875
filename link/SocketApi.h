#pragma once
// The socket calls the network links make, one function per platform call.
// link/posix/SocketApiPosix.cpp implements them on POSIX sockets; a Windows
// build adds its own implementation beside it.
#include <cstdint>

namespace rw {

// An IPv4 socket address laid out as the platform's sockaddr_in: family, port
// and address in network byte order, eight zero bytes.
struct SocketAddressV4 {
    uint16_t family = 0;
    uint16_t portNetworkOrder = 0;
    uint32_t addressNetworkOrder = 0;
    uint8_t zero[8] = {};
};
static_assert(sizeof(SocketAddressV4) == 16);

namespace socketapi {

// Starts the platform's socket layer once per program, before any link exists;
// false when it is unavailable. POSIX sockets need no start-up.
bool startUp();

using SocketHandle = std::intptr_t;
constexpr SocketHandle kInvalidSocketHandle = -1;

constexpr uint16_t kAddressFamilyInet = 2;

// The address of dotted-decimal text, network byte order; false when the text
// is not one, and for 255.255.255.255, which inet_addr cannot tell from its
// error value (that text then goes on to the name lookup).
bool parseDottedAddress(const char* text, uint32_t& addressNetworkOrder);
// The first IPv4 address a name lookup finds; false when it finds none.
bool lookupFirstIPv4(const char* hostName, uint32_t& addressNetworkOrder);

uint16_t hostToNetwork16(uint16_t value);

// A new IPv4 datagram or stream socket, kInvalidSocketHandle on failure.
SocketHandle createSocket(bool stream);
// Send and receive time-outs in milliseconds and address reuse; refusals ignored.
void setLinkOptions(SocketHandle socket, uint32_t timeoutMs, bool reuseAddress);
// True when the socket took the address.
bool bindTo(SocketHandle socket, const SocketAddressV4& address);
// Connects, giving up after timeoutMs; true when connected. The socket is
// blocking again afterwards.
bool connectWithin(SocketHandle socket, const SocketAddressV4& address, uint32_t timeoutMs);
// Byte counts, or a negative value on failure. Sends never raise SIGPIPE;
// receives never wait for data that has not arrived.
int32_t sendDatagram(SocketHandle socket, const uint8_t* data, uint32_t length,
                     const SocketAddressV4& to);
int32_t sendStream(SocketHandle socket, const uint8_t* data, uint32_t length);
int32_t receiveDatagram(SocketHandle socket, uint8_t* buffer, uint32_t capacity);
// The sender's IPv4 address (network byte order) of the next waiting datagram,
// which stays queued; false when none is waiting or the receive failed.
bool peekDatagramSender(SocketHandle socket, uint32_t& addressNetworkOrder);
int32_t receiveStream(SocketHandle socket, uint8_t* buffer, uint32_t capacity);
// Waits up to timeoutMs (0: just looks) for the socket to become readable
// (forWrite false) or writable; 1 ready, 0 not (also when a signal cut the
// wait short), -1 when the poll failed. An error or hang-up condition counts as ready.
int pollSocket(SocketHandle socket, bool forWrite, uint32_t timeoutMs);
void closeSocket(SocketHandle socket);

}  // namespace socketapi
}  // namespace rw
