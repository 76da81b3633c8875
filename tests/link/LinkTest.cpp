// The links: UDP and TCP against real sockets on 127.0.0.2, each test on its own
// free port; the serial link over a pseudo-terminal pair, whose slave side the link
// opens while the test plays the device on the master, and which device each COM
// number opens; the deadline helpers of the POSIX links' waits.
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>

#include <array>
#include <climits>
#include <memory>
#include <string>

#include "link/SerialPortPaths.h"
#include "link/SerialTransport.h"
#include "link/SharedUdpTransport.h"
#include "link/TcpTransport.h"
#include "link/UdpTransport.h"
#include "link/linux/SerialSpeedLinux.h"
#include "link/posix/PosixCalls.h"
#include "support/LoopbackSockets.h"

namespace rwtest {
namespace {

using std::chrono::microseconds;

// The time left rounds up to whole milliseconds, so a wait never ends just before
// its deadline; a time-out too large for poll() is clamped, never "wait forever".
TEST(PosixCalls, PollTimeOutIsClampedAndTimeLeftRoundsUp) {
    // Cut to 32 bits, 0xFFFFFFFF and 0x100000000 would wait forever or not at all.
    const int64_t clamped[][2] = {{1, 1}, {-1, 0}, {0xFFFFFFFF, INT_MAX}, {0x100000000, INT_MAX}};
    for (const auto& c : clamped) EXPECT_EQ(rw::posix::toPollMs(c[0]), c[1]);
    // {time to the deadline in us, whole ms left}, while less than 0.4 ms passes
    // between the two clock reads; a slower attempt proves nothing and is repeated.
    for (const auto& c :
         {std::array<int64_t, 2>{500, 1}, {-1500, -1}, {3'600'000'500, 3'600'001}}) {
        bool conclusive = false;
        for (int attempt = 0; attempt < 20 && !conclusive; ++attempt) {
            const auto start = std::chrono::steady_clock::now();
            const int64_t leftMs = rw::posix::msUntil(start + microseconds(c[0]));
            conclusive = std::chrono::steady_clock::now() - start < microseconds(400);
            if (conclusive) {
                EXPECT_EQ(leftMs, c[1]) << c[0] << " us";
            }
        }
        EXPECT_TRUE(conclusive) << "the machine was too busy to read the clock twice in time";
    }
}

TEST(SerialTransport, EachComNumberOpensAGivenPathAPresentDeviceOrItsTtySDeviceAndNamesIt) {
    // Given paths win; the other numbers take the present devices in order, except
    // those a given path names (also by /dev/NAME), then keep their ttyS device. A
    // given stable name shows its device while present, its own name while not.
    const std::vector<rw::ComPort> ports =
        rw::mapComPorts({"/dev/ttyACM7", "", "/dev/ttyUSB0", "", "/dev/serial/by-id/usb-Gone",
                         "/dev/serial/by-id/usb-B"},
                        {{"/dev/serial/by-id/usb-A", "ttyUSB0"},
                         {"/dev/serial/by-id/usb-B", "ttyUSB1"},
                         {"/dev/ttyS0", "ttyS0"}});
    std::vector<std::string> shown;
    for (const rw::ComPort& port : ports)
        shown.push_back(port.path + " " + port.name + (port.kept ? " +" : ""));
    EXPECT_EQ(shown,
              (std::vector<std::string>{
                  "/dev/ttyACM7 ttyACM7 +", "/dev/ttyS0 ttyS0 +", "/dev/ttyUSB0 ttyUSB0 +",
                  "/dev/ttyS3 ttyS3", "/dev/serial/by-id/usb-Gone usb-Gone +",
                  "/dev/serial/by-id/usb-B ttyUSB1 +", "/dev/ttyS6 ttyS6", "/dev/ttyS7 ttyS7"}));
    EXPECT_EQ(rw::SerialTransport(200).openFailure(), "COM200 (/dev/ttyS199): no such device");
}

// The link opens the slave side of a pseudo-terminal pair; the test plays the device.
TEST(SerialTransport, OpensRaw8N2At19200RepliesEndAfterTheQuietTimeOfTheRateInForceWritesAreBound) {
    int masterFd = -1, slaveFd = -1;
    char name[256] = {};
    ASSERT_EQ(openpty(&masterFd, &slaveFd, name, nullptr, nullptr), 0);
    const Fd master(masterFd), slave(slaveFd);
    rw::SerialTransport link(7, name);
    ASSERT_EQ(link.lastError(), 0);
    uint8_t buffer[512] = {};
    int64_t tookMs = 0;
    const auto deviceSends = [&](const Bytes& bytes) {
        ASSERT_EQ(::write(master.get(), bytes.data(), bytes.size()), ssize_t(bytes.size()));
        ASSERT_TRUE(within2s([&] { return link.inputAvailable() >= int32_t(bytes.size()); }));
    };
    const auto timedRead = [&](uint32_t capacity, uint32_t timeoutMs) {
        const auto start = now();
        const int32_t result = link.readWithTimeout(buffer, capacity, timeoutMs);
        tookMs = elapsedMsSince(start);
        return result;
    };
    const auto lineSettings = [&](uint32_t* rate = nullptr) {
        termios t{};
        tcgetattr(slave.get(), &t);
        if (rate != nullptr) rw::termios2api::readOutputSpeed(slave.get(), *rate);
        return t;
    };
    const termios t = lineSettings();
    EXPECT_EQ(t.c_cflag & (CSIZE | CSTOPB | PARENB | CRTSCTS | CLOCAL | CREAD),
              static_cast<tcflag_t>(CS8 | CSTOPB | CLOCAL | CREAD));
    EXPECT_EQ((t.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP)) | (t.c_lflag & (ICANON | ECHO | ISIG)) |
                  (t.c_oflag & OPOST),
              0u);
    // {requested, in force, reply wait}: a refused rate leaves the last accepted
    // one in force, though getBaudRate tells the requested one; a slow rate the
    // port takes is bound by the reply wait.
    const uint32_t rates[][3] = {
        {0, 19200, 3000},       {1200, 1200, 3000},     {0, 1200, 3000},
        {9600, 9600, 3000},     {38400, 38400, 3000},   {57600, 57600, 3000},
        {115200, 115200, 3000}, {250000, 250000, 3000}, {10, 10, 400}};
    for (const auto& [requested, inForce, waitMs] : rates) {
        SCOPED_TRACE(requested);
        ASSERT_EQ(link.setBaudRate(requested) != 0, requested != 0);
        uint32_t rate = 0;
        EXPECT_NE(lineSettings(&rate).c_cflag & CSTOPB, 0u) << "framing survives a speed change";
        EXPECT_EQ(std::pair(link.getBaudRate(), rate), std::pair(requested, inForce));
        deviceSends(bytesOf("12345"));
        const uint32_t quietMs = rw::SerialTransport::quietTimeMs(inForce, waitMs);
        EXPECT_EQ(timedRead(sizeof buffer, waitMs), 5);
        EXPECT_TRUE(tookMs >= quietMs && tookMs < quietMs + 500) << tookMs << " ms";
    }
    // The quiet time: 3.5 characters, at least 1 ms, at most a quarter of the reply wait.
    const uint32_t quiet[][3] = {
        {300, 3000, 128}, {38400, 3000, 1}, {12, 3000, 750}, {1200, 100, 25}, {1200, 3, 0}};
    for (const auto& [rate, waitMs, quietMs] : quiet)
        EXPECT_EQ(rw::SerialTransport::quietTimeMs(rate, waitMs), quietMs) << rate << " " << waitMs;
    for (const uint8_t code : {uint8_t{0}, uint8_t{1}, uint8_t{2}}) {
        EXPECT_NE(link.setStopBits(code), 0) << int(code);
        EXPECT_EQ((lineSettings().c_cflag & CSTOPB) != 0, code != 0) << int(code);
    }
    EXPECT_EQ(link.setStopBits(3), 0);
    EXPECT_EQ(link.writeString("request"), 7u);
    EXPECT_EQ(receive(master.get(), 7), bytesOf("request"));
    // Nothing comes: the time-out. A reply longer than the buffer: the time-out, and
    // the rest stays queued.
    EXPECT_EQ(timedRead(16, 40), rw::LINK_TIMEOUT);
    EXPECT_TRUE(tookMs >= 39 && tookMs < 1000) << tookMs;
    deviceSends(bytesOf("0123456789"));
    std::fill(buffer, buffer + 5, 0xEE);
    EXPECT_EQ(timedRead(4, 50), rw::LINK_TIMEOUT);
    EXPECT_EQ(std::string(buffer, buffer + 5), "0123\xEE") << "never written past the capacity";
    EXPECT_EQ(link.inputAvailable(), 6);
    EXPECT_NE(link.purgeInput(), 0);
    EXPECT_EQ(link.inputAvailable(), 0);
    const Bytes block(2000, 0xA5);
    EXPECT_EQ(link.write(block.data(), 2000), 1024u) << "bounded by the output queue size";
    EXPECT_EQ(link.lastError(), rw::LINK_SHORT_WRITE);
}

Bytes readReply(rw::Transport& link, uint32_t timeoutMs = 2000) {
    Bytes buffer(512);
    const int32_t count = link.readWithTimeout(buffer.data(), 512, timeoutMs);
    buffer.resize(count > 0 ? static_cast<size_t>(count) : 0);
    return buffer;
}

constexpr int kSharedUdp = 100;  // a UDP link over the process's shared socket of its port

// A link of any kind to a fresh peer on 127.0.0.2.
struct Peer {
    std::unique_ptr<rw::Transport> link;
    Fd peer;
    uint16_t port = 0;
    bool udp = true;
    void sends(const Bytes& bytes) { sendBytes(peer.get(), bytes, udp ? port : 0); }
};

Peer connect(int kind) {
    Peer p;
    p.udp = kind != rw::LINK_TCP;
    Fd own = peerSocket(p.udp ? SOCK_DGRAM : SOCK_STREAM, p.port, p.udp ? -1 : 4);
    if (kind == kSharedUdp) p.link = std::make_unique<rw::SharedUdpTransport>(kPeerHost, p.port);
    if (kind == rw::LINK_UDP) p.link = std::make_unique<rw::UdpTransport>(kPeerHost, p.port);
    if (!p.udp) p.link = std::make_unique<rw::TcpTransport>(kPeerHost, p.port);
    p.peer =
        p.udp || !readableWithin(own.get(), 2000) ? own : Fd(accept(own.get(), nullptr, nullptr));
    EXPECT_EQ(p.link->lastError(), 0);
    return p;
}

class NetworkLinks : public ::testing::TestWithParam<int> {};

TEST_P(NetworkLinks, BytesGoBothWaysTheWaitEndsWithTheReplyAndAPurgeTakesOneReceive) {
    Peer p = connect(GetParam());
    EXPECT_EQ(p.link->writeString("hello"), 5u);
    uint16_t senderPort = p.port;
    EXPECT_EQ(receive(p.peer.get(), 5, p.udp ? &senderPort : nullptr), bytesOf("hello"));
    EXPECT_EQ(senderPort, p.port) << "datagrams leave from the port they go to";
    auto start = now();
    EXPECT_EQ(readReply(*p.link, 40), Bytes{});
    EXPECT_TRUE(elapsedMsSince(start) >= 39 && elapsedMsSince(start) < 1000);
    p.sends(bytesOf("reply"));
    start = now();
    EXPECT_EQ(readReply(*p.link, 5000), bytesOf("reply"));
    EXPECT_LT(elapsedMsSince(start), 2500) << "the wait ends with the reply, not at the time-out";
    if (p.udp) {  // UDP takes its host's datagrams from any port, nobody else's
        uint16_t port = 0;
        Fd otherPortOfHost = peerSocket(SOCK_DGRAM, port);
        Fd stranger = peerSocket(SOCK_DGRAM, port, -1, true, "127.0.0.3");
        sendBytes(stranger.get(), bytesOf("forged"), p.port);
        sendBytes(otherPortOfHost.get(), bytesOf("other"), p.port);
        EXPECT_EQ(readReply(*p.link), bytesOf("other"));
    }
    // UDP: the first of two waiting datagrams, cut at 256; TCP: 256 of 300 bytes.
    const Bytes stream(300, 0x5A);
    p.sends(stream);
    if (p.udp) p.sends(bytesOf("second"));
    ASSERT_TRUE(within2s([&] { return p.link->inputAvailable() != 0; }));
    EXPECT_EQ(p.link->purgeInput(), 256);
    EXPECT_EQ(readReply(*p.link, 0),
              p.udp ? bytesOf("second") : Bytes(stream.begin() + 256, stream.end()));
}

INSTANTIATE_TEST_SUITE_P(UdpAndTcp, NetworkLinks,
                         ::testing::Values(rw::LINK_UDP, kSharedUdp, rw::LINK_TCP));

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
    EXPECT_EQ(rw::SharedUdpTransport(kPeerHost, port).lastError(), rw::LINK_FAIL)
        << "one link per host and port: a second would take the first one's replies";
    ASSERT_EQ(linkA.writeString("to A") + linkB.writeString("to B"), 8u);
    EXPECT_EQ(receive(deviceA.get(), 4), bytesOf("to A"));
    EXPECT_EQ(receive(deviceB.get(), 4), bytesOf("to B"));
    // Replies of both hosts arrive before either link reads.
    sendBytes(deviceB.get(), bytesOf("B1"), port);
    sendBytes(deviceA.get(), bytesOf("A1"), port);
    sendBytes(deviceB.get(), bytesOf("B2"), port);
    EXPECT_EQ(readReply(linkA), bytesOf("A1"));
    EXPECT_EQ(readReply(linkB), bytesOf("B1"));
    EXPECT_EQ(readReply(linkB), bytesOf("B2"));
}

}  // namespace
}  // namespace rwtest
