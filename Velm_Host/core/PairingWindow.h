#pragma once

#include "platform/core/Date.h"

#include <chrono>
#include <optional>
#include <string>

namespace velm {

// An open chance to pair: while it lasts the host also admits the TLS key derived from the code.
struct PairingWindow {
    // A window opened from the main window.
    static constexpr std::chrono::seconds standardDuration{120};
    static constexpr int standardWrongTries = 5;
    // A code carried over from an earlier version: it has no end, and more tries.
    static constexpr int carriedOverWrongTries = 20;

    std::string code;
    std::optional<Date> expires; // absent for a carried-over code
    int wrongTriesLeft = 0;
    bool reusable = false; // stays open after a successful pairing

    friend bool operator==(const PairingWindow&, const PairingWindow&) = default;
};

} // namespace velm
