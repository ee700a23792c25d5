#pragma once

#include "Velm_Host/session/HostSession.h"
#include "transport/discovery/HostListener.h"

#include <optional>

namespace velm {

// Where away access stands, as the status line tells it. The main window maps the away service's
// status onto it; the router's address does not show.
enum class AwayState {
    off,
    looking,
    ready,
    notReachable, // the router itself sits behind another address translation
    noRouter,
    routerRefused,
};

// What decides whether the computer comes back by itself after a restart. A setting that cannot
// be read here (no display manager, firmware settings) is unknown, and nothing asks the user to
// fix what nobody can see.
struct RestartState {
    bool opensAtLogin = true;
    std::optional<bool> logsInAutomatically{};
    std::optional<bool> startsAfterPowerFailure{};

    friend bool operator==(const RestartState&, const RestartState&) = default;
};

// The host model's published fields that the status row and the needs-attention rows show, as plain
// values, so the views depend on nothing but what they display.
struct HostStatus {
    bool allowRemoteAccess = true;
    bool screenRecordingGranted = true;
    bool accessibilityGranted = true;
    HostListener::State listenerState = HostListener::State::stopped();
    std::optional<HostSession::Snapshot> connected{};
    bool allowAwayAccess = false;
    AwayState awayStatus = AwayState::off;
    bool noticesAllowed = true;
    RestartState restartReadiness{};

    friend bool operator==(const HostStatus&, const HostStatus&) = default;
};

} // namespace velm
