#pragma once

#include "Velm_Host/session/SessionCurtain.h"

namespace velm {

// The curtain of a host that has none to raise: never available, never up.
class UnavailableCurtain final : public SessionCurtain {
public:
    CurtainState state() override { return {.available = false, .on = false}; }
    CurtainState set(bool) override { return state(); }
    void sessionEnded(bool) override {}
};

} // namespace velm
