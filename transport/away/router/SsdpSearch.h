#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace velm {

// The SSDP search for the home router's Internet Gateway Device: one M-SEARCH
// datagram per search target to the SSDP group, then the LOCATION of the first
// answer that names an Internet Gateway Device. Blocks its thread for up to the
// time limit.
class SsdpSearch {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::string_view groupAddress = "239.255.255.250";
    static constexpr std::uint16_t groupPort = 1900;
    static constexpr std::array<std::string_view, 2> searchTargets = {
        "urn:schemas-upnp-org:device:InternetGatewayDevice:1",
        "urn:schemas-upnp-org:device:InternetGatewayDevice:2",
    };
    static constexpr std::size_t receiveBufferSize = 2048;

    struct Options {
        // Where the search goes: the SSDP group, or a unicast responder in tests.
        std::string address = std::string(groupAddress);
        std::uint16_t port = groupPort;
        // The longest single wait for an answer before the deadline is checked again.
        Clock::duration wait = std::chrono::milliseconds(250);
    };

    SsdpSearch() = default;
    explicit SsdpSearch(Options options) : options_(std::move(options)) {}

    // The LOCATION text of the first fitting answer, or nothing when none
    // arrives within the time limit or the socket cannot be opened.
    std::optional<std::string> run(Clock::duration timeout) const;

    // The search datagram for one search target.
    static std::string request(std::string_view searchTarget);

    // The LOCATION of an answer that mentions "InternetGatewayDevice" (in any
    // case), trimmed of spaces and tabs; nothing for any other answer.
    static std::optional<std::string> location(std::string_view answer);

private:
    Options options_;
};

} // namespace velm
