// The linear tag scanner over router XML. Input: the tag name (a piece), then the text.
#include "fuzz/FuzzInput.h"
#include "fuzz/Target.h"
#include "transport/away/router/TagScanner.h"

#include <cstdlib>

namespace velm::fuzz {

std::vector<Bytes> seeds() {
    return {FuzzScript()
                .piece(toBytes("NewExternalIPAddress"))
                .text("<s:Envelope><s:Body><u:GetExternalIPAddressResponse><NewExternalIPAddress>203.0.113.7"
                      "</NewExternalIPAddress></u:GetExternalIPAddressResponse></s:Body></s:Envelope>")
                .take(),
            FuzzScript()
                .piece(toBytes("errorCode"))
                .text("<UPnPError><errorCode> 718 </errorCode></UPnPError>")
                .take()};
}

void fuzzOne(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput input(data, size);
    const std::string name = toString(input.piece());
    const std::string text = toString(input.rest());
    const auto value = TagScanner::tagValue(name, text);
    if (value && value->size() > text.size()) {
        std::abort();
    }
}

} // namespace velm::fuzz
