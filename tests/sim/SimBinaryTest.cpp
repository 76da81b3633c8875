// The real romwright-sim, programmed over TCP, UDP and its pseudo-terminal by
// a client written here, then read back from its flash dumps.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

#include "SimProcess.h"
#include "SimTestFrames.h"
#include "fakes/TestEnv.h"
#include "sim/Crc8Maxim.h"
#include "sim/SimModel.h"

using namespace simtest;
using rw::sim::SimModel;

namespace {

constexpr int kReplyTimeoutMs = 3000;

int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

Bytes testImage(size_t size) {
    Bytes image(size);
    for (size_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>(i * 31 + 7);
    return image;
}

// What a device's region must hold after programming `image`.
Bytes expectedRegion(const SimModel& model, const Bytes& image) {
    Bytes region(model.regionSize(), 0xFF);
    std::copy(image.begin(), image.end(), region.begin());
    region.back() = rw::sim::crc8Maxim(region.data(), region.size() - 1);
    return region;
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A minimal programmer: the request sequence of one job, one try each.
struct Client {
    TestLink& link;
    uint16_t address;
    const SimModel& model;
    uint8_t sequence = 0;

    Bytes exchange(uint8_t command, const Bytes& payload, size_t replyLength) {
        Bytes frame = request(address, sequence++, command, payload);
        EXPECT_TRUE(link.send(frame));
        Bytes reply = link.receive(replyLength, kReplyTimeoutMs);
        EXPECT_EQ(reply.size(), replyLength) << "command " << int(command);
        if (reply.size() >= 5) {
            EXPECT_EQ(reply[1], frame[3]);
            EXPECT_EQ(reply[2], frame[4]);
            EXPECT_EQ(reply[3], frame[1]);
            EXPECT_EQ(reply[4], frame[2]);
        }
        return reply;
    }
    bool mode(bool on) {
        Bytes reply = exchange(0x4B, {0x01, 38, static_cast<uint8_t>(on)}, 7);
        return reply.size() == 7 && reply[5] == 0x06 && reply[6] == sum8(reply, 6);
    }
    int command(uint8_t command, const Bytes& payload) {
        return replyStatus(exchange(command, payload, 9));
    }
    int withCode(uint8_t cmd) {
        return command(cmd,
                       {static_cast<uint8_t>(model.code >> 8), static_cast<uint8_t>(model.code)});
    }
    int write(uint32_t at, const Bytes& data) {
        Bytes payload = {static_cast<uint8_t>(at >> 16), static_cast<uint8_t>(at >> 8),
                         static_cast<uint8_t>(at), static_cast<uint8_t>(data.size() >> 8),
                         static_cast<uint8_t>(data.size())};
        payload.insert(payload.end(), data.begin(), data.end());
        return command(0xF0, payload);
    }
    void writeImage(const Bytes& image, size_t from = 0) {
        for (size_t done = from; done < image.size(); done += 128) {
            size_t n = std::min<size_t>(128, image.size() - done);
            ASSERT_EQ(write(model.regionStart() + static_cast<uint32_t>(done),
                            Bytes(image.begin() + done, image.begin() + done + n)),
                      0);
        }
    }
    void finish(const Bytes& image) {
        uint8_t crc = expectedRegion(model, image).back();
        ASSERT_EQ(write(model.crcAddress(), {crc}), 0);
        ASSERT_EQ(command(0xF3, {crc}), 0);
        EXPECT_TRUE(mode(false));
    }
    void program(const Bytes& image) {
        ASSERT_TRUE(mode(true));
        ASSERT_EQ(withCode(0x7F), 0);
        ASSERT_EQ(withCode(0xF2), 0);
        writeImage(image);
        finish(image);
    }
};

class SimBinary : public ::testing::Test {
  protected:
    std::unique_ptr<SimProcess> start(std::vector<std::string> args) {
        auto process = std::make_unique<SimProcess>(args, errPath());
        EXPECT_TRUE(process->started());
        return process;
    }
    std::string errPath() const { return dir.str() + "/stderr.txt"; }
    std::string dumpOf(uint16_t address) const {
        return dir.str() + "/" + std::to_string(address) + ".bin";
    }
    std::string traceText() const {
        Bytes text = readFile(errPath());
        return std::string(text.begin(), text.end());
    }

    rwtest::TempDir dir;
};

const SimModel& model4400() {
    return *rw::sim::findSimModel("KVTC/1-4400");
}

}  // namespace

TEST_F(SimBinary, ProgramsTwoDevicesOverTcpAndDumpsTheirFlash) {
    auto sim = start({"--tcp", "127.0.0.2:0", "--address", "101", "--address", "102", "--erase-ms",
                      "0", "--exit-after-verify", "--dump-dir", dir.str()});
    std::string hostPort = sim->firstLine();
    ASSERT_FALSE(hostPort.empty());
    Bytes image1 = testImage(300);
    Bytes image2 = testImage(129);
    {
        StreamLink link(connectTcp(hostPort));
        ASSERT_TRUE(link.ok());
        Client first{link, 101, model4400()};
        first.program(image1);
        Client second{link, 102, model4400(), first.sequence};
        second.program(image2);
    }
    ASSERT_EQ(sim->waitExit(), 0);
    EXPECT_EQ(readFile(dumpOf(101)), expectedRegion(model4400(), image1));
    EXPECT_EQ(readFile(dumpOf(102)), expectedRegion(model4400(), image2));
    EXPECT_NE(sim->output().find("device 101 (KVTC/1-4400): 9 requests, 0 repeated, verify passed"),
              std::string::npos)
        << sim->output();
    EXPECT_NE(sim->output().find("requests: 17"), std::string::npos) << sim->output();
}

TEST_F(SimBinary, ProgramsOverUdpBoundLikeTheProgrammer) {
    const SimModel& model = *rw::sim::findSimModel("KVTC/2-5140");
    auto sim = start({"--udp", "127.0.0.2:0", "--address", "65535", "--model", "KVTC/2-5140",
                      "--erase-ms", "0", "--exit-after-verify", "--dump-dir", dir.str()});
    std::string host;
    int port = 0;
    ASSERT_TRUE(splitHostPort(sim->firstLine(), &host, &port));
    Bytes image = testImage(260);
    {
        UdpLink link(host, port);
        ASSERT_TRUE(link.ok());
        Client client{link, 65535, model};
        ASSERT_EQ(client.withCode(0x7F), 0);
        ASSERT_EQ(client.withCode(0xF2), 0);
        client.writeImage(image);
        client.finish(image);
    }
    // No disconnect on UDP: it ends once the link has been quiet.
    ASSERT_EQ(sim->waitExit(), 0);
    EXPECT_EQ(readFile(dumpOf(65535)), expectedRegion(model, image));
}

TEST_F(SimBinary, ProgramsOverThePtyAcrossReopens) {
    std::string linkPath = dir.str() + "/ttySIM";
    auto sim = start({"--pty", "--pty-link", linkPath, "--baud", "19200", "--address", "7",
                      "--erase-ms", "0", "--exit-after-verify", "--dump-dir", dir.str()});
    std::string path = sim->firstLine();
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
    Bytes image = testImage(200);
    uint8_t sequence = 0;
    {
        // A first job that stops after the permission.
        StreamLink link(openPty(linkPath));
        ASSERT_TRUE(link.ok());
        Client client{link, 7, model4400()};
        int64_t before = nowMs();
        ASSERT_TRUE(client.mode(true));
        // 11 bytes in and 7 out at 11 bits per character: at least 10.3 ms.
        EXPECT_GE(nowMs() - before, 9);
        ASSERT_EQ(client.withCode(0x7F), 0);
        sequence = client.sequence;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        // The next job reopens the same side, exclusively again.
        StreamLink link(openPty(path));
        ASSERT_TRUE(link.ok()) << "reopen " << attempt;
        Client client{link, 7, model4400(), sequence};
        if (attempt == 0) {
            ASSERT_TRUE(client.mode(true));
            sequence = client.sequence;
            continue;
        }
        client.program(image);
    }
    ASSERT_EQ(sim->waitExit(), 0);
    EXPECT_EQ(readFile(dumpOf(7)), expectedRegion(model4400(), image));
    EXPECT_FALSE(std::filesystem::exists(linkPath)) << "the link is removed at exit";
}

TEST_F(SimBinary, SilentDuringTheErase) {
    auto sim = start({"--tcp", "127.0.0.2:0", "--address", "101", "--erase-ms", "300"});
    StreamLink link(connectTcp(sim->firstLine()));
    ASSERT_TRUE(link.ok());
    Client client{link, 101, model4400()};
    ASSERT_EQ(client.withCode(0xF2), 0);
    int64_t erased = nowMs();
    Bytes probe = modeRequest(101, 3, 38, true);
    ASSERT_TRUE(link.send(probe));
    EXPECT_TRUE(link.receive(7, 100).empty());
    while (nowMs() - erased < 350) link.receive(7, 20);
    ASSERT_TRUE(link.send(probe));
    EXPECT_EQ(link.receive(7, kReplyTimeoutMs).size(), 7u);
    sim->signal(SIGTERM);
    EXPECT_EQ(sim->waitExit(), 0);
}

TEST_F(SimBinary, FaultRunRepeatsExactlyWithTheSameSeed) {
    auto run = [&](const char* seed) {
        auto sim = start({"--udp", "127.0.0.2:0", "--address", "9", "--verbose", "--seed", seed,
                          "--drop-rate", "0.25", "--corrupt-rate", "0.25", "--stale-rate", "0.25"});
        std::string host;
        int port = 0;
        EXPECT_TRUE(splitHostPort(sim->firstLine(), &host, &port));
        UdpLink link(host, port);
        int replies = 0;
        for (int i = 0; i < 16; ++i) {
            link.send(modeRequest(9, static_cast<uint8_t>(i), 42, true));
            if (!link.receive(7, 150).empty()) ++replies;
        }
        while (!link.receive(7, 200).empty()) ++replies;  // stragglers, if any
        sim->signal(SIGINT);
        EXPECT_EQ(sim->waitExit(), 0);
        std::string trace = traceText();
        size_t drops = 0;
        for (size_t at = trace.find("[drop]"); at != std::string::npos;
             at = trace.find("[drop]", at + 1)) {
            ++drops;
        }
        EXPECT_EQ(replies, 16 - static_cast<int>(drops)) << trace;
        return trace;
    };
    std::string first = run("11");
    EXPECT_NE(first.find("[drop]"), std::string::npos) << first;
    EXPECT_NE(first.find("[corrupt]"), std::string::npos) << first;
    EXPECT_NE(first.find("[stale]"), std::string::npos) << first;
    EXPECT_EQ(run("11"), first);
    EXPECT_NE(run("12"), first);
}

TEST_F(SimBinary, SplitAndDelayedRepliesOverUdp) {
    auto sim =
        start({"--udp", "127.0.0.2:0", "--address", "9", "--split", "3:20", "--delay-ms", "60"});
    std::string host;
    int port = 0;
    ASSERT_TRUE(splitHostPort(sim->firstLine(), &host, &port));
    UdpLink link(host, port);
    Bytes frame = codeRequest(9, 1, 0x7F, 0x4400);
    int64_t sent = nowMs();
    ASSERT_TRUE(link.send(frame));
    Bytes first = link.receive(9, kReplyTimeoutMs);
    EXPECT_GE(nowMs() - sent, 55);
    Bytes second = link.receive(9, kReplyTimeoutMs);
    Bytes third = link.receive(9, kReplyTimeoutMs);
    EXPECT_EQ(first.size(), 3u);
    Bytes whole = first;
    whole.insert(whole.end(), second.begin(), second.end());
    whole.insert(whole.end(), third.begin(), third.end());
    EXPECT_EQ(whole, (Bytes{0x02, 0xFF, 0xF9, 0x00, 0x09, 0x06, 0x7F, 0x00, 0x88}));
    sim->signal(SIGTERM);
    EXPECT_EQ(sim->waitExit(), 0);
}

TEST_F(SimBinary, ClosesAfterBlocksAndAcceptsTheNextClient) {
    auto sim = start({"--tcp", "127.0.0.2:0", "--address", "101", "--erase-ms", "0",
                      "--close-after-blocks", "2", "--exit-after-verify", "--dump-dir", dir.str()});
    std::string hostPort = sim->firstLine();
    Bytes image = testImage(512);
    uint8_t sequence = 0;
    {
        StreamLink link(connectTcp(hostPort));
        Client client{link, 101, model4400()};
        ASSERT_EQ(client.withCode(0xF2), 0);
        ASSERT_EQ(client.write(0x2000, Bytes(image.begin(), image.begin() + 128)), 0);
        ASSERT_EQ(client.write(0x2080, Bytes(image.begin() + 128, image.begin() + 256)), 0);
        EXPECT_TRUE(link.peerClosed(kReplyTimeoutMs));
        sequence = client.sequence;
    }
    StreamLink again(connectTcp(hostPort));
    ASSERT_TRUE(again.ok());
    Client client{again, 101, model4400(), sequence};
    client.writeImage(image, 256);
    client.finish(image);
    ASSERT_EQ(sim->waitExit(), 0);
    EXPECT_EQ(readFile(dumpOf(101)), expectedRegion(model4400(), image));
}

TEST_F(SimBinary, StopSignalDumpsAndSummarises) {
    auto sim = start(
        {"--tcp", "127.0.0.2:0", "--address", "5", "--erase-ms", "0", "--dump-dir", dir.str()});
    std::string hostPort = sim->firstLine();
    {
        StreamLink link(connectTcp(hostPort));
        Client client{link, 5, model4400()};
        ASSERT_EQ(client.withCode(0xF2), 0);
        ASSERT_EQ(client.write(0x2000, {0x12, 0x34}), 0);
        ASSERT_NE(client.write(0x7A00, {0x00}), 0);
        // A client that vanishes with a reply on its way must not hurt.
        link.send(modeRequest(5, 3, 38, true));
    }
    StreamLink second(connectTcp(hostPort));
    Client after{second, 5, model4400(), 0};
    EXPECT_TRUE(after.mode(true));
    sim->signal(SIGTERM);
    ASSERT_EQ(sim->waitExit(), 0);
    Bytes region = readFile(dumpOf(5));
    ASSERT_EQ(region.size(), model4400().regionSize());
    EXPECT_EQ(region[0], 0x12);
    EXPECT_EQ(region[1], 0x34);
    EXPECT_EQ(region[2], 0xFF);
    EXPECT_NE(sim->output().find("requests: 5"), std::string::npos) << sim->output();
    EXPECT_NE(sim->output().find("not verified"), std::string::npos) << sim->output();
}

TEST_F(SimBinary, ExitCodes) {
    SimProcess help({"--help"}, errPath());
    EXPECT_NE(help.firstLine().find("Usage: romwright-sim"), std::string::npos);
    EXPECT_EQ(help.waitExit(), 0);
    EXPECT_NE(help.output().find("--reset-after-blocks"), std::string::npos);

    SimProcess bad({"--tcp", "127.0.0.2:0", "--address", "1", "--frobnicate"}, errPath());
    EXPECT_EQ(bad.waitExit(), 2);

    auto holder = start({"--tcp", "127.0.0.2:0", "--address", "1"});
    std::string taken = holder->firstLine();
    SimProcess clash({"--tcp", taken, "--address", "1"}, errPath());
    EXPECT_EQ(clash.waitExit(), 1);
    holder->signal(SIGTERM);
    EXPECT_EQ(holder->waitExit(), 0);
}
