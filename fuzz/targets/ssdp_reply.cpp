// SSDP answers from anyone on the network: the location they give, and the description URL made of it.
#include "fuzz/Target.h"
#include "transport/away/router/HttpUrl.h"
#include "transport/away/router/RouterDiscovery.h"
#include "transport/away/router/SsdpSearch.h"

#include <cstdlib>

namespace velm::fuzz {

std::vector<Bytes> seeds() {
    return {
        toBytes("HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=120\r\n"
                "ST: urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n"
                "LOCATION: http://192.168.1.1:5000/rootDesc.xml\r\nSERVER: Router UPnP/1.1\r\n\r\n"),
        toBytes(SsdpSearch::request(SsdpSearch::searchTargets[0])),
        toBytes("HTTP/1.1 200 OK\r\nST: InternetGatewayDevice\r\nlocation:\t//[fe80::1]:80/d.xml\t\r\n\r\n")};
}

void fuzzOne(const std::uint8_t* data, std::size_t size) {
    const auto location = SsdpSearch::location(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!location) {
        return;
    }
    const auto url = RouterDiscovery::descriptionUrl(*location);
    // What goes into a request line and a Host header must be safe there.
    if (url.ok() && (!HttpUrl::isSafeTarget(url.value().path) || !HttpUrl::isSafeTarget(url.value().host) ||
                     url.value().host.empty())) {
        std::abort();
    }
}

} // namespace velm::fuzz
