// The real romwright-sim, programmed over TCP, UDP and its pseudo-terminal by
// a client written here, then read back from its flash dumps.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "SimProcess.h"
#include "fakes/TestEnv.h"
#include "sim/SimModel.h"

using namespace simtest;
using rw::sim::SimModel;

namespace {

constexpr int kReplyTimeoutMs = 3000;

const SimModel& model4400() {
    return *rw::sim::findSimModel("KVTC/1-4400");
}

Bytes testImage(size_t size) {
    Bytes image(size);
    for (size_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>(i * 31 + 7);
    return image;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A minimal programmer: the requests of one job, one try each.
struct Client {
    Link& link;
    uint16_t address;
    const SimModel& model = model4400();
    uint8_t sequence = 0;

    // The reply, checked to answer this request.
    Bytes exchange(uint8_t command, const Bytes& payload, size_t replyLength) {
        Bytes frame = request(address, sequence++, command, payload);
        EXPECT_TRUE(link.send(frame));
        Bytes reply = link.receive(replyLength, kReplyTimeoutMs);
        EXPECT_EQ(reply.size(), replyLength) << "command " << int(command);
        if (reply.size() >= 5) {
            EXPECT_EQ(Bytes(reply.begin() + 1, reply.begin() + 5),
                      (Bytes{frame[3], frame[4], frame[1], frame[2]}));
        }
        return reply;
    }
    bool mode(bool on) {
        Bytes reply = exchange(0x4B, {0x01, 38, static_cast<uint8_t>(on)}, 7);
        return reply.size() == 7 && reply[5] == 0x06 && reply[6] == sum8(reply, 6);
    }
    int withCode(uint8_t command) {
        return replyStatus(exchange(command, {uint8_t(model.code >> 8), uint8_t(model.code)}, 9));
    }
    int write(uint32_t at, const Bytes& data) {
        return replyStatus(exchange(0xF0, writePayload(at, data), 9));
    }
    // Writes the image from byte `from` on in blocks of 128, then its CRC, and verifies.
    void finish(const Bytes& image, size_t from = 0) {
        for (size_t done = from; done < image.size(); done += 128) {
            auto end = image.begin() + static_cast<long>(std::min(done + 128, image.size()));
            ASSERT_EQ(write(model.regionStart() + uint32_t(done), Bytes(image.begin() + done, end)),
                      0);
        }
        uint8_t crc = programmedRegion(model, image).back();
        ASSERT_EQ(write(model.crcAddress(), {crc}), 0);
        ASSERT_EQ(replyStatus(exchange(0xF3, {crc}, 9)), 0);
        EXPECT_TRUE(mode(false));
    }
    void program(const Bytes& image) {
        ASSERT_TRUE(mode(true));
        ASSERT_EQ(withCode(0x7F), 0);
        ASSERT_EQ(withCode(0xF2), 0);
        finish(image);
    }
};

class SimBinary : public ::testing::Test {
  protected:
    // Starts the simulator (a job run: erase time 0, exit after verify, dumps
    // into dir) and returns its first line: the address or the pty path.
    std::string start(std::vector<std::string> args, bool job = true) {
        if (job)
            args.insert(args.end(),
                        {"--erase-ms", "0", "--exit-after-verify", "--dump-dir", dir.str()});
        sim = std::make_unique<SimProcess>(args, errPath());
        return sim->firstLine();
    }
    std::string errPath() const { return dir.str() + "/stderr.txt"; }
    Bytes dump(uint16_t address) const {
        std::string text = readFile(dir.str() + "/" + std::to_string(address) + ".bin");
        return Bytes(text.begin(), text.end());
    }
    void stop() {
        sim->signal(SIGTERM);
        EXPECT_EQ(sim->waitExit(), 0);
    }

    rwtest::TempDir dir;
    std::unique_ptr<SimProcess> sim;
};

}  // namespace

TEST_F(SimBinary, ProgramsTwoDevicesOverTcpAcrossAClosedConnection) {
    std::string hostPort = start({"--tcp", "127.0.0.2:0", "--address", "101", "--address", "102",
                                  "--close-after-blocks", "2"});
    Bytes image1 = testImage(256), image2 = testImage(129);
    uint8_t sequence = 0;
    {
        Link link = tcpLink(hostPort);
        ASSERT_TRUE(link.ok()) << hostPort;
        Client client{link, 101};
        ASSERT_TRUE(client.mode(true));
        ASSERT_EQ(client.withCode(0xF2), 0);
        ASSERT_EQ(client.write(0x2000, Bytes(image1.begin(), image1.begin() + 128)), 0);
        ASSERT_EQ(client.write(0x2080, Bytes(image1.begin() + 128, image1.end())), 0);
        EXPECT_TRUE(link.peerClosed(kReplyTimeoutMs));
        sequence = client.sequence;
    }
    Link again = tcpLink(hostPort);
    ASSERT_TRUE(again.ok());
    Client first{again, 101, model4400(), sequence};
    first.finish(image1, 256);
    Client{again, 102, model4400(), first.sequence}.program(image2);
    ASSERT_EQ(sim->waitExit(), 0);
    EXPECT_EQ(dump(101), programmedRegion(model4400(), image1));
    EXPECT_EQ(dump(102), programmedRegion(model4400(), image2));
    EXPECT_NE(sim->output().find("device 101 (KVTC/1-4400): 7 requests, 0 repeated, verify passed"),
              std::string::npos)
        << sim->output();
    EXPECT_NE(sim->output().find("requests: 15"), std::string::npos) << sim->output();
}

TEST_F(SimBinary, ProgramsOverUdpBoundLikeTheProgrammer) {
    const SimModel& model = *rw::sim::findSimModel("KVTC/2-5140");
    std::string hostPort =
        start({"--udp", "127.0.0.2:0", "--address", "65535", "--model", "KVTC/2-5140"});
    Bytes image = testImage(260);
    {
        Link link = udpLink(hostPort);
        ASSERT_TRUE(link.ok()) << hostPort;
        Client{link, 65535, model}.program(image);
    }
    // No disconnect on UDP: it ends once the link has been quiet.
    ASSERT_EQ(sim->waitExit(), 0);
    EXPECT_EQ(dump(65535), programmedRegion(model, image));
}

TEST_F(SimBinary, ProgramsOverThePtyAcrossReopens) {
    std::string linkPath = dir.str() + "/ttySIM";
    std::string path =
        start({"--pty", "--pty-link", linkPath, "--baud", "19200", "--address", "7"});
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
    Bytes image = testImage(200);
    uint8_t sequence = 0;
    // Two jobs that stop after the mode request, then a full one; each
    // reopens the line, exclusively again.
    for (int job = 0; job < 3; ++job) {
        Link link = ptyLink(job == 0 ? linkPath : path);
        ASSERT_TRUE(link.ok()) << "job " << job;
        Client client{link, 7, model4400(), sequence};
        int64_t before = nowMs();
        ASSERT_TRUE(client.mode(true));
        // 11 bytes in and 7 out at 11 bits per character: at least 10.3 ms.
        EXPECT_GE(nowMs() - before, 9);
        if (job == 2) client.program(image);
        sequence = client.sequence;
    }
    ASSERT_EQ(sim->waitExit(), 0);
    EXPECT_EQ(dump(7), programmedRegion(model4400(), image));
    EXPECT_FALSE(std::filesystem::exists(linkPath)) << "the link is removed at exit";
}

TEST_F(SimBinary, FaultRunRepeatsExactlyWithTheSameSeed) {
    auto run = [&](const char* seed) {
        Link link =
            udpLink(start({"--udp", "127.0.0.2:0", "--address", "9", "--verbose", "--seed", seed,
                           "--drop-rate", "0.25", "--corrupt-rate", "0.25", "--stale-rate", "0.25"},
                          false));
        int replies = 0;
        for (int i = 0; i < 16; ++i) {
            link.send(modeRequest(9, static_cast<uint8_t>(i), 42, true));
            replies += !link.receive(7, 150).empty();
        }
        while (!link.receive(7, 200).empty()) ++replies;  // stragglers, if any
        stop();
        std::string trace = readFile(errPath());
        int drops = 0;
        for (size_t at = trace.find("[drop]"); at != std::string::npos;
             at = trace.find("[drop]", at + 1)) {
            ++drops;
        }
        EXPECT_EQ(replies, 16 - drops) << trace;
        return trace;
    };
    std::string first = run("11");
    for (const char* fault : {"[drop]", "[corrupt]", "[stale]"}) {
        EXPECT_NE(first.find(fault), std::string::npos) << first;
    }
    EXPECT_EQ(run("11"), first);
}

TEST_F(SimBinary, SplitAndDelayedRepliesOverUdp) {
    Link link = udpLink(start(
        {"--udp", "127.0.0.2:0", "--address", "9", "--split", "3:20", "--delay-ms", "60"}, false));
    int64_t sent = nowMs(), firstMs = 0;
    ASSERT_TRUE(link.send(codeRequest(9, 1, 0x7F, 0x4400)));
    Bytes whole;
    for (int piece = 0; piece < 3; ++piece) {
        Bytes datagram = link.receive(9, kReplyTimeoutMs);
        firstMs = piece == 0 ? nowMs() - sent : firstMs;
        EXPECT_EQ(datagram.size(), 3u) << "piece " << piece;
        whole.insert(whole.end(), datagram.begin(), datagram.end());
    }
    EXPECT_GE(firstMs, 55) << "the delay comes before the first piece";
    EXPECT_EQ(whole, (Bytes{0x02, 0xFF, 0xF9, 0x00, 0x09, 0x06, 0x7F, 0x00, 0x88}));
    stop();
}

TEST_F(SimBinary, ServesAfterAVanishedClientAndDumpsOnStop) {
    std::string hostPort = start(
        {"--tcp", "127.0.0.2:0", "--address", "5", "--erase-ms", "300", "--dump-dir", dir.str()},
        false);
    {
        Link link = tcpLink(hostPort);
        ASSERT_TRUE(link.ok()) << hostPort;
        Client client{link, 5};
        ASSERT_EQ(client.withCode(0xF2), 0);
        // A request during the erase is never answered, not even late.
        ASSERT_TRUE(link.send(modeRequest(5, 1, 38, true)));
        EXPECT_TRUE(link.receive(7, 400).empty());
        ASSERT_EQ(client.write(0x2000, {0x12, 0x34}), 0);
        ASSERT_NE(client.write(0x7A00, {0x00}), 0);
        // A client that vanishes with a reply on its way must not hurt.
        link.send(modeRequest(5, 3, 38, true));
    }
    Link second = tcpLink(hostPort);
    EXPECT_TRUE((Client{second, 5}.mode(true)));
    // A second simulator on the same address fails to start.
    EXPECT_EQ(
        SimProcess({"--tcp", hostPort, "--address", "1"}, dir.str() + "/clash.txt").waitExit(), 1);
    stop();
    Bytes region = dump(5);
    ASSERT_EQ(region.size(), model4400().regionSize());
    EXPECT_EQ(Bytes(region.begin(), region.begin() + 3), (Bytes{0x12, 0x34, 0xFF}));
    EXPECT_NE(sim->output().find("requests: 6"), std::string::npos) << sim->output();
    EXPECT_NE(sim->output().find("not verified"), std::string::npos) << sim->output();
}

TEST_F(SimBinary, HelpAndUsageErrorExitCodes) {
    SimProcess help({"--help"}, errPath());
    EXPECT_NE(help.firstLine().find("Usage: romwright-sim"), std::string::npos);
    EXPECT_EQ(help.waitExit(), 0);
    EXPECT_NE(help.output().find("--reset-after-blocks"), std::string::npos);
    EXPECT_EQ(SimProcess({"--tcp", "127.0.0.2:0", "--address", "1", "--frobnicate"}, errPath())
                  .waitExit(),
              2);
}
