#include "Velm_Host/model/StateReport.h"

#include <algorithm>
#include <cmath>

namespace velm {
namespace {

using Kind = HostListener::State::Kind;

void reportListener(const HostListener::State& before, const HostListener::State& after,
                    std::vector<std::string>& lines) {
    if (before == after) {
        return;
    }
    switch (after.kind()) {
    case Kind::advertising:
        lines.push_back("listening on port " + std::to_string(after.port()));
        break;
    case Kind::failed:
        lines.push_back("not listening: " + after.message());
        break;
    case Kind::stopped:
        lines.push_back("not listening");
        break;
    case Kind::starting:
        break;
    }
}

void reportPairing(const std::optional<PairingWindow>& before, const std::optional<PairingWindow>& after,
                   Date now, std::vector<std::string>& lines) {
    if (after && (!before || before->code != after->code)) {
        std::string line = "pairing code " + StateReport::groupedCode(after->code);
        if (after->expires) {
            // A window never lasts longer than this; the bound keeps the conversion defined.
            constexpr double longest = 1e9;
            double left = std::ceil(after->expires->secondsSince(now));
            left = left > 0 ? std::min(left, longest) : 0;
            line += ", " + std::to_string(static_cast<long>(left)) + " s left";
        }
        lines.push_back(line);
    } else if (before && !after) {
        lines.push_back("pairing window closed");
    }
}

void reportSession(const std::optional<HostSession::Snapshot>& before,
                   const std::optional<HostSession::Snapshot>& after, std::vector<std::string>& lines) {
    const bool same = before && after && before->deviceID == after->deviceID;
    if (before && !same) {
        lines.push_back("session ended: " + before->deviceName);
    }
    if (after && !same) {
        lines.push_back("session started: " + after->deviceName +
                        (after->from ? " from " + *after->from : ""));
    }
}

} // namespace

std::vector<std::string> StateReport::update(const HostModel::State& state, Date now) {
    std::vector<std::string> lines;
    if (state.listenerState.kind() != Kind::starting) {
        reportListener(listener_, state.listenerState, lines);
        listener_ = state.listenerState;
    }
    reportPairing(pairingWindow_, state.pairingWindow, now, lines);
    pairingWindow_ = state.pairingWindow;
    reportSession(connected_, state.connected, lines);
    connected_ = state.connected;
    return lines;
}

std::string StateReport::groupedCode(const std::string& code) {
    if (code.size() != 6) {
        return code;
    }
    return code.substr(0, 3) + " " + code.substr(3);
}

} // namespace velm
