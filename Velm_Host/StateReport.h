#pragma once

#include "Velm_Host/model/HostModel.h"
#include "platform/core/Date.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velm {

// What a person running the host without a window is told: one line for each change worth knowing
// (the listener, whether devices find the host on the network, the pairing window and its code,
// sessions), measured against what was told before.
// A listener starting again on its port is no news. Names that devices gave are shown on one line of
// plain text whatever they hold, so that no device can write a line of its own.
class StateReport {
public:
    // The lines for `state`, which becomes what was told.
    std::vector<std::string> update(const HostModel::State& state, Date now);

    // The line for a notice.
    static std::string line(const HostNotice& notice);

    // A pairing code as people read it: "123 456".
    static std::string groupedCode(const std::string& code);
    // A size as people read it: "512 bytes", "2.4 MB".
    static std::string size(std::uint64_t bytes);

private:
    HostListener::State listener_ = HostListener::State::stopped();
    std::optional<ServicePublisher::State> advertisement_;
    std::optional<PairingWindow> pairingWindow_;
    std::optional<HostSession::Snapshot> connected_;
};

} // namespace velm
