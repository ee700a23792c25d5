#pragma once

#include "platform/discovery/ServiceInstance.h"
#include "protocol/DeviceModel.h"

#include <optional>
#include <string>

namespace velm {

// A host found on the local network.
struct DiscoveredHost {
    // The host identifier from the TXT entry "id"; the instance name when the entry is missing.
    std::string id;
    // The instance name the host advertises.
    std::string name;
    // The service as it was found (name, type, domain and interface); an outgoing control channel
    // resolves it to an address.
    ServiceInstance endpoint;
    // From the TXT entries "model" and "modelname"; absent without "model".
    std::optional<DeviceModel> model;

    bool operator==(const DiscoveredHost&) const = default;
};

} // namespace velm
