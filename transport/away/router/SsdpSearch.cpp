#include "transport/away/router/SsdpSearch.h"

#include "platform/core/Utf8.h"
#include "platform/net/IpAddress.h"
#include "platform/net/UdpSocket.h"

#include <algorithm>
#include <cctype>

namespace velm {
namespace {

std::string lowered(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return lower;
}

} // namespace

std::string SsdpSearch::request(std::string_view searchTarget) {
    std::string text =
        "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: 1\r\nST: ";
    text += searchTarget;
    text += "\r\n\r\n";
    return text;
}

std::optional<std::string> SsdpSearch::location(std::string_view answer) {
    if (lowered(answer).find("internetgatewaydevice") == std::string::npos) {
        return std::nullopt;
    }
    std::string_view rest = answer;
    while (true) {
        const auto end = rest.find("\r\n");
        const std::string_view line = rest.substr(0, end);
        if (line.size() >= 9 && lowered(line.substr(0, 9)) == "location:") {
            std::string_view value = line.substr(9);
            const auto first = value.find_first_not_of(" \t");
            if (first == std::string_view::npos) {
                return std::string();
            }
            value = value.substr(first, value.find_last_not_of(" \t") - first + 1);
            return std::string(value);
        }
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        rest.remove_prefix(end + 2);
    }
}

std::optional<std::string> SsdpSearch::run(Clock::duration timeout) const {
    const std::optional<IpAddress> address = IpAddress::parse(options_.address);
    if (!address || !address->isIpv4()) {
        return std::nullopt;
    }
    std::optional<UdpSocket> socket = UdpSocket::plain(IpAddress::Family::ipv4);
    if (!socket) {
        return std::nullopt;
    }
    for (const auto target : searchTargets) {
        // A failed send is not fatal: the other target or a late answer may still do.
        socket->sendTo(toBytes(request(target)), {*address, options_.port});
    }

    const auto deadline = Clock::now() + timeout;
    for (auto now = Clock::now(); now < deadline; now = Clock::now()) {
        const auto answer = socket->receiveWithin(receiveBufferSize, std::min(options_.wait, deadline - now));
        if (!answer) {
            continue;
        }
        if (auto found = location(Utf8::repaired(toString(answer->bytes)))) {
            return found;
        }
    }
    return std::nullopt;
}

} // namespace velm
