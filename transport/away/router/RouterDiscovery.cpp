#include "transport/away/router/RouterDiscovery.h"

#include "platform/core/Utf8.h"
#include "platform/net/IpAddress.h"
#include "platform/net/UdpSocket.h"
#include "transport/away/router/TagScanner.h"

#include <vector>

namespace velm {
namespace {

// The text of every "<service>" block, in document order.
std::vector<std::string_view> serviceBlocks(std::string_view description) {
    constexpr std::string_view open = "<service>";
    constexpr std::string_view close = "</service>";
    std::vector<std::string_view> blocks;
    auto at = description.find(open);
    while (at != std::string_view::npos) {
        const auto start = at + open.size();
        const auto next = description.find(open, start);
        std::string_view block =
            description.substr(start, next == std::string_view::npos ? next : next - start);
        blocks.push_back(block.substr(0, block.find(close)));
        at = next;
    }
    return blocks;
}

// The request target for a control URL: the path of an absolute URL, else the
// URL itself; always beginning with "/". Nothing when it could break the
// request line. The path is taken whatever the authority holds (a bracketed
// address, user information, port 0), so the host never reaches the target.
std::optional<std::string> controlPath(const std::string& controlUrl) {
    std::string path = controlUrl;
    const auto scheme = controlUrl.find("://");
    const bool isAbsolute = controlUrl.starts_with("//") ||
                            (scheme != std::string::npos && scheme > 0 && controlUrl.find('/') > scheme);
    if (isAbsolute) {
        const auto authority = controlUrl.find("//") + 2;
        const auto pathStart = std::min(controlUrl.find_first_of("/?#", authority), controlUrl.size());
        path = controlUrl.substr(pathStart, controlUrl.find_first_of("?#", pathStart) - pathStart);
    }
    if (!path.starts_with("/")) {
        path.insert(path.begin(), '/');
    }
    if (!HttpUrl::isSafeTarget(path)) {
        return std::nullopt;
    }
    return path;
}

} // namespace

PortMapperResult<HttpUrl> RouterDiscovery::descriptionUrl(std::string_view location) {
    auto url = HttpUrl::parse(location);
    if (!url || url->scheme != "http") {
        return PortMapperFailure::badResponse();
    }
    // A router answers with its address on the home network, which our own address is then found
    // toward. A name is refused before it is looked up, so an answer can send us nowhere else.
    const std::optional<IpAddress> host = IpAddress::parse(url->host);
    if (!host || !host->isIpv4()) {
        return PortMapperFailure::badResponse();
    }
    if (!url->port) {
        url->port = defaultPort;
    }
    if (url->path.empty()) {
        url->path.push_back('/');
    }
    return *url;
}

PortMapperResult<PortMapperGateway> RouterDiscovery::gateway(const HttpUrl& location,
                                                             const HttpResponse& description) {
    if (description.status != 200) {
        return PortMapperFailure::badResponse();
    }
    const auto service = chooseService(Utf8::repaired(toString(description.body)));
    if (!service) {
        return PortMapperFailure::badResponse();
    }
    auto local = localAddress(location.host);
    if (!local) {
        return PortMapperFailure::badResponse();
    }
    return PortMapperGateway{location.host, location.port.value_or(defaultPort), service->controlPath,
                             service->serviceType, std::move(*local)};
}

std::optional<RouterDiscovery::Service> RouterDiscovery::chooseService(std::string_view description) {
    const auto blocks = serviceBlocks(description);
    for (const auto type : acceptedServices) {
        for (const auto block : blocks) {
            if (TagScanner::tagValue("serviceType", block) != type) {
                continue;
            }
            // Only the first block of a type counts; without a usable control
            // URL the next preferred type is tried.
            const auto url = TagScanner::tagValue("controlURL", block);
            if (url && !url->empty()) {
                if (auto path = controlPath(*url)) {
                    return Service{std::string(type), std::move(*path)};
                }
            }
            break;
        }
    }
    return std::nullopt;
}

std::optional<std::string> RouterDiscovery::localAddress(std::string_view routerAddress) {
    const std::optional<IpAddress> router = IpAddress::parse(routerAddress);
    if (!router || !router->isIpv4()) {
        return std::nullopt;
    }
    // Connecting a UDP socket sends nothing; it only picks the route and so our address.
    const std::optional<UdpSocket> socket = UdpSocket::connected({*router, probePort});
    const std::optional<SocketAddress> own = socket ? socket->localAddress() : std::nullopt;
    if (!own || !own->address.isIpv4()) {
        return std::nullopt;
    }
    return own->address.text();
}

} // namespace velm
