#include "protocol/FrameParser.h"

#include <algorithm>
#include <utility>

namespace velm {

std::vector<ChannelFrame> FrameParser::feed(ByteView bytes) {
    if (failure_) {
        throw *failure_;
    }
    std::vector<ChannelFrame> frames;
    std::size_t at = 0;
    while (true) {
        switch (stage_) {
        case Stage::length: {
            const std::size_t take = std::min(lengthBytes_.size() - lengthFill_, bytes.size() - at);
            std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), take, lengthBytes_.begin() + lengthFill_);
            at += take;
            lengthFill_ += take;
            if (lengthFill_ < lengthBytes_.size()) {
                return frames;
            }
            length_ = std::uint32_t{lengthBytes_[0]} << 24 | std::uint32_t{lengthBytes_[1]} << 16 |
                      std::uint32_t{lengthBytes_[2]} << 8 | std::uint32_t{lengthBytes_[3]};
            if (length_ == 0 || length_ > ChannelFrame::maxLength) {
                failure_ = WireError::frameTooLarge(length_);
                throw *failure_;
            }
            stage_ = Stage::channel;
            break;
        }
        case Stage::channel:
            if (at == bytes.size()) {
                return frames;
            }
            frame_.channel = bytes[at++];
            frame_.payload.reserve(length_ - 1);
            stage_ = Stage::payload;
            break;
        case Stage::payload: {
            const std::size_t take = std::min(length_ - 1 - frame_.payload.size(), bytes.size() - at);
            const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(at);
            frame_.payload.insert(frame_.payload.end(), first, first + static_cast<std::ptrdiff_t>(take));
            at += take;
            if (frame_.payload.size() < length_ - 1) {
                return frames;
            }
            frames.push_back(std::exchange(frame_, ChannelFrame{}));
            lengthFill_ = 0;
            stage_ = Stage::length;
            break;
        }
        }
    }
}

} // namespace velm
