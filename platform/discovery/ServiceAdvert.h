#pragma once

#include "platform/discovery/TxtRecord.h"

#include <cstdint>
#include <string>

namespace velm {

// What a publisher announces on the local network.
struct ServiceAdvert {
    // The instance name wanted. It ends at a NUL; names longer than the 63 bytes a DNS label holds
    // are cut on a character boundary; one already taken is replaced by a free one ("Office Mac #2").
    std::string name;
    std::string type; // "_velm._tcp"
    std::uint16_t port = 0;
    TxtRecord txt;

    bool operator==(const ServiceAdvert&) const = default;
};

} // namespace velm
