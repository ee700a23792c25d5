#include "protocol/FrameParser.h"

#include <algorithm>
#include <array>

namespace velm {
namespace {

constexpr std::size_t headerSize = 4;
// A reassembly buffer that grew beyond this for a rare large frame is given back.
constexpr std::size_t keptCapacity = 512u << 10;

std::uint32_t lengthAt(const std::uint8_t* header) {
    return std::uint32_t{header[0]} << 24 | std::uint32_t{header[1]} << 16 | std::uint32_t{header[2]} << 8 |
           std::uint32_t{header[3]};
}

bool inRange(std::uint32_t length) {
    return length >= 1 && length <= ChannelFrame::maxLength;
}

} // namespace

std::vector<ChannelFrame> FrameParser::feed(ByteView bytes) {
    std::vector<ChannelFrame> frames;
    feed(bytes, [&frames](const FrameView& frame) {
        frames.push_back({frame.channel, Bytes(frame.payload.begin(), frame.payload.end())});
    });
    return frames;
}

void FrameParser::feed(ByteView bytes, const OnFrame& onFrame) {
    if (failure_) {
        throw *failure_;
    }
    check(bytes);
    std::size_t at = partial_.empty() ? 0 : complete(bytes, onFrame);
    if (!partial_.empty()) {
        return; // every new byte went into the partial frame
    }
    while (bytes.size() - at >= headerSize) {
        const std::size_t frameSize = headerSize + lengthAt(bytes.data() + at);
        if (bytes.size() - at < frameSize) {
            partial_.reserve(frameSize);
            break;
        }
        onFrame(FrameView{bytes[at + headerSize],
                          bytes.subspan(at + headerSize + 1, frameSize - headerSize - 1)});
        at += frameSize;
    }
    partial_.insert(partial_.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.end());
}

void FrameParser::check(ByteView bytes) {
    std::size_t at = 0;
    if (!partial_.empty()) {
        if (partial_.size() >= headerSize) {
            const std::size_t missing = headerSize + lengthAt(partial_.data()) - partial_.size();
            if (bytes.size() <= missing) {
                return;
            }
            at = missing;
        } else {
            const std::size_t fromPartial = partial_.size();
            if (fromPartial + bytes.size() < headerSize) {
                return;
            }
            std::array<std::uint8_t, headerSize> header{};
            std::copy_n(partial_.begin(), fromPartial, header.begin());
            std::copy_n(bytes.begin(), headerSize - fromPartial, header.begin() + fromPartial);
            const std::uint32_t length = lengthAt(header.data());
            if (!inRange(length)) {
                fail(length);
            }
            at = headerSize - fromPartial + length;
        }
    }
    while (at < bytes.size() && bytes.size() - at >= headerSize) {
        const std::uint32_t length = lengthAt(bytes.data() + at);
        if (!inRange(length)) {
            fail(length);
        }
        at += headerSize + length;
    }
}

std::size_t FrameParser::complete(ByteView bytes, const OnFrame& onFrame) {
    std::size_t taken = 0;
    if (partial_.size() < headerSize) {
        taken = std::min(headerSize - partial_.size(), bytes.size());
        partial_.insert(partial_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(taken));
        if (partial_.size() < headerSize) {
            return taken;
        }
        partial_.reserve(headerSize + lengthAt(partial_.data()));
    }
    const std::size_t frameSize = headerSize + lengthAt(partial_.data());
    const std::size_t more = std::min(frameSize - partial_.size(), bytes.size() - taken);
    const auto from = bytes.begin() + static_cast<std::ptrdiff_t>(taken);
    partial_.insert(partial_.end(), from, from + static_cast<std::ptrdiff_t>(more));
    taken += more;
    if (partial_.size() < frameSize) {
        return taken;
    }
    onFrame(FrameView{partial_[headerSize], ByteView(partial_).subspan(headerSize + 1)});
    if (partial_.capacity() > keptCapacity) {
        Bytes().swap(partial_);
    } else {
        partial_.clear();
    }
    return taken;
}

void FrameParser::fail(std::uint32_t length) {
    failure_ = WireError::frameTooLarge(length);
    throw *failure_;
}

} // namespace velm
