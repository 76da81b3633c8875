// The serial link over a pseudo-terminal pair: the link opens the slave side
// through a test-installed port resolver, the test plays the device on the master.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>

#include <memory>
#include <optional>
#include <string>
#include <tuple>

#include "link/SerialTransport.h"
#include "support/LoopbackSockets.h"
#include "support/TestEnv.h"

namespace rwtest {

uint32_t termios2OutputSpeed(int fd, bool& arbitrary);  // Termios2Probe.cpp

namespace {

using Micros = std::chrono::microseconds;
constexpr int kTestPort = 7;

TEST(SerialTransport, QuietTimeIsThreeAndAHalfCharacterTimesBoundByTheReplyWait) {
    // {rate, reply wait, quiet}: at least 1 ms, at most a quarter of the wait.
    const std::tuple<uint32_t, uint32_t, uint32_t> cases[] = {
        {300, 3000, 128}, {1200, 3000, 32},  {9600, 3000, 4},  {19200, 3000, 2},
        {38400, 3000, 1}, {250000, 3000, 1}, {110, 3000, 350}, {50, 3000, 750},
        {12, 3000, 750},  {1200, 100, 25},   {1200, 3, 0}};
    for (const auto& [rate, waitMs, quietMs] : cases)
        EXPECT_EQ(rw::SerialTransport::quietTimeMs(rate, waitMs), quietMs) << rate << " " << waitMs;
}

class SerialOverPty : public ::testing::Test {
  protected:
    void SetUp() override {
        int masterFd = -1, slaveFd = -1;
        char name[256] = {};
        ASSERT_EQ(openpty(&masterFd, &slaveFd, name, nullptr, nullptr), 0);
        master = Fd(masterFd);
        slave = Fd(slaveFd);
        path = name;
        link = std::make_unique<rw::SerialTransport>(kTestPort, path);
        ASSERT_EQ(link->lastError(), 0);
        EXPECT_STREQ(link->linkName(), "COM7");
    }

    void deviceSends(const Bytes& bytes, int32_t expectQueued = 0) {
        ASSERT_EQ(::write(master.get(), bytes.data(), bytes.size()), ssize_t(bytes.size()));
        const bool queued = within2s([&] { return link->inputAvailable() >= expectQueued; });
        ASSERT_TRUE(queued);
    }
    // Sends one byte every `spacing`; false when this thread itself fell behind
    // by more than `slack` (a loaded machine).
    bool trickle(const Bytes& bytes, Micros spacing, Micros slack) {
        const auto start = now();
        bool onTime = true;
        for (size_t i = 0; i < bytes.size(); ++i) {
            const auto due = start + spacing * static_cast<int64_t>(i);
            std::this_thread::sleep_until(due);
            onTime = onTime && now() - due <= slack;
            if (::write(master.get(), &bytes[i], 1) != 1) return false;
        }
        return onTime;
    }
    // readWithTimeout into `into`; the result, and the time taken in `takenMs`.
    int32_t timedRead(uint8_t* into, uint32_t capacity, uint32_t timeoutMs, int64_t& takenMs) {
        const auto start = now();
        const int32_t result = link->readWithTimeout(into, capacity, timeoutMs);
        takenMs = elapsedMsSince(start);
        return result;
    }
    termios slaveSettings() {
        termios t{};
        tcgetattr(slave.get(), &t);
        return t;
    }

