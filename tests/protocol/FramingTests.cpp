#include "ProtocolTesting.h"
#include "protocol/Channel.h"
#include "protocol/ChannelFrame.h"
#include "protocol/FrameParser.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace velm {
namespace {

using test::hexBytes;
using test::thrownWireError;

Bytes patterned(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(seed + i * 31);
    }
    return bytes;
}

TEST(ChannelFrame, EncodesLengthChannelAndPayloadUpToTheLimit) {
    EXPECT_EQ(channelFromRaw(4), Channel::file);
    EXPECT_FALSE(channelFromRaw(5));
    EXPECT_EQ(ChannelFrame::encode(Channel::clipboard, hexBytes("4142")), hexBytes("00000003 02 4142"));
    EXPECT_EQ(ChannelFrame::encode(7, {}), hexBytes("00000001 07"));

    // Nothing larger than the peer accepts.
    const Bytes largest(ChannelFrame::maxPayloadLength, 0xAA);
    const auto frame = ChannelFrame::encode(Channel::file, largest);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->size(), largest.size() + 5);
    EXPECT_EQ(Bytes(frame->begin(), frame->begin() + 5), hexBytes("00400000 04"));

    const Bytes tooLarge(ChannelFrame::maxPayloadLength + 1, 0xAA);
    EXPECT_FALSE(ChannelFrame::encode(Channel::file, tooLarge));
}

TEST(FrameParser, ReturnsFramesInStreamOrderAcrossReads) {
    FrameParser parser;
    EXPECT_TRUE(parser.feed({}).empty());
    EXPECT_EQ(parser.feed(hexBytes("00000001 07")), (std::vector<ChannelFrame>{{7, {}}}));

    const Bytes stream = hexBytes("00000002 00 41  00000003 01 4243  00000004 02 444546");
    const auto firstPart = parser.feed(ByteView(stream).first(stream.size() - 2));
    EXPECT_EQ(firstPart, (std::vector<ChannelFrame>{{0, hexBytes("41")}, {1, hexBytes("4243")}}));
    EXPECT_EQ(parser.feed(ByteView(stream).last(2)), (std::vector<ChannelFrame>{{2, hexBytes("444546")}}));
}

TEST(FrameParser, OneByteAtATimeGivesTheSameFramesAsWhole) {
    std::vector<ChannelFrame> sent;
    Bytes stream;
    for (std::size_t size : {0, 1, 2, 3, 4, 5, 100, 70000}) {
        sent.push_back(
            {static_cast<std::uint8_t>(size % 6), patterned(size, static_cast<std::uint8_t>(size))});
        const Bytes frame = *ChannelFrame::encode(sent.back().channel, sent.back().payload);
        stream.insert(stream.end(), frame.begin(), frame.end());
    }

    FrameParser whole;
    EXPECT_EQ(whole.feed(stream), sent);

    FrameParser bytewise;
    std::vector<ChannelFrame> received;
    for (std::size_t i = 0; i < stream.size(); ++i) {
        for (ChannelFrame& frame : bytewise.feed(ByteView(stream).subspan(i, 1))) {
            received.push_back(std::move(frame));
        }
    }
    EXPECT_EQ(received, sent);

    // Reads of random sizes, through the callback that hands frames on without copying.
    std::mt19937 random(7);
    FrameParser chunked;
    received.clear();
    for (std::size_t i = 0; i < stream.size();) {
        const std::size_t size = std::min<std::size_t>(random() % 9000, stream.size() - i);
        chunked.feed(ByteView(stream).subspan(i, size), [&](const FrameParser::FrameView& frame) {
            received.push_back({frame.channel, Bytes(frame.payload.begin(), frame.payload.end())});
        });
        i += size;
    }
    EXPECT_EQ(received, sent);
}

TEST(FrameParser, AcceptsTheLargestLengthAndWaitsForItsBody) {
    FrameParser parser;
    EXPECT_TRUE(parser.feed(hexBytes("00400000")).empty());
    const Bytes body = patterned(ChannelFrame::maxLength, 3); // the channel byte and the payload
    EXPECT_TRUE(parser.feed(ByteView(body).first(body.size() - 1)).empty());
    const auto frames = parser.feed(ByteView(body).last(1));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].channel, body[0]);
    EXPECT_EQ(frames[0].payload, Bytes(body.begin() + 1, body.end()));
}

TEST(FrameParser, RejectsBadLengthsBeforeAnyBodyArrivesWhereverTheReadsSplit) {
    FrameParser huge;
    EXPECT_EQ(thrownWireError([&] { huge.feed(hexBytes("FFFFFFFF")); }),
              WireError::frameTooLarge(0xFFFFFFFF));

    FrameParser empty;
    EXPECT_TRUE(empty.feed(hexBytes("000000")).empty());
    EXPECT_EQ(thrownWireError([&] { empty.feed(hexBytes("00")); }), WireError::frameTooLarge(0));

    // Also when the header comes in pieces.
    FrameParser parser;
    EXPECT_TRUE(parser.feed(hexBytes("0040")).empty());
    EXPECT_EQ(thrownWireError([&] { parser.feed(hexBytes("0001")); }), WireError::frameTooLarge(0x400001));

    // A bad header right after a frame that finishes in the same read.
    FrameParser afterPartial;
    EXPECT_TRUE(afterPartial.feed(hexBytes("00000003 01 41")).empty());
    int handedOn = 0;
    EXPECT_EQ(thrownWireError([&] {
                  afterPartial.feed(hexBytes("42 00400001"),
                                    [&](const FrameParser::FrameView&) { ++handedOn; });
              }),
              WireError::frameTooLarge(0x400001));
    EXPECT_EQ(handedOn, 0);
}

TEST(FrameParser, AnErrorDropsTheCallsFramesAndStaysForGood) {
    FrameParser parser;
    EXPECT_EQ(thrownWireError([&] { parser.feed(hexBytes("00000002 01 41  00000000")); }),
              WireError::frameTooLarge(0));
    EXPECT_EQ(thrownWireError([&] { parser.feed(hexBytes("00000002 01 41")); }), WireError::frameTooLarge(0));
    EXPECT_EQ(thrownWireError([&] { parser.feed({}); }), WireError::frameTooLarge(0));
}

} // namespace
} // namespace velm
