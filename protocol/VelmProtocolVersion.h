#pragma once

#include <cstdint>

namespace velm {

// The protocol version both hellos carry. A host admits a session only when the client's hello
// carries exactly this version.
struct VelmProtocolVersion {
    static constexpr std::int64_t current = 1;
};

} // namespace velm
