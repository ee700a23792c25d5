#pragma once

#include <cstdint>
#include <string>
#include <system_error>

namespace velm {

// Why a router operation failed. `refused` carries the router's UPnP error code;
// `network` carries the socket error of a connection that could not be made or
// written, unchanged.
class PortMapperFailure {
public:
    enum class Kind { refused, noGateway, badResponse, network };

    static PortMapperFailure refused(std::int64_t code) { return PortMapperFailure(Kind::refused, code, {}); }
    static PortMapperFailure noGateway() { return PortMapperFailure(Kind::noGateway, 0, {}); }
    static PortMapperFailure badResponse() { return PortMapperFailure(Kind::badResponse, 0, {}); }
    static PortMapperFailure network(std::error_code error) {
        return PortMapperFailure(Kind::network, 0, error);
    }

    Kind kind() const { return kind_; }
    // The UPnP error code of a `refused` failure; 0 for every other kind.
    std::int64_t code() const { return code_; }
    std::error_code networkError() const { return error_; }
    bool isRefused(std::int64_t code) const { return kind_ == Kind::refused && code_ == code; }

    // The form written into log lines, e.g. "refused(code: 718)".
    std::string description() const;

    bool operator==(const PortMapperFailure&) const = default;

private:
    PortMapperFailure(Kind kind, std::int64_t code, std::error_code error)
        : kind_(kind), code_(code), error_(error) {}

    Kind kind_;
    std::int64_t code_;
    std::error_code error_;
};

} // namespace velm
