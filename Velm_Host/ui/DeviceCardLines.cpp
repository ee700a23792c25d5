#include "Velm_Host/ui/DeviceCardLines.h"

#include "Velm_Host/ui/InlineName.h"

#include <algorithm>
#include <cmath>

namespace velm {
namespace {

// A time-out long enough to read in hours is shown as at most this many.
constexpr double maxHoursShown = 1e9;

bool hasTimeout(std::optional<double> seconds) {
    return seconds && std::isfinite(*seconds) && *seconds > 0;
}

std::string whole(double value) {
    return std::to_string(static_cast<std::int64_t>(value));
}

} // namespace

DeviceCardLines DeviceCardLines::of(const PairedDevice& device, const DeviceCardsState& state, Date now,
                                    const DateTexts& dates) {
    DeviceCardLines lines;
    lines.name = inlineName(device.name);
    lines.isLive = state.isLive(device.id);
    lines.status = lines.isLive ? liveText(*state.live) : datesText(device, now, dates);
    if (device.model) {
        // The device names its own model, as it names itself.
        lines.modelName = inlineName(device.model->displayName());
    }
    lines.away = awayText(device, state, now, dates);
    lines.policy = policyText(device, state.curtainCovers);
    return lines;
}

std::string DeviceCardLines::liveText(const HostSession::Snapshot& live) {
    if (live.isPaused) {
        return "Paused while Velm is in the background";
    }
    if (live.stream) {
        std::string text = std::to_string(live.stream->pixelWidth) + " × " +
                           std::to_string(live.stream->pixelHeight) + " · " +
                           std::to_string(live.stream->fps) + " FPS";
        if (live.stream->isTestPattern) {
            text += " · test";
        }
        if (live.isAway) {
            text += " · away";
        }
        return text;
    }
    return live.isAway ? "Connected from elsewhere" : "Connected";
}

std::string DeviceCardLines::datesText(const PairedDevice& device, Date now, const DateTexts& dates) {
    // A date ahead of the clock (set back since, or another computer's) has only just happened as far
    // as this clock can tell; "in 3 hours" cannot follow "Last connected".
    const auto past = [&](Date date) { return dates.relative(std::min(date, now), now); };
    if (device.lastConnected) {
        return "Last connected " + past(*device.lastConnected);
    }
    return "Paired " + past(device.pairedAt);
}

std::optional<DeviceCardLines::AwayLine> DeviceCardLines::awayText(const PairedDevice& device,
                                                                   const DeviceCardsState& state, Date now,
                                                                   const DateTexts& dates) {
    if (!state.allowAwayAccess || !state.allowRemoteAccess) {
        return std::nullopt;
    }
    if (!device.awayPublicKey) {
        return AwayLine{state.allowsAwayWithoutDeviceKey ? "No away key yet" : "Needs away key", true};
    }
    const auto end = state.awayEnd(device.id);
    if (!end) {
        return std::nullopt;
    }
    if (*end > now) {
        return AwayLine{"Away until " + dates.monthAndDay(*end), false};
    }
    return AwayLine{"Away access lapsed: connect at home", true};
}

std::string DeviceCardLines::policyText(const PairedDevice& device, bool curtainCovers) {
    std::string text = hasTimeout(device.idleTimeout)
                           ? "Disconnects after " + idleTimeoutText(device.idleTimeout) + " idle"
                           : "Never disconnected for being idle";
    if (device.curtain.value_or(false) && curtainCovers) {
        text += " · curtain";
    }
    return text;
}

std::string DeviceCardLines::idleTimeoutText(std::optional<double> seconds) {
    if (!hasTimeout(seconds)) {
        return "Never";
    }
    const double minutes = std::floor(*seconds / 60);
    if (minutes > 59) {
        return whole(std::min(std::floor(minutes / 60), maxHoursShown)) + " h";
    }
    const double shownSeconds = std::ceil(*seconds);
    if (minutes >= 1 || shownSeconds >= 60) {
        return whole(std::max(minutes, 1.0)) + " min";
    }
    return whole(shownSeconds) + " s";
}

std::optional<std::size_t> DeviceCardLines::idleTimeoutChoice(std::optional<double> seconds) {
    const bool none = !hasTimeout(seconds);
    for (std::size_t index = 0; index < idleTimeoutChoices.size(); ++index) {
        const auto& choice = idleTimeoutChoices[index];
        if (none ? !choice.has_value() : choice.has_value() && *choice == seconds.value_or(0)) {
            return index;
        }
    }
    return std::nullopt;
}

} // namespace velm
