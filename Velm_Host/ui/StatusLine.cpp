#include "Velm_Host/ui/StatusLine.h"

#include "Velm_Host/ui/InlineName.h"

namespace velm {
namespace {

constexpr std::string_view separator = " · ";

} // namespace

StatusLine StatusLine::of(const HostStatus& status) {
    StatusLine line = base(status);
    if (!status.allowRemoteAccess) {
        return line;
    }
    const AwayText away = awayText(status);
    if (!away.text) {
        return line;
    }
    line.text += " · away: " + *away.text;
    if (away.isWarning && line.tint == Tint::green) {
        line.tint = Tint::orange;
    }
    return line;
}

StatusLine::AwayText StatusLine::awayText(const HostStatus& status) {
    if (!status.allowAwayAccess) {
        // While a device is connected the line is about that session; "off" would read as its state.
        return status.connected ? AwayText{} : AwayText{"off", false};
    }
    switch (status.awayStatus) {
    case AwayState::ready:
        return {};
    case AwayState::notReachable:
        return {"your provider blocks incoming connections", true};
    case AwayState::off:
    case AwayState::looking:
        return {"checking the router…", false};
    case AwayState::noRouter:
        return {"router doesn't answer, turn on UPnP", true};
    case AwayState::routerRefused:
        return {"router refused to open a port", true};
    }
    return {};
}

StatusLine StatusLine::base(const HostStatus& status) {
    if (!status.allowRemoteAccess) {
        return {"Off", Tint::secondary};
    }
    if (status.connected) {
        return {sessionText(*status.connected), Tint::green};
    }
    if (!status.screenRecordingGranted || !status.accessibilityGranted) {
        return {"Needs attention", Tint::orange};
    }
    switch (status.listenerState.kind()) {
    case HostListener::State::Kind::advertising:
        return {"Ready", Tint::green};
    case HostListener::State::Kind::failed:
        return {status.listenerState.message(), Tint::orange};
    case HostListener::State::Kind::starting:
        return {"Starting…", Tint::secondary};
    case HostListener::State::Kind::stopped:
        break;
    }
    return {"Stopped", Tint::secondary};
}

std::string StatusLine::sessionText(const HostSession::Snapshot& session) {
    std::string text = inlineName(session.deviceName) + " connected";
    if (session.isAway) {
        text += " from away";
    }
    if (session.isPaused) {
        text += std::string(separator) + "paused";
    } else if (session.stream) {
        text += std::string(separator) + std::to_string(session.stream->pixelWidth) + " × " +
                std::to_string(session.stream->pixelHeight) + std::string(separator) +
                std::to_string(session.stream->fps) + " fps";
    }
    return text;
}

} // namespace velm
