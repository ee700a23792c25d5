#pragma once

#include "Velm_Host/curtain/Curtain.h"

#include <memory>

namespace velm {

// The curtain made of this desktop's parts: shields and device grabs on the X display, its list of
// screens, and the screen lock asked for on the system and session buses.
struct X11Curtain {
    static std::shared_ptr<Curtain> forDesktop();
};

} // namespace velm
