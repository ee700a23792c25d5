#include "transport/away/router/HttpUrl.h"

#include "platform/core/Digits.h"

#include <algorithm>
#include <cctype>

namespace velm {
namespace {

bool isSchemeChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
}

bool isHostChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_' || c == '~';
}

std::optional<std::uint16_t> parsePort(std::string_view digits) {
    const auto value = Digits::parse(digits, 10, 5);
    if (!value || *value == 0 || *value > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(*value);
}

} // namespace

bool HttpUrl::isSafeTarget(std::string_view path) {
    return std::all_of(path.begin(), path.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

std::optional<HttpUrl> HttpUrl::parse(std::string_view text) {
    HttpUrl url;
    std::string_view rest = text;
    if (!rest.starts_with("//")) {
        const auto colon = rest.find("://");
        if (colon == std::string_view::npos || colon == 0) {
            return std::nullopt;
        }
        const std::string_view scheme = rest.substr(0, colon);
        if (!std::isalpha(static_cast<unsigned char>(scheme.front())) ||
            !std::all_of(scheme.begin(), scheme.end(), isSchemeChar)) {
            return std::nullopt;
        }
        std::transform(scheme.begin(), scheme.end(), std::back_inserter(url.scheme),
                       [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
        rest.remove_prefix(colon + 1);
    }
    rest.remove_prefix(2);

    const auto authorityEnd = rest.find_first_of("/?#");
    const std::string_view authority = rest.substr(0, authorityEnd);
    rest = authorityEnd == std::string_view::npos ? std::string_view() : rest.substr(authorityEnd);

    std::string_view host = authority;
    const auto portColon = authority.rfind(':');
    if (portColon != std::string_view::npos) {
        host = authority.substr(0, portColon);
        const std::string_view port = authority.substr(portColon + 1);
        if (!port.empty()) {
            url.port = parsePort(port);
            if (!url.port) {
                return std::nullopt;
            }
        }
    }
    if (host.empty() || !std::all_of(host.begin(), host.end(), isHostChar)) {
        return std::nullopt;
    }
    url.host = std::string(host);

    const std::string_view path = rest.substr(0, rest.find_first_of("?#"));
    if (!isSafeTarget(rest)) {
        return std::nullopt;
    }
    url.path = std::string(path);
    return url;
}

} // namespace velm
