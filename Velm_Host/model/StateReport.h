#pragma once

#include "Velm_Host/HostModel.h"
#include "platform/core/Date.h"

#include <string>
#include <vector>

namespace velm {

// What a person running the host without a window is told: one line for each change worth knowing
// between two states of the model (the listener, the pairing window and its code, sessions).
std::vector<std::string> stateReport(const HostModel::State& before, const HostModel::State& after, Date now);

// A pairing code as people read it: "123 456".
std::string groupedCode(const std::string& code);

} // namespace velm
