#pragma once

#include "protocol/json/RawEnum.h"

#include <array>
#include <string_view>

namespace velm {

// The video codec of a stream; travels as its raw value.
enum class VideoCodec {
    hevc,
};

template <> struct RawValues<VideoCodec> {
    static constexpr std::string_view typeName = "VideoCodec";
    static constexpr std::array<std::string_view, 1> names{"hevc"};
};

} // namespace velm
