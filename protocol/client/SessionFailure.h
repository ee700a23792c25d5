#pragma once

#include <cstdint>
#include <string_view>

namespace velm {

// Why the client's session with a host failed, as the client explains it to its user.
enum class SessionFailure : std::uint8_t {
    authenticationFailed,
    hostUnreachable,
    protocolMismatch,
    remoteAccessDisabled,
    replacedByNewSession,
    connectionLost,
    awayRefused,
    awayNotConfirmed,
    awayNeedsPasscode,
    awayExpired,
    awayKeyRequired,
    awaySigningFailed,
    awayKeyReplaced,
    idleTimeout,
    notConfirmed,
};

// The one line the client shows for the failure.
std::string_view message(SessionFailure failure);

} // namespace velm
