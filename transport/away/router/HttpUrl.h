#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velm {

// An absolute URL from a router's answer ("http://192.168.1.1:5000/rootDesc.xml"),
// checked so that its parts can go into a request line and a Host header:
// host names and paths with spaces, control characters or bytes outside
// printable ASCII are refused. Query and fragment are dropped.
struct HttpUrl {
    std::string scheme;                // lower case
    std::string host;                  // a name or dotted address; bracketed IPv6 is not accepted
    std::optional<std::uint16_t> port; // absent when the URL names none
    std::string path;                  // empty or beginning with "/"

    // Accepts "scheme://authority[path][?query][#fragment]" and the
    // scheme-relative "//authority[path]...".
    static std::optional<HttpUrl> parse(std::string_view text);

    // True when every character may stand in a request target: printable ASCII
    // other than the space.
    static bool isSafeTarget(std::string_view path);
};

} // namespace velm
