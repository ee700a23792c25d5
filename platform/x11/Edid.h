#pragma once

#include "platform/core/Bytes.h"

#include <cstdint>
#include <optional>
#include <string>

namespace velm {

// What a monitor's EDID base block says about it. The bytes come from the monitor through the X
// server and are checked before anything is read from them.
struct Edid {
    static constexpr std::size_t blockSize = 128;

    // The manufacturer's number (bytes 8 and 9, big-endian).
    std::uint16_t vendor = 0;
    // The monitor name descriptor, printable ASCII only, trimmed; empty when there is none.
    std::string productName;

    // Nothing unless the bytes start with a whole base block with the right header and checksum.
    static std::optional<Edid> parse(ByteView bytes);
};

} // namespace velm
