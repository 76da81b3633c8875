// The serial link over a pseudo-terminal pair: the link opens the slave side
// through a test-installed port resolver, the test plays the device on the master.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackSockets.h"
#include "Termios2Probe.h"
#include "engine/Codes.h"
#include "link/SerialPortPaths.h"
#include "link/SerialTransport.h"

namespace rw {
namespace {

using rwtest::bytesOf;
using rwtest::Fd;
using SteadyClock = std::chrono::steady_clock;
using Micros = std::chrono::microseconds;
using Ms = std::chrono::milliseconds;

constexpr int TEST_PORT = 7;

int64_t elapsedMsSince(SteadyClock::time_point start) {
    return std::chrono::duration_cast<Ms>(SteadyClock::now() - start).count();
}

class SerialOverPty : public ::testing::Test {
protected:
    void SetUp() override {
        int masterFd = -1;
        int slaveFd = -1;
        char name[256] = {};
        ASSERT_EQ(openpty(&masterFd, &slaveFd, name, nullptr, nullptr), 0);
        master.reset(masterFd);
        slave.reset(slaveFd);
        path = name;
        setSerialPortResolver([p = path](int number) {
            return number == TEST_PORT ? p : std::string("/nonexistent/ttyTEST");
        });
    }
    void TearDown() override { setSerialPortResolver(nullptr); }