    Fd master, slave;
    std::string path;  // the pseudo-terminal's slave side, where COM7 is
    std::unique_ptr<rw::SerialTransport> link;
    uint8_t buffer[512] = {};
    int64_t tookMs = 0;
};

TEST_F(SerialOverPty, OpensRaw8N2WithoutFlowControlAt19200) {
    EXPECT_STREQ(link->linkName(), "COM7");
    EXPECT_EQ(link->openFailure(), "");
    EXPECT_EQ(link->getBaudRate(), 19200u);
    const termios t = slaveSettings();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
    EXPECT_EQ(t.c_cflag & (CSIZE | CSTOPB | PARENB | CRTSCTS | CLOCAL | CREAD),
              static_cast<tcflag_t>(CS8 | CSTOPB | CLOCAL | CREAD));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
}

TEST_F(SerialOverPty, AppliesAnyRateIncludingNonStandardOnesAndStopBitCodes) {
    for (const uint32_t rate : {1200u, 38400u, 250000u, 19200u}) {
        SCOPED_TRACE(rate);
        EXPECT_NE(link->setBaudRate(rate), 0);
        EXPECT_EQ(link->getBaudRate(), rate);
        bool arbitrary = false;
        EXPECT_EQ(termios2OutputSpeed(slave.get(), arbitrary), rate);
        EXPECT_EQ(arbitrary, rate == 250000u);
        EXPECT_NE(slaveSettings().c_cflag & CSTOPB, 0u) << "framing survives a speed change";
    }
    for (const uint8_t code : {uint8_t{0}, uint8_t{1}, uint8_t{2}}) {
        EXPECT_NE(link->setStopBits(code), 0) << int(code);
        EXPECT_EQ((slaveSettings().c_cflag & CSTOPB) != 0, code != 0) << int(code);
    }
    EXPECT_EQ(link->setBaudRate(0), 0);
    EXPECT_EQ(link->setStopBits(3), 0);
}

TEST_F(SerialOverPty, MovesBytesBothWaysReadsOnlyWhatIsQueuedPurgesAndBoundsWrites) {
    EXPECT_EQ(link->read(buffer, 16), 0u);
    EXPECT_EQ(link->readByte(), rw::LINK_TIMEOUT);
    EXPECT_EQ(link->lastError(), 0) << "reading nothing is not a short read";

    EXPECT_EQ(link->writeString("request"), 7u);
    EXPECT_EQ(receive(master.get(), 7), bytesOf("request"));
    deviceSends(bytesOf("reply"), 5);
    EXPECT_EQ(link->readWithTimeout(buffer, 16, 0), rw::LINK_TIMEOUT) << "time-out 0 reads nothing";
    EXPECT_EQ(link->inputAvailable(), 5);
    EXPECT_EQ(link->read(buffer, 3), 3u);
    EXPECT_EQ(link->inputAvailable(), 2);
    EXPECT_EQ(link->readByte(), 'l');

    deviceSends(bytesOf("stale"), 6);
    EXPECT_NE(link->purgeInput(), 0);
    EXPECT_EQ(link->inputAvailable(), 0);

    const Bytes block(2000, 0xA5);
    EXPECT_EQ(link->write(block.data(), 2000), 1024u) << "bounded by the output queue size";
    EXPECT_EQ(link->lastError(), rw::LINK_SHORT_WRITE);
    EXPECT_EQ(receive(master.get(), 1024).size(), 1024u);
}

TEST_F(SerialOverPty, ReplyEndsAfterTheQuietTimeOfTheRateInForceOrTimesOut) {
    EXPECT_EQ(timedRead(buffer, 16, 40, tookMs), rw::LINK_TIMEOUT);
    EXPECT_GE(tookMs, 39);
    EXPECT_LT(tookMs, 1000);
    // A refused rate leaves the last accepted one (19200 from the open) in
    // force, although getBaudRate reports the refused one; a slow rate the
    // port takes is bound by the reply wait.
    struct Case {
        uint32_t requested;
        bool accepted;
        uint32_t inForce;
        uint32_t waitMs;
    };
    const Case cases[] = {{0, false, 19200, 3000},    {1200, true, 1200, 3000},
                          {0, false, 1200, 3000},     {9600, true, 9600, 3000},
                          {38400, true, 38400, 3000}, {10, true, 10, 400}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.requested);
        ASSERT_EQ(link->setBaudRate(c.requested) != 0, c.accepted);
        EXPECT_EQ(link->getBaudRate(), c.requested);
        deviceSends(bytesOf("12345"), 5);
        const uint32_t quietMs = rw::SerialTransport::quietTimeMs(c.inForce, c.waitMs);
        EXPECT_EQ(timedRead(buffer, sizeof buffer, c.waitMs, tookMs), 5);
        EXPECT_GE(tookMs, quietMs);
        EXPECT_LT(tookMs, quietMs + 500) << "ends by quiet, not deadline";
    }
}

TEST_F(SerialOverPty, ReplyTricklingInAt1200BitPerSecondArrivesWhole) {
    ASSERT_NE(link->setBaudRate(1200), 0);
    const Bytes reply = bytesOf("\x55\xAA\x01\x02\x03\x04\x05\x06\x07");
    // 11 bits at 1200 bit/s: one character every 9.2 ms. An attempt in which
    // the sending thread itself fell well behind proves nothing and is repeated.
    bool conclusive = false;
    for (int attempt = 0; attempt < 3 && !conclusive; ++attempt) {
        bool onTime = false;
        std::thread device([&] { onTime = trickle(reply, Micros(9167), Ms(15)); });
        const int32_t count = link->readWithTimeout(buffer, sizeof buffer, 3000);
        device.join();
        conclusive = onTime;
        if (!onTime)
            link->purgeInput();
        else
            EXPECT_EQ(Bytes(buffer, buffer + std::max(count, 0)), reply);
    }
    EXPECT_TRUE(conclusive) << "the machine was too busy to send on schedule";
}

TEST_F(SerialOverPty, LineThatNeverGoesQuietOrAFullBufferGivesTimeout) {
    // At 300 bit/s the line counts as quiet only after 128 ms; a byte every
    // 5 ms keeps it busy well past the 100 ms deadline.
    ASSERT_NE(link->setBaudRate(300), 0);
    std::thread device([&] { trickle(Bytes(80, 0x33), Ms(5), Ms(1000)); });
    EXPECT_EQ(timedRead(buffer, sizeof buffer, 100, tookMs), rw::LINK_TIMEOUT);
    device.join();
    EXPECT_LT(tookMs, 1000);

    link->purgeInput();
    deviceSends(bytesOf("0123456789"), 10);
    std::fill(buffer, buffer + 5, 0xEE);
    EXPECT_EQ(link->readWithTimeout(buffer, 4, 50), rw::LINK_TIMEOUT);
    EXPECT_EQ(std::string(buffer, buffer + 5), "0123\xEE") << "never written past the capacity";
    EXPECT_EQ(link->inputAvailable(), 6);
}

// Opens COM7 on path in a child process that has given up root's privileges
// (which would let it ignore permissions and exclusive use): the link's open
// failure ("" when it opened), or nothing when the privileges could not be dropped.
std::optional<std::string> openFailureOfUnprivilegedProcess(const std::string& path) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return std::nullopt;
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
        const std::string failure = rw::SerialTransport(kTestPort, path).openFailure();
        const bool sent = ::write(pipeFds[1], failure.data(), failure.size()) ==
                          static_cast<ssize_t>(failure.size());
        _exit(sent ? 0 : 3);
    }
    ::close(pipeFds[1]);
    const Fd reader(pipeFds[0]);
    std::string failure;
    char chunk[256];
    for (ssize_t got; (got = ::read(reader.get(), chunk, sizeof chunk)) > 0;)
        failure.append(chunk, size_t(got));
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return std::nullopt;
    }
    return failure;
}

