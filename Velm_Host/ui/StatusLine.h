#pragma once

#include "Velm_Host/ui/HostStatus.h"
#include "Velm_Host/ui/Tint.h"

#include <optional>
#include <string>

namespace velm {

// The one line at the top of the main window that says how the host stands, and its tint.
struct StatusLine {
    // What away access adds to the line, when anything.
    struct AwayText {
        std::optional<std::string> text{};
        bool isWarning = false;

        friend bool operator==(const AwayText&, const AwayText&) = default;
    };

    std::string text;
    Tint tint = Tint::secondary;

    // Remote access off, then a live session, then missing permissions, then the listener decide the
    // line; away access adds its say after " · away: ", and a warning of its own turns green orange.
    static StatusLine of(const HostStatus& status);
    static AwayText awayText(const HostStatus& status);

    friend bool operator==(const StatusLine&, const StatusLine&) = default;

private:
    static StatusLine base(const HostStatus& status);
    static std::string sessionText(const HostSession::Snapshot& session);
};

} // namespace velm
