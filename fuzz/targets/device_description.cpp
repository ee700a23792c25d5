// Router device descriptions: the service chosen and the gateway made of it. A control path must
// be fit for a request line.
#include "fuzz/Target.h"
#include "transport/away/router/HttpResponse.h"
#include "transport/away/router/HttpUrl.h"
#include "transport/away/router/RouterDiscovery.h"

#include <cstdlib>

namespace velm::fuzz {

std::vector<Bytes> seeds() {
    const std::string service =
        "<service><serviceType>urn:schemas-upnp-org:service:WANIPConnection:1</serviceType>"
        "<controlURL>/ctl/IPConn</controlURL></service>";
    return {
        toBytes("<?xml version=\"1.0\"?><root><device><serviceList>" + service +
                "</serviceList></device></root>"),
        toBytes("<root><serviceList><service><serviceType>urn:schemas-upnp-org:service:WANPPPConnection:1"
                "</serviceType><controlURL>http://[fe80::1]:5000/ppp?x</controlURL></service></serviceList>"
                "</root>")};
}

void fuzzOne(const std::uint8_t* data, std::size_t size) {
    const std::string description(reinterpret_cast<const char*>(data), size);
    const auto service = RouterDiscovery::chooseService(description);
    if (service && (!service->controlPath.starts_with("/") || !HttpUrl::isSafeTarget(service->controlPath))) {
        std::abort();
    }
    HttpUrl location{"http", "127.0.0.1", 5000, "/rootDesc.xml"};
    RouterDiscovery::gateway(location, HttpResponse{200, Bytes(data, data + size)});
}

} // namespace velm::fuzz
