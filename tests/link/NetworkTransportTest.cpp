// UDP and TCP links against real sockets on 127.0.0.2, each test on its own free port.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackSockets.h"
#include "engine/Codes.h"
#include "link/TcpTransport.h"
#include "link/UdpTransport.h"

namespace rw {
namespace {

using rwtest::bytesOf;
using rwtest::Fd;
using rwtest::PEER_HOST;
using Ms = std::chrono::milliseconds;

int64_t elapsedMsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<Ms>(std::chrono::steady_clock::now() - start).count();
}

// Polls the link (bounded) until input is waiting, without consuming it.
bool waitForInput(Transport& link, int timeoutMs) {
    const auto start = std::chrono::steady_clock::now();
    while (elapsedMsSince(start) < timeoutMs) {
        if (link.inputAvailable() != 0) return true;
        std::this_thread::sleep_for(Ms(1));
    }
    return false;
}

std::vector<uint8_t> readReply(Transport& link, uint32_t timeoutMs) {
    std::vector<uint8_t> buffer(512);
    const int32_t count = link.readWithTimeout(buffer.data(), 512, timeoutMs);
    buffer.resize(count > 0 ? static_cast<size_t>(count) : 0);
    return buffer;
}

// A connected TCP link and the peer's end of the connection.
struct TcpPair {
    std::unique_ptr<TcpTransport> link;
    Fd peer;
};

TcpPair connectTcp() {
    uint16_t port = 0;
    Fd listener = rwtest::tcpListener(port);
    TcpPair pair;
    pair.link = std::make_unique<TcpTransport>(PEER_HOST, port);
    pair.peer = rwtest::acceptWithin(listener.get(), 2000);
    return pair;
}

TEST(UdpTransport, BindsItsOwnPortAndExchangesDatagramsWithTheHost) {
    uint16_t port = 0;
    Fd peer = rwtest::udpPeer(port);
    UdpTransport link(PEER_HOST, port);
    ASSERT_EQ(link.lastError(), 0);
    EXPECT_EQ(std::string(link.linkName()), "UDP 127.0.0.2:" + std::to_string(port));
    EXPECT_EQ(link.kind(), LINK_UDP);
    EXPECT_EQ(link.isUdp() + 2 * link.isTcp() + 4 * link.isSerial(), 1);

    const std::vector<uint8_t> request = bytesOf("request");
    ASSERT_EQ(link.write(request.data(), 7), 7u);
    uint16_t senderPort = 0;
    EXPECT_EQ(rwtest::receiveDatagramWithin(peer.get(), 2000, &senderPort), request);
    EXPECT_EQ(senderPort, port) << "datagrams leave from the link's own port";

    rwtest::sendDatagramTo(peer.get(), bytesOf("reply"), "127.0.0.1", port);
    EXPECT_EQ(readReply(link, 2000), bytesOf("reply"));
}

TEST(UdpTransport, SecondLinkToTheSamePortOpensAlongsideTheFirst) {
    uint16_t port = 0;
    Fd peer = rwtest::udpPeer(port);
    UdpTransport first(PEER_HOST, port);
    UdpTransport second(PEER_HOST, port);
    EXPECT_EQ(first.lastError(), 0);
    EXPECT_EQ(second.lastError(), 0);
}

TEST(UdpTransport, AcceptsADatagramFromAnySender) {
    uint16_t port = 0;
    Fd peer = rwtest::udpPeer(port);
    uint16_t otherPort = 0;
    Fd stranger = rwtest::udpPeer(otherPort);
    UdpTransport link(PEER_HOST, port);
    ASSERT_EQ(link.lastError(), 0);
    rwtest::sendDatagramTo(stranger.get(), bytesOf("other"), "127.0.0.1", port);
    EXPECT_EQ(readReply(link, 2000), bytesOf("other"));
}

TEST(UdpTransport, PurgeDiscardsOnlyTheFirstWaitingDatagramAndAtMost256Bytes) {
    uint16_t port = 0;
    Fd peer = rwtest::udpPeer(port);
    UdpTransport link(PEER_HOST, port);
    ASSERT_EQ(link.lastError(), 0);
    rwtest::sendDatagramTo(peer.get(), std::vector<uint8_t>(300, 0x55), "127.0.0.1", port);
    rwtest::sendDatagramTo(peer.get(), bytesOf("second"), "127.0.0.1", port);
    ASSERT_TRUE(waitForInput(link, 2000));

    EXPECT_EQ(link.purgeInput(), 256);
    EXPECT_EQ(readReply(link, 2000), bytesOf("second"));
    EXPECT_EQ(link.purgeInput(), 0) << "nothing left to purge";
}

TEST(TcpTransport, ConnectsAndExchangesBytes) {
    TcpPair pair = connectTcp();
    ASSERT_EQ(pair.link->lastError(), 0);
    ASSERT_GE(pair.peer.get(), 0);
    EXPECT_EQ(pair.link->kind(), LINK_TCP);
    EXPECT_EQ(pair.link->isTcp() + 2 * pair.link->isUdp() + 4 * pair.link->isSerial(), 1);
    EXPECT_EQ(pair.link->outputPending(), 1);

    EXPECT_EQ(pair.link->writeString("hello"), 5u);
    EXPECT_EQ(rwtest::receiveStreamWithin(pair.peer.get(), 5, 2000), bytesOf("hello"));
    rwtest::sendAll(pair.peer.get(), bytesOf("world"));
    EXPECT_EQ(readReply(*pair.link, 2000), bytesOf("world"));
}

TEST(TcpTransport, PurgeDiscardsOnly256OfMoreWaitingBytes) {
    TcpPair pair = connectTcp();
    ASSERT_EQ(pair.link->lastError(), 0);
    std::vector<uint8_t> stream(300);
    for (size_t i = 0; i < stream.size(); ++i) stream[i] = static_cast<uint8_t>(i);
    rwtest::sendAll(pair.peer.get(), stream);
    ASSERT_TRUE(waitForInput(*pair.link, 2000));

    EXPECT_EQ(pair.link->purgeInput(), 256);
    EXPECT_EQ(readReply(*pair.link, 2000),
              std::vector<uint8_t>(stream.begin() + 256, stream.end()));
}

TEST(TcpTransport, RefusedConnectionFailsTheLink) {
    uint16_t port = 0;
    Fd closedPort = rwtest::tcpRefusingPort(port);
    TcpTransport link(PEER_HOST, port);
    EXPECT_EQ(link.lastError(), LINK_FAIL);
    EXPECT_EQ(std::string(link.linkName()), "TCP 127.0.0.2:" + std::to_string(port));
}

TEST(TcpTransport, ConnectThatGetsNoAnswerGivesUpAtTheBound) {
    // A listener whose accept queue is full drops further connection requests
    // unanswered, as a dead host would.
    uint16_t port = 0;
    Fd listener = rwtest::tcpListener(port, 0);
    std::vector<std::unique_ptr<TcpTransport>> fillers;
    for (int i = 0; i < 2; ++i)
        fillers.push_back(std::make_unique<TcpTransport>(PEER_HOST, port, 50));

    const auto start = std::chrono::steady_clock::now();
    TcpTransport link(PEER_HOST, port, 100);
    const int64_t tookMs = elapsedMsSince(start);
    EXPECT_EQ(link.lastError(), LINK_FAIL);
    EXPECT_GE(tookMs, 90);
    EXPECT_LT(tookMs, 3000);
}

TEST(TcpTransport, PeerThatClosedGivesZeroCountsWithoutSignal) {
    for (const bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "peer reset the connection" : "peer closed gracefully");
        TcpPair pair = connectTcp();
        ASSERT_EQ(pair.link->lastError(), 0);
        if (reset) {
            const linger abortive{1, 0};
            setsockopt(pair.peer.get(), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        }
        pair.peer.reset();

        uint8_t buffer[16];
        EXPECT_EQ(pair.link->readWithTimeout(buffer, sizeof buffer, 2000), 0);
        // The first send after a graceful close may still be taken; the peer's
        // reset then refuses the next ones.
        uint32_t count = 1;
        for (int i = 0; i < 50 && count != 0; ++i) {
            count = pair.link->write(buffer, sizeof buffer);
            if (count != 0) std::this_thread::sleep_for(Ms(2));
        }
        EXPECT_EQ(count, 0u);
    }
}

// Both kinds of network link share the waiting and resolution rules.
class NetworkLinks : public ::testing::TestWithParam<int> {
protected:
    // A link of the parameter's kind to a fresh peer, and the peer's sender.
    void SetUp() override {
        if (GetParam() == LINK_UDP) {
            uint16_t port = 0;
            peer = rwtest::udpPeer(port);
            link = std::make_unique<UdpTransport>(PEER_HOST, port);
            udpPort = port;
        } else {
            TcpPair pair = connectTcp();
            link = std::move(pair.link);
            peer = std::move(pair.peer);
        }
        ASSERT_EQ(link->lastError(), 0);
    }
    void peerSends(const std::string& text) {
        if (GetParam() == LINK_UDP) {
            rwtest::sendDatagramTo(peer.get(), bytesOf(text), "127.0.0.1", udpPort);
        } else {
            rwtest::sendAll(peer.get(), bytesOf(text));
        }
    }
    std::unique_ptr<Transport> link;
    Fd peer;
    uint16_t udpPort = 0;
};

TEST_P(NetworkLinks, TimeOutZeroGivesTimeoutWhenNothingWaitsAndDeliversWhatDoes) {
    const auto start = std::chrono::steady_clock::now();
    uint8_t buffer[16];
    EXPECT_EQ(link->readWithTimeout(buffer, sizeof buffer, 0), LINK_TIMEOUT);
    EXPECT_LT(elapsedMsSince(start), 500);

    peerSends("ready");
    ASSERT_TRUE(waitForInput(*link, 2000));
    EXPECT_EQ(readReply(*link, 0), bytesOf("ready"));
}

TEST_P(NetworkLinks, WaitsTheTimeOutWhenNoReplyComes) {
    const auto start = std::chrono::steady_clock::now();
    uint8_t buffer[16];
    EXPECT_EQ(link->readWithTimeout(buffer, sizeof buffer, 40), LINK_TIMEOUT);
    const int64_t tookMs = elapsedMsSince(start);
    EXPECT_GE(tookMs, 39);
    EXPECT_LT(tookMs, 1000);
}

TEST_P(NetworkLinks, ReplyArrivingDuringTheWaitEndsItAtOnce) {
    std::thread sender([this] {
        std::this_thread::sleep_for(Ms(20));
        peerSends("late");
    });
    const auto start = std::chrono::steady_clock::now();
    const std::vector<uint8_t> reply = readReply(*link, 5000);
    const int64_t tookMs = elapsedMsSince(start);
    sender.join();
    EXPECT_EQ(reply, bytesOf("late"));
    EXPECT_LT(tookMs, 2500) << "the wait ends with the reply, not at the time-out";
}

TEST_P(NetworkLinks, ReadsNothingAtOnceWhenNothingWaits) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link->readByte(), LINK_TIMEOUT);
    uint8_t buffer[4];
    EXPECT_EQ(link->read(buffer, sizeof buffer), 0u);
    EXPECT_EQ(link->inputAvailable(), 0);
    EXPECT_LT(elapsedMsSince(start), 500);
    EXPECT_EQ(link->lastError(), 0);
}

