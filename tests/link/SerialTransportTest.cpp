// The serial link over a pseudo-terminal pair: the link opens the slave side,
// the test plays the device on the master.
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
#include "link/linux/SerialSpeedLinux.h"
#include "support/LoopbackSockets.h"
#include "support/TestEnv.h"

namespace rwtest {
namespace {

constexpr int kTestPort = 7;

TEST(SerialTransport, QuietTimeIsThreeAndAHalfCharacterTimesBoundByTheReplyWait) {
    // {rate, reply wait, quiet}: at least 1 ms, at most a quarter of the wait.
    const std::tuple<uint32_t, uint32_t, uint32_t> cases[] = {
        {300, 3000, 128}, {1200, 3000, 32}, {9600, 3000, 4}, {38400, 3000, 1},
        {110, 3000, 350}, {12, 3000, 750},  {1200, 100, 25}, {1200, 3, 0}};
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
    }
    void deviceSends(const Bytes& bytes) {
        ASSERT_EQ(::write(master.get(), bytes.data(), bytes.size()), ssize_t(bytes.size()));
        ASSERT_TRUE(within2s([&] { return link->inputAvailable() >= int32_t(bytes.size()); }));
    }
    int32_t timedRead(uint32_t capacity, uint32_t timeoutMs) {
        const auto start = now();
        const int32_t result = link->readWithTimeout(buffer, capacity, timeoutMs);
        tookMs = elapsedMsSince(start);
        return result;
    }
    tcflag_t stopBitsFlag() {
        termios t{};
        tcgetattr(slave.get(), &t);
        return t.c_cflag & CSTOPB;
    }
    uint32_t lineRate() {
        uint32_t rate = 0;
        return rw::termios2api::readOutputSpeed(slave.get(), rate) ? rate : 0;
    }

    Fd master, slave;
    std::string path;  // the pseudo-terminal's slave side, where COM7 is
    std::unique_ptr<rw::SerialTransport> link;
    uint8_t buffer[512] = {};
    int64_t tookMs = 0;
};

TEST_F(SerialOverPty, OpensRaw8N2At19200AndRepliesEndAfterTheQuietTimeOfTheRateInForce) {
    EXPECT_STREQ(link->linkName(), "COM7");
    EXPECT_EQ(link->openFailure(), "");
    termios t{};
    tcgetattr(slave.get(), &t);
    EXPECT_EQ(t.c_cflag & (CSIZE | CSTOPB | PARENB | CRTSCTS | CLOCAL | CREAD),
              static_cast<tcflag_t>(CS8 | CSTOPB | CLOCAL | CREAD));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(timedRead(16, 40), rw::LINK_TIMEOUT);
    EXPECT_TRUE(tookMs >= 39 && tookMs < 1000) << tookMs;
    // {requested, in force, reply wait}: a refused rate leaves the last accepted
    // one in force, though getBaudRate tells the requested one; a slow rate the
    // port takes is bound by the reply wait.
    const std::tuple<uint32_t, uint32_t, uint32_t> cases[] = {
        {0, 19200, 3000},     {1200, 1200, 3000},     {0, 1200, 3000}, {9600, 9600, 3000},
        {38400, 38400, 3000}, {250000, 250000, 3000}, {10, 10, 400}};
    for (const auto& [requested, inForce, waitMs] : cases) {
        SCOPED_TRACE(requested);
        ASSERT_EQ(link->setBaudRate(requested) != 0, requested != 0);
        EXPECT_EQ(link->getBaudRate(), requested);
        EXPECT_EQ(lineRate(), inForce);
        EXPECT_NE(stopBitsFlag(), 0u) << "framing survives a speed change";
        deviceSends(bytesOf("12345"));
        const uint32_t quietMs = rw::SerialTransport::quietTimeMs(inForce, waitMs);
        EXPECT_EQ(timedRead(sizeof buffer, waitMs), 5);
        EXPECT_TRUE(tookMs >= quietMs && tookMs < quietMs + 500) << tookMs << " ms";
    }
    for (const uint8_t code : {uint8_t{0}, uint8_t{1}, uint8_t{2}}) {
        EXPECT_NE(link->setStopBits(code), 0) << int(code);
        EXPECT_EQ(stopBitsFlag() != 0, code != 0) << int(code);
    }
    EXPECT_EQ(link->setStopBits(3), 0);
}

TEST_F(SerialOverPty, MovesBytesBothWaysReadsOnlyWhatIsQueuedPurgesAndBoundsWrites) {
    EXPECT_EQ(link->read(buffer, 16), 0u);
    EXPECT_EQ(link->readByte(), rw::LINK_TIMEOUT);
    EXPECT_EQ(link->lastError(), 0) << "reading nothing is not a short read";

    EXPECT_EQ(link->writeString("request"), 7u);
    EXPECT_EQ(link->writeByte(0xFF), 0);
    EXPECT_EQ(receive(master.get(), 8), bytesOf("request\xFF"));
    deviceSends(bytesOf("rep\xFF"));
    EXPECT_EQ(timedRead(16, 0), rw::LINK_TIMEOUT) << "time-out 0 reads nothing";
    EXPECT_EQ(link->read(buffer, 3), 3u);
    EXPECT_EQ(link->inputAvailable(), 1);
    EXPECT_EQ(link->readByte(), 0xFF);

    deviceSends(bytesOf("stale"));
    EXPECT_NE(link->purgeInput(), 0);
    EXPECT_EQ(link->inputAvailable(), 0);

    const Bytes block(2000, 0xA5);
    EXPECT_EQ(link->write(block.data(), 2000), 1024u) << "bounded by the output queue size";
    EXPECT_EQ(link->lastError(), rw::LINK_SHORT_WRITE);
}

TEST_F(SerialOverPty, AReplyLongerThanTheBufferGivesTimeoutAndStaysQueued) {
    deviceSends(bytesOf("0123456789"));
    std::fill(buffer, buffer + 5, 0xEE);
    EXPECT_EQ(timedRead(4, 50), rw::LINK_TIMEOUT);
    EXPECT_EQ(std::string(buffer, buffer + 5), "0123\xEE") << "never written past the capacity";
    EXPECT_EQ(link->inputAvailable(), 6);
}

// The open failure of COM7 on `path` in a child process without root's
// privileges (which ignore permissions and exclusive use); nothing when the
// privileges could not be dropped.
std::optional<std::string> openFailureOfUnprivilegedProcess(const std::string& path) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return std::nullopt;
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
        const std::string failure = rw::SerialTransport(kTestPort, path).openFailure();
        _exit(::write(pipeFds[1], failure.data(), failure.size()) == ssize_t(failure.size()) ? 0
                                                                                             : 3);
    }
    ::close(pipeFds[1]);
    const Fd reader(pipeFds[0]);
    std::string failure;
    char chunk[256];
    for (ssize_t got; (got = ::read(reader.get(), chunk, sizeof chunk)) > 0;)
        failure.append(chunk, size_t(got));
    int status = 0;
    const bool ok = child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
                    WEXITSTATUS(status) == 0;
    return ok ? std::optional(failure) : std::nullopt;
}

