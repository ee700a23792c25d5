#include "transport/away/router/SsdpSearch.h"

#include "platform/core/Utf8.h"
#include "platform/net/UdpSocket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

namespace velm {
namespace {

std::string lowered(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return lower;
}

void setReceiveTimeout(int fd, SsdpSearch::Clock::duration wait) {
    const auto micros =
        std::max<std::int64_t>(1, std::chrono::duration_cast<std::chrono::microseconds>(wait).count());
    timeval timeout{};
    timeout.tv_sec = static_cast<time_t>(micros / 1000000);
    timeout.tv_usec = static_cast<suseconds_t>(micros % 1000000);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
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
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(options_.port);
    if (::inet_pton(AF_INET, options_.address.c_str(), &destination.sin_addr) != 1) {
        return std::nullopt;
    }
    auto socket = UdpSocket::open();
    if (!socket) {
        return std::nullopt;
    }
    for (const auto target : searchTargets) {
        const std::string datagram = request(target);
        // A failed send is not fatal: the other target or a late answer may still do.
        ::sendto(socket->fd(), datagram.data(), datagram.size(), MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
    }

    const auto deadline = Clock::now() + timeout;
    std::array<std::uint8_t, receiveBufferSize> buffer{};
    for (auto now = Clock::now(); now < deadline; now = Clock::now()) {
        setReceiveTimeout(socket->fd(), std::min(options_.wait, deadline - now));
        const ssize_t received = ::recv(socket->fd(), buffer.data(), buffer.size(), 0);
        if (received <= 0) {
            continue;
        }
        const std::string answer =
            Utf8::repaired(toString(ByteView(buffer.data(), static_cast<std::size_t>(received))));
        if (auto found = location(answer)) {
            return found;
        }
    }
    return std::nullopt;
}

} // namespace velm
