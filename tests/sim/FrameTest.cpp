// The simulator's CRC, reply frames and request framing.
#include <gtest/gtest.h>

#include <string>

#include "SimTestFrames.h"
#include "sim/Crc8Maxim.h"
#include "sim/RequestParser.h"

namespace rwtest {
namespace {

using namespace rw::sim;
using Kind = RequestParser::Kind;

TEST(SimFrames, CrcCheckValueAndReplyBytes) {
    const auto* text = reinterpret_cast<const uint8_t*>("123456789");
    EXPECT_EQ(crc8Maxim(text, 9), 0xA1);
    EXPECT_EQ(crc8Maxim(text + 4, 5, crc8Maxim(text, 4)), 0xA1);
    Request mode{{0x02, 0x00, 0x65, 0xFF, 0xF8, 0x4B, 0x77, 0x01, 0x26, 0x01, 0x48}};
    EXPECT_EQ(buildShortReply(mode), (Bytes{0x02, 0xFF, 0xF8, 0x00, 0x65, 0x06, 0x64}));
    Request permission{{0x02, 0x00, 0x65, 0xFF, 0xF9, 0x7F, 0x77, 0x44, 0x00, 0x99}};
    EXPECT_EQ(buildFullReply(permission, 0x02),
              (Bytes{0x02, 0xFF, 0xF9, 0x00, 0x65, 0x06, 0x7F, 0x02, 0xE6}));
}

TEST(SimFrames, ParserCutsFramesWhateverTheChunkingAndRecoversFromJunk) {
    Bytes good = modeRequest(7, 2), bad = codeRequest(7, 3, 0xF2, 0x4255);
    bad.back() ^= 0x01;
    // A write whose length field claims more than any receive buffer holds.
    Bytes oversized = {0x02, 0x00, 0x07, 0xFF, 0xF8, 0xF0, 0x77, 0x00, 0x20, 0x00, 0xFF, 0xFF};
    Bytes unknown = buildRequest(9, 0, 0x3C, {0x10, 0x20, 0x30});
    Bytes block(128);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7 + 2);
    const std::vector<Bytes> known = {
        good, codeRequest(101, 1, 0x7F, 0x4400), codeRequest(101, 2, 0xF2, 0x4400),
        writeRequest(101, 3, 0x2000, block), buildRequest(101, 1, 0xF3, {0x5C})};
    struct Case {
        std::vector<Bytes> parts;
        std::vector<std::pair<Kind, Bytes>> frames;  // every event but skipped bytes
    };
    const Case cases[] = {
        {known, {}},
        {{{0x55, 0xAA, 0x00}, good}, {{Kind::Request, good}}},
        {{bad, good}, {{Kind::BadChecksum, bad}, {Kind::Request, good}}},
        {{oversized, good}, {{Kind::Request, good}}},
        {{unknown, good}, {{Kind::Request, unknown}, {Kind::Request, good}}},
    };
    for (const Case& c : cases) {
        Bytes stream;
        auto expected = c.frames;
        for (const Bytes& part : c.parts) stream.insert(stream.end(), part.begin(), part.end());
        for (const Bytes& part : c.frames.empty() ? c.parts : std::vector<Bytes>{})
            expected.emplace_back(Kind::Request, part);
        for (size_t pieceSize : {size_t{1}, size_t{3}, size_t{13}, stream.size()}) {
            RequestParser parser;
            std::vector<std::pair<Kind, Bytes>> seen;
            for (size_t offset = 0; offset < stream.size(); offset += pieceSize) {
                parser.feed(stream.data() + offset, std::min(pieceSize, stream.size() - offset));
                while (auto event = parser.next())
                    if (event->kind != Kind::Skipped) seen.emplace_back(event->kind, event->bytes);
            }
            EXPECT_EQ(seen, expected) << "case " << &c - cases << ", pieces of " << pieceSize;
        }
    }
    Bytes datagram = writeRequest(9, 2, 0x2000, Bytes(16, 0x11));
    datagram.resize(20);
    datagram.insert(datagram.begin(), good.begin(), good.end());
    auto events = RequestParser::parseDatagram(datagram.data(), datagram.size());
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].bytes, good);
    EXPECT_EQ(std::make_pair(events[1].kind, events[1].bytes.size()),
              std::make_pair(Kind::Skipped, size_t{20}));
}

}  // namespace
}  // namespace rwtest
