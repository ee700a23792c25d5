#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace velm {

// A screen attached to this computer, as far as its picture cares: who made it and what it is
// called. The host lists them from the display server in its own order.
struct AttachedScreen {
    // The vendor number from the screen's identification data; absent when the screen tells
    // none (a virtual or unidentified screen).
    std::optional<std::uint32_t> vendor;
    std::string name;
};

} // namespace velm
