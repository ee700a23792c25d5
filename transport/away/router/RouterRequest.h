#pragma once

#include "transport/away/router/PortMapperGateway.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velm {

// Ordered (name, value) pairs of a SOAP action.
using SoapArguments = std::vector<std::pair<std::string, std::string>>;

// The two requests the router client sends: the description GET and the SOAP
// POST. One request per connection, so both say "Connection: close".
struct RouterRequest {
    // The Host header always carries the port, 80 included.
    static std::string get(std::string_view path, std::string_view host, std::uint16_t port);

    static std::string soap(std::string_view action, const SoapArguments& arguments,
                            const PortMapperGateway& gateway);

    // Escapes "&", "<" and ">" in an argument value; quotes are left alone.
    static std::string escape(std::string_view value);
};

} // namespace velm