TEST_F(SerialOverPty, AFailedOpenNamesThePortItsDeviceAndTheCause) {
    TempDir dir;
    // Longer than a COM name's room, as /dev/serial/by-id names often are.
    const std::string missing = (dir.path() / ("usb-" + std::string(64, 'x'))).string();
    const std::string plain = writeFile(dir.path() / "notes.txt", "text").string();
    for (const auto& [device, cause] :
         {std::pair{missing, "no such device"}, std::pair{plain, "not a serial port"}}) {
        rw::SerialTransport failed(kTestPort, device);
        EXPECT_EQ(failed.lastError(), rw::LINK_FAIL);
        EXPECT_EQ(failed.openFailure(), "COM7 (" + device + "): " + cause);
        // Opened by path, the link is named by it, however long it is.
        rw::SerialTransport byPath(device, rw::SerialTransport::NamedByPath{});
        EXPECT_STREQ(byPath.linkName(), device.c_str());
        EXPECT_EQ(byPath.openFailure(), device + ": " + cause);
    }
    EXPECT_EQ(rw::SerialTransport(200).openFailure(), "COM200 (/dev/ttyS199): no such device");

    for (const auto& [mode, cause] :
         {std::pair{0666, "busy in another program"},
          std::pair{0, "permission denied; add your user to the dialout group"}}) {
        ASSERT_EQ(fchmod(slave.get(), mode_t(mode)), 0);
        const std::optional<std::string> failure = openFailureOfUnprivilegedProcess(path);
        if (!failure) GTEST_SKIP() << "cannot open the device as another user here";
        EXPECT_EQ(*failure, "COM7 (" + path + "): " + cause);
    }
    ASSERT_EQ(fchmod(slave.get(), 0666), 0);
    link.reset();
    EXPECT_EQ(openFailureOfUnprivilegedProcess(path), "") << "the port opens again once closed";
}

}  // namespace
}  // namespace rwtest
