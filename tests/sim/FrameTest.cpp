// The simulator's CRC, reply frames and request framing.
#include <gtest/gtest.h>

#include <string>

#include "SimTestFrames.h"
#include "sim/Crc8Maxim.h"
#include "sim/RequestParser.h"

using namespace rw::sim;
using simtest::Bytes;

TEST(SimCrc8, CatalogueCheckValueAndChaining) {
    const std::string text = "123456789";
    const auto* data = reinterpret_cast<const uint8_t*>(text.data());
    EXPECT_EQ(crc8Maxim(data, text.size()), 0xA1);
    EXPECT_EQ(crc8Maxim(data + 4, 5, crc8Maxim(data, 4)), 0xA1);
    EXPECT_EQ(crc8Maxim(data, 0), 0x00);
    // A Dallas ROM code: family 0x02, serial 1C B8 01 00 00 00, CRC 0xA2.
    const uint8_t rom[] = {0x02, 0x1C, 0xB8, 0x01, 0x00, 0x00, 0x00};
    EXPECT_EQ(crc8Maxim(rom, sizeof rom), 0xA2);
}

TEST(SimReplies, MatchTheProtocolExample) {
    // Device 101: mode on with parameter 38, then a permission for 0x4400.
    Request mode{{0x02, 0x00, 0x65, 0xFF, 0xF8, 0x4B, 0x77, 0x01, 0x26, 0x01, 0x48}};
    EXPECT_EQ(buildShortReply(mode), (Bytes{0x02, 0xFF, 0xF8, 0x00, 0x65, 0x06, 0x64}));
    Request permission{{0x02, 0x00, 0x65, 0xFF, 0xF9, 0x7F, 0x77, 0x44, 0x00, 0x99}};
    EXPECT_EQ(buildFullReply(permission, 0),
              (Bytes{0x02, 0xFF, 0xF9, 0x00, 0x65, 0x06, 0x7F, 0x00, 0xE4}));
    Bytes refused = buildFullReply(permission, 0x02);
    EXPECT_EQ(refused[7], 0x02);
    EXPECT_EQ(refused[8], simtest::sum8(refused, 8));
}

namespace {

std::vector<RequestParser::Event> feedInPieces(const Bytes& stream, size_t pieceSize) {
    RequestParser parser;
    std::vector<RequestParser::Event> events;
    for (size_t offset = 0; offset < stream.size(); offset += pieceSize) {
        size_t n = std::min(pieceSize, stream.size() - offset);
        parser.feed(stream.data() + offset, n);
        while (auto event = parser.next()) events.push_back(*event);
    }
    return events;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

using Kind = RequestParser::Kind;

}  // namespace

TEST(SimRequestParser, CutsEveryKnownCommandWhateverTheChunking) {
    Bytes block(128);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7 + 2);
    std::vector<Bytes> frames = {
        simtest::modeRequest(101, 0, 38, true),        simtest::codeRequest(101, 1, 0x7F, 0x4400),
        simtest::codeRequest(101, 2, 0xF2, 0x4400),    simtest::writeRequest(101, 3, 0x2000, block),
        simtest::writeRequest(101, 0, 0x79FF, {0xAB}), simtest::verifyRequest(101, 1, 0x5C),
    };
    Bytes stream;
    for (const Bytes& frame : frames) stream.insert(stream.end(), frame.begin(), frame.end());
    for (size_t pieceSize : {size_t{1}, size_t{3}, size_t{13}, stream.size()}) {
        auto events = feedInPieces(stream, pieceSize);
        ASSERT_EQ(events.size(), frames.size()) << "piece size " << pieceSize;
        for (size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(events[i].kind, Kind::Request);
            EXPECT_EQ(events[i].bytes, frames[i]);
        }
    }
}

TEST(SimRequestParser, RecoversFromNoiseAndBadFrames) {
    Bytes good = simtest::modeRequest(7, 2, 42, false);
    Bytes bad = simtest::codeRequest(7, 3, 0xF2, 0x4255);
    bad.back() ^= 0x01;
    // A write whose length field claims more than any receive buffer holds.
    Bytes oversized = {0x02, 0x00, 0x07, 0xFF, 0xF8, 0xF0, 0x77, 0x00, 0x20, 0x00, 0xFF, 0xFF};
    struct Case {
        const char* name;
        Bytes stream;
        std::vector<Kind> kinds;
    };
    const Case cases[] = {
        {"noise before", concat({{0x55, 0xAA, 0x00}, good}), {Kind::Skipped, Kind::Request}},
        {"bad checksum dropped whole", concat({bad, good}), {Kind::BadChecksum, Kind::Request}},
        {"oversized length",
         concat({oversized, good}),
         {Kind::Skipped, Kind::Skipped, Kind::Request}},
    };
    for (const Case& c : cases) {
        auto events = feedInPieces(c.stream, c.stream.size());
        std::vector<Kind> kinds;
        for (const auto& event : events) kinds.push_back(event.kind);
        EXPECT_EQ(kinds, c.kinds) << c.name;
        ASSERT_FALSE(events.empty()) << c.name;
        EXPECT_EQ(events.back().bytes, good) << c.name;
    }
}

TEST(SimRequestParser, UnknownCommandEndsAtItsChecksum) {
    Bytes unknown = simtest::request(9, 0, 0x3C, {0x10, 0x20, 0x30});
    Bytes good = simtest::verifyRequest(9, 1, 0x00);
    auto events = feedInPieces(concat({unknown, good}), 1);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].bytes, unknown);
    EXPECT_EQ(events[1].bytes, good);
}

TEST(SimRequestParser, DatagramReportsAnIncompleteTail) {
    Bytes good = simtest::verifyRequest(9, 1, 0x42);
    Bytes partial = simtest::writeRequest(9, 2, 0x2000, Bytes(16, 0x11));
    partial.resize(20);
    Bytes datagram = concat({good, partial});
    auto events = RequestParser::parseDatagram(datagram.data(), datagram.size());
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, Kind::Request);
    EXPECT_EQ(events[1].kind, Kind::Skipped);
    EXPECT_EQ(events[1].bytes.size(), 20u);
}
