#pragma once

#include "transport/away/router/HttpResponse.h"
#include "transport/away/router/HttpUrl.h"
#include "transport/away/router/PortMapperGateway.h"
#include "transport/away/router/PortMapperResult.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace velm {

// The steps of finding the router that follow the search: reading the
// LOCATION, picking the WAN connection service out of the device description,
// and finding our own address toward the router.
struct RouterDiscovery {
    // Accepted services, most preferred first.
    static constexpr std::array<std::string_view, 3> acceptedServices = {
        "urn:schemas-upnp-org:service:WANIPConnection:2",
        "urn:schemas-upnp-org:service:WANIPConnection:1",
        "urn:schemas-upnp-org:service:WANPPPConnection:1",
    };
    static constexpr std::uint16_t defaultPort = 80;
    // The port of the local-address probe; nothing is ever sent to it.
    static constexpr std::uint16_t probePort = 9;
    // A device description larger than this is refused.
    static constexpr std::size_t descriptionLimit = 256 * 1024;

    struct Service {
        std::string serviceType;
        std::string controlPath;
        bool operator==(const Service&) const = default;
    };

    // Where the description lives: an http URL with a dotted IPv4 address for
    // its host; port 80 and path "/" when the URL names none. Anything else
    // (a host name included) is `badResponse`.
    static PortMapperResult<HttpUrl> descriptionUrl(std::string_view location);

    // The gateway described by the answer to the description request sent to
    // `location`: `badResponse` unless the status is 200, a service fits and
    // our own address toward the host is known.
    static PortMapperResult<PortMapperGateway> gateway(const HttpUrl& location,
                                                       const HttpResponse& description);

    // The first block of the most preferred service type that has a usable
    // control URL. A control URL that names a host gives only its path.
    static std::optional<Service> chooseService(std::string_view description);

    // Our own IPv4 address on the route to `routerAddress` (dotted IPv4 only).
    static std::optional<std::string> localAddress(std::string_view routerAddress);
};

} // namespace velm
