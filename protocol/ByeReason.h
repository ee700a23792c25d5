#pragma once

#include "protocol/json/RawEnum.h"

#include <array>
#include <string_view>

namespace velm {

struct ClientHello;

// Why a session ends; sent with the goodbye and travelling as its raw value, the case name.
enum class ByeReason {
    userDisconnected,
    replacedByNewSession,
    remoteAccessDisabled, // also what a client that does not understand the policy reasons receives
    protocolMismatch,
    hostQuit,
    notPaired,
    poweringOff,
    awayKeyRequired,
    idleTimeout,
};

template <> struct RawValues<ByeReason> {
    static constexpr std::string_view typeName = "ByeReason";
    static constexpr std::array<std::string_view, 9> names{
        "userDisconnected", "replacedByNewSession", "remoteAccessDisabled", "protocolMismatch", "hostQuit",
        "notPaired",        "poweringOff",          "awayKeyRequired",      "idleTimeout",
    };
};

// The reason to send to the client that sent `hello`: the policy reasons awayKeyRequired and
// idleTimeout reach only a client that declared it understands them; any other client gets
// remoteAccessDisabled in their place. Every other reason is sent unchanged.
ByeReason adapted(const ClientHello& hello, ByeReason reason);

} // namespace velm