    std::unique_ptr<SerialTransport> openLink() {
        auto link = std::make_unique<SerialTransport>(TEST_PORT);
        EXPECT_EQ(link->lastError(), 0);
        return link;
    }
    void deviceSends(const std::vector<uint8_t>& bytes) {
        ASSERT_EQ(::write(master.get(), bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
    }
    // Reads from the device side until `count` bytes came or timeoutMs passed.
    std::vector<uint8_t> deviceReceives(size_t count, int timeoutMs) {
        std::vector<uint8_t> bytes;
        const auto start = SteadyClock::now();
        while (bytes.size() < count && elapsedMsSince(start) < timeoutMs) {
            pollfd entry{master.get(), POLLIN, 0};
            if (::poll(&entry, 1, 10) <= 0) continue;
            uint8_t chunk[4096];
            const ssize_t got = ::read(master.get(), chunk, sizeof chunk);
            if (got <= 0) break;
            bytes.insert(bytes.end(), chunk, chunk + got);
        }
        return bytes;
    }
    // Polls the link (bounded) until `count` bytes are queued.
    bool waitForQueued(SerialTransport& link, int32_t count) {
        const auto start = SteadyClock::now();
        while (elapsedMsSince(start) < 2000) {
            if (link.inputAvailable() >= count) return true;
            std::this_thread::sleep_for(Ms(1));
        }
        return false;
    }
    // Sends the bytes one at a time, `spacing` apart on a fixed schedule; false
    // when this thread itself fell behind by more than `slack` (a loaded machine).
    bool trickle(const std::vector<uint8_t>& bytes, Micros spacing, Micros slack) {
        const auto start = SteadyClock::now();
        bool onTime = true;
        for (size_t i = 0; i < bytes.size(); ++i) {
            const auto due = start + spacing * static_cast<int64_t>(i);
            std::this_thread::sleep_until(due);
            if (SteadyClock::now() - due > slack) onTime = false;
            if (::write(master.get(), &bytes[i], 1) != 1) return false;
        }
        return onTime;
    }
    termios slaveSettings() {
        termios t{};
        tcgetattr(slave.get(), &t);
        return t;
    }

    Fd master;
    Fd slave;
    std::string path;
};

TEST(SerialTransportQuiet, IsThreeAndAHalfCharacterTimesAndAtLeastOneMillisecond) {
    struct Case {
        uint32_t bitsPerSecond;
        uint32_t quietMs;
    };
    for (const Case c : {Case{300, 128}, Case{1200, 32}, Case{9600, 4}, Case{19200, 2},
                         Case{38400, 1}, Case{250000, 1}}) {
        EXPECT_EQ(SerialTransport::quietTimeMs(c.bitsPerSecond), c.quietMs) << c.bitsPerSecond;
    }
}

TEST(SerialPortPaths, DefaultNamesTheTtySDeviceAndAnInstalledResolverReplacesIt) {
    setSerialPortResolver(nullptr);
    EXPECT_EQ(serialDevicePath(1), "/dev/ttyS0");
    EXPECT_EQ(serialDevicePath(8), "/dev/ttyS7");
    setSerialPortResolver([](int n) { return "/dev/ttyUSB" + std::to_string(n); });
    EXPECT_EQ(serialDevicePath(3), "/dev/ttyUSB3");
    setSerialPortResolver(nullptr);
    EXPECT_EQ(serialDevicePath(3), "/dev/ttyS2");
}

TEST_F(SerialOverPty, OpensRaw8N2WithoutFlowControlAt19200) {
    auto link = openLink();
    EXPECT_STREQ(link->linkName(), "COM7");
    EXPECT_EQ(link->kind(), LINK_SERIAL);
    EXPECT_EQ(link->isSerial() + 2 * link->isTcp() + 4 * link->isUdp(), 1);
    EXPECT_EQ(link->getBaudRate(), 19200u);
    EXPECT_EQ(link->getStopBits(), 2);

    const termios t = slaveSettings();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(t.c_cflag & (PARENB | CRTSCTS), 0u);
    EXPECT_NE(t.c_cflag & CLOCAL, 0u);
    EXPECT_NE(t.c_cflag & CREAD, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(link->commErrors(), 0u) << "a pseudo-terminal keeps no error counters";
}

TEST_F(SerialOverPty, MissingDeviceFailsTheOpenButKeepsTheName) {
    SerialTransport link(TEST_PORT + 1);
    EXPECT_EQ(link.lastError(), LINK_FAIL);
    EXPECT_STREQ(link.linkName(), "COM8");
}

TEST_F(SerialOverPty, AppliesAnyRateAndReadsItBack) {
    auto link = openLink();
    for (const uint32_t rate : {1200u, 9600u, 38400u, 250000u, 19200u}) {
        SCOPED_TRACE(rate);
        EXPECT_NE(link->setBaudRate(rate), 0);
        EXPECT_EQ(link->getBaudRate(), rate);
        EXPECT_EQ(rwtest::termios2OutputSpeed(slave.get()), rate);
        EXPECT_EQ(rwtest::termios2UsesArbitraryRate(slave.get()), rate == 250000u);
        EXPECT_NE(slaveSettings().c_cflag & CSTOPB, 0u) << "framing survives a speed change";
    }
}

TEST_F(SerialOverPty, RefusedSettingsReportZeroAndKeepTheRefusedValue) {
    auto link = openLink();
    EXPECT_EQ(link->setBaudRate(0), 0);
    EXPECT_EQ(link->getBaudRate(), 0u);
    EXPECT_EQ(link->setStopBits(3), 0);
    EXPECT_EQ(link->getStopBits(), 3);
}

TEST_F(SerialOverPty, StopBitCodesMapToOneOrTwoStopBits) {
    auto link = openLink();
    for (const uint8_t code : {0, 1, 2}) {
        EXPECT_NE(link->setStopBits(code), 0) << int(code);
        EXPECT_EQ(link->getStopBits(), code);
        EXPECT_EQ((slaveSettings().c_cflag & CSTOPB) != 0, code != 0) << int(code);
    }
}

TEST_F(SerialOverPty, MovesBytesBothWaysAndReadsOnlyWhatIsQueued) {
    auto link = openLink();
    uint8_t buffer[16];
    EXPECT_EQ(link->read(buffer, sizeof buffer), 0u);
    EXPECT_EQ(link->readByte(), LINK_TIMEOUT);
    EXPECT_EQ(link->lastError(), 0) << "reading nothing is not a short read";

    EXPECT_EQ(link->writeString("request"), 7u);
    EXPECT_EQ(deviceReceives(7, 2000), bytesOf("request"));

    deviceSends(bytesOf("reply"));
    ASSERT_TRUE(waitForQueued(*link, 5));
    EXPECT_EQ(link->read(buffer, 3), 3u);
    EXPECT_EQ(link->inputAvailable(), 2);
    EXPECT_EQ(link->readByte(), 'l');
    EXPECT_EQ(link->readByte(), 'y');
    EXPECT_EQ(link->lastError(), 0);
}

TEST_F(SerialOverPty, WriteIsBoundedByTheOutputQueueSize) {
    auto link = openLink();
    const std::vector<uint8_t> block(2000, 0xA5);
    EXPECT_EQ(link->write(block.data(), 2000), 1024u);
    EXPECT_EQ(link->lastError(), LINK_SHORT_WRITE);
    EXPECT_EQ(deviceReceives(1024, 2000).size(), 1024u);
}

TEST_F(SerialOverPty, PurgeInputDiscardsQueuedBytes) {
    auto link = openLink();
    deviceSends(bytesOf("stale"));
    ASSERT_TRUE(waitForQueued(*link, 5));
    EXPECT_NE(link->purgeInput(), 0);
    EXPECT_EQ(link->inputAvailable(), 0);
    EXPECT_NE(link->purgeOutput(), 0);
}

TEST_F(SerialOverPty, TimeOutZeroGivesTimeoutEvenWithInputWaiting) {
    auto link = openLink();
    deviceSends(bytesOf("ready"));
    ASSERT_TRUE(waitForQueued(*link, 5));
    uint8_t buffer[16];
    EXPECT_EQ(link->readWithTimeout(buffer, sizeof buffer, 0), LINK_TIMEOUT);
    EXPECT_EQ(link->inputAvailable(), 5) << "time-out 0 does not touch the input";
}

TEST_F(SerialOverPty, NothingArrivingGivesTimeoutAtTheDeadline) {
    auto link = openLink();
    uint8_t buffer[16];
    const auto start = SteadyClock::now();
    EXPECT_EQ(link->readWithTimeout(buffer, sizeof buffer, 40), LINK_TIMEOUT);
    const int64_t tookMs = elapsedMsSince(start);
    EXPECT_GE(tookMs, 39);
    EXPECT_LT(tookMs, 1000);
}

TEST_F(SerialOverPty, ReplyEndsAfterTheQuietTimeOfTheCurrentRate) {
    auto link = openLink();
    for (const uint32_t rate : {1200u, 9600u, 19200u, 38400u}) {
        SCOPED_TRACE(rate);
        ASSERT_NE(link->setBaudRate(rate), 0);
        deviceSends(bytesOf("12345"));
        ASSERT_TRUE(waitForQueued(*link, 5));
        uint8_t buffer[512];
        const auto start = SteadyClock::now();
        EXPECT_EQ(link->readWithTimeout(buffer, sizeof buffer, 5000), 5);
        const int64_t tookMs = elapsedMsSince(start);
        EXPECT_GE(tookMs, SerialTransport::quietTimeMs(rate));
        EXPECT_LT(tookMs, SerialTransport::quietTimeMs(rate) + 500)
            << "ends by quiet, not deadline";
    }
}

TEST_F(SerialOverPty, ReplyTricklingInAt1200BitPerSecondArrivesWhole) {
    auto link = openLink();
    ASSERT_NE(link->setBaudRate(1200), 0);
    const std::vector<uint8_t> reply = bytesOf("\x55\xAA\x01\x02\x03\x04\x05\x06\x07");
    // 11 bits at 1200 bit/s: one character every 9.2 ms. An attempt in which
    // the sending thread itself fell well behind proves nothing and is repeated.
    bool conclusive = false;
    for (int attempt = 0; attempt < 3 && !conclusive; ++attempt) {
        bool onTime = false;
        std::thread device([&] { onTime = trickle(reply, Micros(9167), Ms(15)); });
        uint8_t buffer[512];
        const int32_t count = link->readWithTimeout(buffer, sizeof buffer, 3000);
        device.join();
        if (!onTime) {
            link->purgeInput();
            continue;
        }
        conclusive = true;
        ASSERT_EQ(count, static_cast<int32_t>(reply.size()));
        EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + count), reply);
    }
    EXPECT_TRUE(conclusive) << "the machine was too busy to send on schedule";
}

TEST_F(SerialOverPty, RealPauseEndsTheReplyBeforeTheNextBytes) {
    auto link = openLink();
    ASSERT_NE(link->setBaudRate(9600), 0);
    deviceSends(bytesOf("ab"));
    std::thread device([&] {
        std::this_thread::sleep_for(Ms(300));
        deviceSends(bytesOf("cd"));
    });
    uint8_t buffer[512];
    const auto start = SteadyClock::now();
    const int32_t count = link->readWithTimeout(buffer, sizeof buffer, 5000);
    const int64_t tookMs = elapsedMsSince(start);
    device.join();
    EXPECT_EQ(count, 2);
    EXPECT_LT(tookMs, 250);
}

TEST_F(SerialOverPty, BytesArrivingUntilTheDeadlineGiveTimeout) {
    auto link = openLink();
    // At 300 bit/s the line counts as quiet only after 128 ms; a byte every
    // 5 ms keeps it busy well past the 100 ms deadline.
    ASSERT_NE(link->setBaudRate(300), 0);
    std::thread device([&] { trickle(std::vector<uint8_t>(80, 0x33), Ms(5), Ms(1000)); });
    uint8_t buffer[512];
    const auto start = SteadyClock::now();
    const int32_t result = link->readWithTimeout(buffer, sizeof buffer, 100);
    const int64_t tookMs = elapsedMsSince(start);
    device.join();
    EXPECT_EQ(result, LINK_TIMEOUT);
    EXPECT_LT(tookMs, 1000);
}

TEST_F(SerialOverPty, ReplyLongerThanTheBufferFillsItAndTimesOut) {
    auto link = openLink();
    deviceSends(bytesOf("0123456789"));
    ASSERT_TRUE(waitForQueued(*link, 10));
    uint8_t buffer[4] = {};
    EXPECT_EQ(link->readWithTimeout(buffer, sizeof buffer, 50), LINK_TIMEOUT);
    EXPECT_EQ(std::string(buffer, buffer + 4), "0123");
    EXPECT_EQ(link->inputAvailable(), 6);
}

// Opens COM7 in a child process that has given up root's privileges (which
// would let it ignore exclusive use): 0 opened, 1 refused, 2 could not drop them.
int openAsUnprivilegedProcess() {
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
        SerialTransport link(TEST_PORT);
        _exit(link.lastError() == 0 ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return 2;
    return WEXITSTATUS(status);
}

TEST_F(SerialOverPty, OpenIsExclusiveUntilTheLinkIsClosed) {
    ASSERT_EQ(fchmod(slave.get(), 0666), 0);
    auto link = openLink();
    const int whileHeld = openAsUnprivilegedProcess();
    if (whileHeld == 2) GTEST_SKIP() << "cannot open the device as another user here";
    EXPECT_EQ(whileHeld, 1) << "a second open while the first is held must fail";
    link.reset();
    EXPECT_EQ(openAsUnprivilegedProcess(), 0) << "the port opens again once the link closed";
    link = openLink();
}

}  // namespace
}  // namespace rw