TEST_F(SerialOverPty, AFailedOpenNamesThePortItsDeviceAndTheCause) {
    TempDir dir;
    // Longer than a COM name's room, as /dev/serial/by-id names often are.
    const std::string missing = (dir.path() / ("usb-" + std::string(64, 'x') + "-port0")).string();
    const std::string plain = writeFile(dir.path() / "notes.txt", "text").string();
    const struct {
        std::string device;
        mode_t mode;        // of the pseudo-terminal, which `link` holds
        bool unprivileged;  // opened by another user in a child process
        const char* cause;
    } cases[] = {
        {missing, 0666, false, "no such device"},
        {plain, 0666, false, "not a serial port"},
        {path, 0666, true, "busy in another program"},
        {path, 0, true, "permission denied; add your user to the dialout group"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cause);
        ASSERT_EQ(fchmod(slave.get(), c.mode), 0);
        const std::string expected = "COM7 (" + c.device + "): " + c.cause;
        if (!c.unprivileged) {
            rw::SerialTransport failed(kTestPort, c.device);
            EXPECT_EQ(failed.lastError(), rw::LINK_FAIL);
            EXPECT_EQ(failed.openFailure(), expected);
            // Opened by path, the link is named by it, however long it is.
            rw::SerialTransport byPath(c.device, rw::SerialTransport::NamedByPath{});
            EXPECT_STREQ(byPath.linkName(), c.device.c_str());
            EXPECT_EQ(byPath.openFailure(), c.device + ": " + c.cause);
            continue;
        }
        const std::optional<std::string> failure = openFailureOfUnprivilegedProcess(c.device);
        if (!failure) GTEST_SKIP() << "cannot open the device as another user here";
        EXPECT_EQ(*failure, expected);
    }
    ASSERT_EQ(fchmod(slave.get(), 0666), 0);
    link.reset();
    EXPECT_EQ(openFailureOfUnprivilegedProcess(path), "")
        << "the port opens again once the link closed";
}

}  // namespace
}  // namespace rwtest
