#pragma once

#include "Velm_Host/HostModel.h"
#include "platform/core/Date.h"

#include <string>
#include <vector>

namespace velm {

// What a person running the host without a window is told: one line for each change worth knowing
// (the listener, the pairing window and its code, sessions), measured against what was told before.
// A listener starting again on its port is no news.
class StateReport {
public:
    // The lines for `state`, which becomes what was told.
    std::vector<std::string> update(const HostModel::State& state, Date now);

    // A pairing code as people read it: "123 456".
    static std::string groupedCode(const std::string& code);

private:
    HostListener::State listener_ = HostListener::State::stopped();
    std::optional<PairingWindow> pairingWindow_;
    std::optional<HostSession::Snapshot> connected_;
};

} // namespace velm