TEST_P(NetworkLinks, IgnoresLineSettings) {
    EXPECT_EQ(link->setBaudRate(9600), 1);
    EXPECT_EQ(link->getBaudRate(), 0u);
    EXPECT_EQ(link->setStopBits(2), 1);
    EXPECT_EQ(link->getStopBits(), 0);
    EXPECT_EQ(link->commErrors(), 0u);
}

INSTANTIATE_TEST_SUITE_P(UdpAndTcp, NetworkLinks, ::testing::Values(LINK_UDP, LINK_TCP),
                         [](const auto& info) { return info.param == LINK_UDP ? "Udp" : "Tcp"; });

TEST(SocketTransport, HostTextsThatDoNotResolveFailTheLinkButKeepItsName) {
    // A label longer than 63 characters cannot be put into a DNS query, so the
    // lookup fails without any traffic leaving the machine.
    const std::string unresolvable = std::string(70, 'x') + ".invalid";
    for (const std::string& host : {unresolvable, std::string()}) {
        SCOPED_TRACE("host \"" + host + "\"");
        UdpTransport udp(host.c_str(), 3001);
        TcpTransport tcp(host.c_str(), 3001, 50);
        EXPECT_EQ(udp.lastError(), LINK_FAIL);
        EXPECT_EQ(tcp.lastError(), LINK_FAIL);
        EXPECT_EQ(std::string(udp.linkName()).substr(0, 4), "UDP ");
        EXPECT_EQ(udp.kind(), LINK_UDP);
        EXPECT_EQ(tcp.kind(), LINK_TCP);
    }
}

TEST(SocketTransport, LinkNameIsCutToItsSixtyFourCharacters) {
    const std::string host(70, 'x');
    UdpTransport link(host.c_str(), 3001);
    EXPECT_EQ(std::string(link.linkName()), "UDP " + host.substr(0, 59));
}

TEST(SocketTransport, PurgeOutputClearsTheRecordedFailure) {
    UdpTransport link("", 3001);
    ASSERT_EQ(link.lastError(), LINK_FAIL);
    link.purgeOutput();
    EXPECT_EQ(link.lastError(), 0);
}

}  // namespace
}  // namespace rw
