#pragma once

#include "Velm_Host/session/SessionCurtain.h"

namespace velm {

// The curtain of a host that has none to raise: never available, never up.
class UnavailableCurtain final : public SessionCurtain {
public:
    CurtainState raise(bool) override { return {.available = false, .on = false}; }
    CurtainState set(bool) override { return raise(false); }
    void sessionEnded(bool) override {}
    bool coversScreens() override { return false; }
};

} // namespace velm
