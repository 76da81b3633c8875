// The simulator's CRC, reply frames and request framing.
#include <gtest/gtest.h>

#include <string>

#include "SimTestFrames.h"
#include "sim/Crc8Maxim.h"
#include "sim/RequestParser.h"

using namespace rw::sim;
using simtest::Bytes;
using Kind = RequestParser::Kind;

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
    EXPECT_EQ(buildFullReply(permission, 0x02),
              (Bytes{0x02, 0xFF, 0xF9, 0x00, 0x65, 0x06, 0x7F, 0x02, 0xE6}));
}

TEST(SimRequestParser, CutsFramesWhateverTheChunkingAndRecoversFromJunk) {
    using simtest::codeRequest, simtest::modeRequest, simtest::writeRequest, simtest::request;
    Bytes block(128);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7 + 2);
    Bytes good = modeRequest(7, 2, 42, false);
    Bytes bad = codeRequest(7, 3, 0xF2, 0x4255);
    bad.back() ^= 0x01;
    // A write whose length field claims more than any receive buffer holds.
    Bytes oversized = {0x02, 0x00, 0x07, 0xFF, 0xF8, 0xF0, 0x77, 0x00, 0x20, 0x00, 0xFF, 0xFF};
    Bytes unknown = request(9, 0, 0x3C, {0x10, 0x20, 0x30});
    struct Case {
        const char* name;
        std::vector<Bytes> parts;
        std::vector<std::pair<Kind, Bytes>> frames;  // every event but skipped bytes
    };
    const Case cases[] = {
        {"each known command",
         {modeRequest(101, 0, 38, true), codeRequest(101, 1, 0x7F, 0x4400),
          codeRequest(101, 2, 0xF2, 0x4400), writeRequest(101, 3, 0x2000, block),
          writeRequest(101, 0, 0x79FF, {0xAB}), request(101, 1, 0xF3, {0x5C})},
         {}},
        {"noise before", {{0x55, 0xAA, 0x00}, good}, {{Kind::Request, good}}},
        {"bad checksum dropped whole",
         {bad, good},
         {{Kind::BadChecksum, bad}, {Kind::Request, good}}},
        {"oversized length", {oversized, good}, {{Kind::Request, good}}},
        {"unknown command ends at its checksum",
         {unknown, good},
         {{Kind::Request, unknown}, {Kind::Request, good}}},
    };
    for (const Case& c : cases) {
        Bytes stream;
        for (const Bytes& part : c.parts) stream.insert(stream.end(), part.begin(), part.end());
        auto expected = c.frames;
        if (expected.empty()) {
            for (const Bytes& part : c.parts) expected.emplace_back(Kind::Request, part);
        }
        for (size_t pieceSize : {size_t{1}, size_t{3}, size_t{13}, stream.size()}) {
            RequestParser parser;
            std::vector<std::pair<Kind, Bytes>> seen;
            for (size_t offset = 0; offset < stream.size(); offset += pieceSize) {
                parser.feed(stream.data() + offset, std::min(pieceSize, stream.size() - offset));
                while (auto event = parser.next()) {
                    if (event->kind != Kind::Skipped) seen.emplace_back(event->kind, event->bytes);
                }
            }
            EXPECT_EQ(seen, expected) << c.name << ", pieces of " << pieceSize;
        }
    }
}

TEST(SimRequestParser, DatagramReportsAnIncompleteTail) {
    Bytes good = simtest::request(9, 1, 0xF3, {0x42});
    Bytes datagram = simtest::writeRequest(9, 2, 0x2000, Bytes(16, 0x11));
    datagram.resize(20);
    datagram.insert(datagram.begin(), good.begin(), good.end());
    auto events = RequestParser::parseDatagram(datagram.data(), datagram.size());
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, Kind::Request);
    EXPECT_EQ(events[1].kind, Kind::Skipped);
    EXPECT_EQ(events[1].bytes.size(), 20u);
}
