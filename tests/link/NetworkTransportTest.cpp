// UDP and TCP links against real sockets on 127.0.0.2, each test on its own free port.
#include <gtest/gtest.h>

#include <memory>

#include "link/SharedUdpTransport.h"
#include "link/TcpTransport.h"
#include "link/UdpTransport.h"
#include "support/LoopbackSockets.h"

namespace rwtest {
namespace {

Bytes readReply(rw::Transport& link, uint32_t timeoutMs = 2000) {
    Bytes buffer(512);
    const int32_t count = link.readWithTimeout(buffer.data(), 512, timeoutMs);
    buffer.resize(count > 0 ? static_cast<size_t>(count) : 0);
    return buffer;
}

// The link kind of a UDP link over the process's shared socket of its port.
constexpr int kSharedUdp = 100;

// A link of any kind to a fresh peer on 127.0.0.2; `udpPort` is 0 for TCP.
struct Peer {
    std::unique_ptr<rw::Transport> link;
    Fd peer;
    uint16_t udpPort = 0;
    void sends(const Bytes& bytes) { sendBytes(peer.get(), bytes, udpPort); }
};

Peer connect(int kind) {
    Peer p;
    uint16_t port = 0;
    if (kind == rw::LINK_TCP) {
        Fd listener = peerSocket(SOCK_STREAM, port, 4);
        p.link = std::make_unique<rw::TcpTransport>(kPeerHost, port);
        p.peer = Fd(readableWithin(listener.get(), 2000) ? accept(listener.get(), nullptr, nullptr)
                                                         : -1);
    } else {
        p.peer = peerSocket(SOCK_DGRAM, port);
        p.udpPort = port;
        if (kind == kSharedUdp)
            p.link = std::make_unique<rw::SharedUdpTransport>(kPeerHost, port);
        else
            p.link = std::make_unique<rw::UdpTransport>(kPeerHost, port);
    }
    EXPECT_EQ(p.link->lastError(), 0);
    return p;
}

class NetworkLinks : public ::testing::TestWithParam<int> {};

TEST_P(NetworkLinks, ExchangeBytesWaitUntilTheReplyOrTheTimeOutAndPurgeOneReceive) {
    Peer p = connect(GetParam());
    EXPECT_EQ(p.link->writeString("hello"), 5u);
    uint16_t senderPort = p.udpPort;
    EXPECT_EQ(receive(p.peer.get(), 5, p.udpPort != 0 ? &senderPort : nullptr), bytesOf("hello"));
    EXPECT_EQ(senderPort, p.udpPort) << "datagrams leave from the port they go to";
    uint8_t buffer[16];
    auto start = now();
    EXPECT_EQ(p.link->readWithTimeout(buffer, sizeof buffer, 0), rw::LINK_TIMEOUT);
    EXPECT_EQ(p.link->readByte(), rw::LINK_TIMEOUT);
    EXPECT_EQ(p.link->read(buffer, sizeof buffer), 0u);
    EXPECT_EQ(readReply(*p.link, 40), Bytes{});
    EXPECT_TRUE(elapsedMsSince(start) >= 39 && elapsedMsSince(start) < 1000);

    std::thread sender([&] {
        std::this_thread::sleep_for(Ms(20));
        p.sends(bytesOf("late"));
    });
    start = now();
    EXPECT_EQ(readReply(*p.link, 5000), bytesOf("late"));
    EXPECT_LT(elapsedMsSince(start), 2500) << "the wait ends with the reply, not at the time-out";
    sender.join();
    if (p.udpPort != 0) {  // UDP takes its host's datagrams from any port, nobody else's
        uint16_t port = 0;
        Fd otherPortOfHost = peerSocket(SOCK_DGRAM, port);
        Fd stranger = peerSocket(SOCK_DGRAM, port, -1, true, "127.0.0.3");
        sendBytes(stranger.get(), bytesOf("forged"), p.udpPort);
        sendBytes(otherPortOfHost.get(), bytesOf("other"), p.udpPort);
        EXPECT_EQ(readReply(*p.link), bytesOf("other"));
        sendBytes(stranger.get(), bytesOf("forged"), p.udpPort);
        start = now();
        EXPECT_EQ(readReply(*p.link, 60), Bytes{});
        EXPECT_GE(elapsedMsSince(start), 59) << "a dropped datagram does not end the wait";
    }

    // UDP: the first of two waiting datagrams, cut at 256; TCP: 256 of 300 bytes.
    Bytes stream(300);
    for (size_t i = 0; i < stream.size(); ++i) stream[i] = static_cast<uint8_t>(i);
    p.sends(stream);
    if (p.udpPort != 0) p.sends(bytesOf("second"));
    ASSERT_TRUE(within2s([&] { return p.link->inputAvailable() != 0; }));
    EXPECT_EQ(p.link->purgeInput(), 256);
    EXPECT_EQ(readReply(*p.link, 0),
              p.udpPort != 0 ? bytesOf("second") : Bytes(stream.begin() + 256, stream.end()));
    EXPECT_EQ(p.link->purgeInput(), 0) << "nothing left to purge";
}

INSTANTIATE_TEST_SUITE_P(UdpAndTcp, NetworkLinks,
                         ::testing::Values(rw::LINK_UDP, kSharedUdp, rw::LINK_TCP),
                         [](const auto& test) {
                             return test.param == rw::LINK_UDP ? "Udp"
                                    : test.param == kSharedUdp ? "SharedUdp"
                                                               : "Tcp";
                         });

TEST(UdpTransport, IsNamedByHostAndPortAndOpensBesideAnotherLinkOfThePort) {
    Peer p = connect(rw::LINK_UDP);
    EXPECT_EQ(std::string(p.link->linkName()), "UDP 127.0.0.2:" + std::to_string(p.udpPort));
    EXPECT_EQ(rw::UdpTransport(kPeerHost, p.udpPort).lastError(), 0);
}

TEST(SharedUdpTransport, LinksToTwoHostsOnOnePortShareItsSocketAndEachGetsItsHostsDatagrams) {
    uint16_t port = 0;
    Fd deviceA = peerSocket(SOCK_DGRAM, port);
    Fd deviceB(::socket(AF_INET, SOCK_DGRAM, 0));
    const int on = 1;
    setsockopt(deviceB.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in addressB = addressOf("127.0.0.3", port);
    ASSERT_EQ(::bind(deviceB.get(), reinterpret_cast<const sockaddr*>(&addressB), sizeof addressB),
              0);

    rw::SharedUdpTransport linkA(kPeerHost, port), linkB("127.0.0.3", port);
    ASSERT_EQ(linkA.lastError() + linkB.lastError(), 0);
    EXPECT_STREQ(linkB.linkName(), ("UDP 127.0.0.3:" + std::to_string(port)).c_str());
    EXPECT_EQ(rw::SharedUdpTransport(kPeerHost, port).lastError(), rw::LINK_FAIL)
        << "one link per host and port: a second would take the first one's replies";

    ASSERT_EQ(linkA.writeString("to A") + linkB.writeString("to B"), 8u);
    uint16_t fromA = 0, fromB = 0;
    EXPECT_EQ(receive(deviceA.get(), 1, &fromA), bytesOf("to A"));
    EXPECT_EQ(receive(deviceB.get(), 1, &fromB), bytesOf("to B"));
    EXPECT_EQ(std::pair(fromA, fromB), std::pair(port, port)) << "they leave from that port";

    // Replies of both hosts arrive before either link reads.
    sendBytes(deviceB.get(), bytesOf("B1"), port);
    sendBytes(deviceA.get(), bytesOf("A1"), port);
    sendBytes(deviceB.get(), bytesOf("B2"), port);
    EXPECT_EQ(readReply(linkA), bytesOf("A1"));
    EXPECT_EQ(readReply(linkB), bytesOf("B1"));
    EXPECT_EQ(readReply(linkB), bytesOf("B2"));
    EXPECT_EQ(readReply(linkA, 50), Bytes{}) << "nothing from another host reaches a link";
}

TEST(TcpTransport, ConnectFailsWithinItsBoundAndAClosedPeerGivesZeroCountsWithoutSignal) {
    uint16_t port = 0;
    Fd notListening = peerSocket(SOCK_STREAM, port, -1, false);
    EXPECT_EQ(rw::TcpTransport(kPeerHost, port).lastError(), rw::LINK_FAIL);
    // A listener whose accept queue is full leaves connection requests unanswered.
    Fd listener = peerSocket(SOCK_STREAM, port, 0);
    rw::TcpTransport filler1(kPeerHost, port, 50), filler2(kPeerHost, port, 50);
    const auto start = now();
    EXPECT_EQ(rw::TcpTransport(kPeerHost, port, 100).lastError(), rw::LINK_FAIL);
    EXPECT_TRUE(elapsedMsSince(start) >= 90 && elapsedMsSince(start) < 3000);

    for (const bool reset : {false, true}) {
        Peer p = connect(rw::LINK_TCP);
        const linger abortive{1, 0};
        if (reset) setsockopt(p.peer.get(), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        p.peer.reset();
        uint8_t buffer[16];
        EXPECT_EQ(p.link->readWithTimeout(buffer, sizeof buffer, 2000), 0) << reset;
        // The first send after a graceful close may still be taken; the reset refuses the next.
        EXPECT_TRUE(within2s([&] { return p.link->write(buffer, sizeof buffer) == 0; })) << reset;
    }
}

TEST(SocketTransport, HostTextsThatDoNotResolveFailTheLink) {
    // A label longer than 63 characters cannot go into a DNS query: no traffic leaves.
    for (const std::string& host : {std::string(70, 'x') + ".invalid", std::string()}) {
        rw::UdpTransport udp(host.c_str(), 3001);
        EXPECT_EQ(udp.lastError() + rw::TcpTransport(host.c_str(), 3001, 50).lastError(),
                  2 * rw::LINK_FAIL);
        udp.purgeOutput();
        EXPECT_EQ(udp.lastError(), 0) << "purging the output clears the recorded failure";
    }
}

}  // namespace
}  // namespace rwtest
