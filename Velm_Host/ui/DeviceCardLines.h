#pragma once

#include "Velm_Host/core/PairedDevice.h"
#include "Velm_Host/session/HostSession.h"
#include "Velm_Host/ui/DateTexts.h"
#include "Velm_Host/ui/DeviceCardsState.h"
#include "platform/core/Date.h"

#include <array>
#include <optional>
#include <string>

namespace velm {

// The texts of one device's card, decided from plain values.
struct DeviceCardLines {
    struct AwayLine {
        std::string text;
        // Shown in orange: the device cannot come from away as things stand.
        bool isWarning = false;

        friend bool operator==(const AwayLine&, const AwayLine&) = default;
    };

    // The idle time-outs offered, in seconds; none first.
    static constexpr std::array<std::optional<double>, 5> idleTimeoutChoices{std::nullopt, 900, 1800, 3600,
                                                                             14400};

    std::string name;
    bool isLive = false;
    // What the live session shows, else when the device was last seen.
    std::string status;
    std::optional<std::string> modelName;
    std::optional<AwayLine> away;
    std::string policy;

    static DeviceCardLines of(const PairedDevice& device, const DeviceCardsState& state, Date now,
                              const DateTexts& dates);

    // "2732 × 2048 · 60 FPS · away", "Paused while Velm is in the background", "Connected".
    static std::string liveText(const HostSession::Snapshot& live);
    // "Last connected yesterday", or "Paired 3 days ago" for a device that never connected.
    static std::string datesText(const PairedDevice& device, Date now, const DateTexts& dates);
    // Nothing unless both remote and away access are on, and nothing for a device whose away access
    // never lapses.
    static std::optional<AwayLine> awayText(const PairedDevice& device, const DeviceCardsState& state,
                                            Date now, const DateTexts& dates);
    // "Disconnects after 15 min idle · curtain"; the curtain only where it would cover a screen.
    static std::string policyText(const PairedDevice& device, bool curtainCovers);
    // "Never" for no time-out (none, zero or less, or not a number); whole hours from an hour
    // up ("1 h" for 90 minutes), else whole minutes, else whole seconds rounded up, so that a short
    // time-out never reads as none.
    static std::string idleTimeoutText(std::optional<double> seconds);
    // The choice a stored time-out selects: nothing when it is none of them.
    static std::optional<std::size_t> idleTimeoutChoice(std::optional<double> seconds);
};

} // namespace velm
