// The frame parser, fed a stream in random splits, against a reference that reads the whole
// stream at once. Input: a count of splits, the split lengths (one byte each), then the stream.
#include "fuzz/FuzzInput.h"
#include "fuzz/Target.h"
#include "protocol/ChannelFrame.h"
#include "protocol/FrameParser.h"
#include "protocol/WireError.h"

#include <cstdlib>
#include <optional>
#include <vector>

namespace velm::fuzz {
namespace {

struct ReferenceFrame {
    ChannelFrame frame;
    std::size_t end = 0; // the stream offset just past it
};

struct Reference {
    std::vector<ReferenceFrame> frames;
    // The offset at which a bad length's fourth byte arrives, if any.
    std::optional<std::size_t> failsAt;
};

Reference readWhole(ByteView stream) {
    Reference reference;
    std::size_t at = 0;
    while (stream.size() - at >= 4) {
        const std::uint32_t length = (std::uint32_t{stream[at]} << 24) |
                                     (std::uint32_t{stream[at + 1]} << 16) |
                                     (std::uint32_t{stream[at + 2]} << 8) | std::uint32_t{stream[at + 3]};
        if (length == 0 || length > ChannelFrame::maxLength) {
            reference.failsAt = at + 4;
            break;
        }
        if (stream.size() - at - 4 < length) {
            break;
        }
        const auto payload = stream.subspan(at + 5, length - 1);
        reference.frames.push_back(
            {{stream[at + 4], Bytes(payload.begin(), payload.end())}, at + 4 + length});
        at += 4 + length;
    }
    return reference;
}

} // namespace

std::vector<Bytes> seeds() {
    std::vector<Bytes> all;
    const Bytes hello = *ChannelFrame::encode(Channel::control, toBytes(R"({"ping":{}})"));
    const Bytes input = *ChannelFrame::encode(Channel::input, Bytes{1, 0, 0, 0, 0, 0, 0, 0, 0});
    Bytes stream = hello;
    stream.insert(stream.end(), input.begin(), input.end());
    all.push_back(FuzzScript().byte(0).bytes(stream).take());
    all.push_back(FuzzScript().byte(3).byte(2).byte(7).byte(1).bytes(stream).take());
    Bytes bad = hello;
    bad.insert(bad.end(), {0x00, 0x40, 0x00, 0x01, 0x02});
    all.push_back(FuzzScript().byte(1).byte(20).bytes(bad).take());
    return all;
}

void fuzzOne(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput input(data, size);
    std::vector<std::size_t> splits(input.byte() % 16);
    for (auto& split : splits) {
        split = input.byte();
    }
    const ByteView stream = input.rest();
    const fuzz::Reference reference = fuzz::readWhole(stream);

    FrameParser parser;
    std::vector<ChannelFrame> delivered;
    std::optional<std::size_t> failedCallStart;
    std::size_t at = 0;
    splits.push_back(stream.size()); // the last call takes the rest
    for (const std::size_t split : splits) {
        const std::size_t length = std::min(split, stream.size() - at);
        const std::size_t before = delivered.size();
        try {
            parser.feed(stream.subspan(at, length), [&](const FrameParser::FrameView& frame) {
                delivered.push_back({frame.channel, Bytes(frame.payload.begin(), frame.payload.end())});
            });
        } catch (const WireError&) {
            if (delivered.size() != before) {
                std::abort(); // a call that throws hands on nothing
            }
            if (!failedCallStart) {
                failedCallStart = at;
                // It is the call that completes the bad length.
                if (!reference.failsAt || *reference.failsAt <= at || *reference.failsAt > at + length) {
                    std::abort();
                }
            }
        }
        at += length;
    }

    // Frames come in stream order, each once; a bad length ends the stream at the call that
    // completes it, and every call from then on throws.
    std::size_t expected = 0;
    for (const auto& frame : reference.frames) {
        if (!failedCallStart || frame.end <= *failedCallStart) {
            ++expected;
        }
    }
    if (reference.failsAt.has_value() != failedCallStart.has_value() || delivered.size() != expected) {
        std::abort();
    }
    for (std::size_t i = 0; i < delivered.size(); ++i) {
        if (!(delivered[i] == reference.frames[i].frame)) {
            std::abort();
        }
    }
}

} // namespace velm::fuzz
