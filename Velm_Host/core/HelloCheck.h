#pragma once

#include "Velm_Host/core/PairedDevice.h"

#include <optional>

namespace velm {

// What the registry found of a client's hello: whether its proof shows that the device holds
// the key it was paired with, inside this very TLS session.
struct HelloCheck {
    enum class Outcome {
        admitted,
        notPaired,      // no device of that identifier
        noProof,        // the hello carries no proof, or the connection offers no session binding
        keyDidNotMatch, // the proof is not the one of the paired key
    };

    Outcome outcome = Outcome::notPaired;
    std::optional<PairedDevice> device; // the paired device, whenever there is one
};

} // namespace velm
