#pragma once

#include "protocol/json/JsonRecord.h"

namespace velm {

// The state of the curtain that hides the host's own screens and input during a session.
struct CurtainState {
    bool available = false; // at least one of the host's own screens is there to be shielded
    bool on = false;        // up and held by this session (a curtain held for another session reads false)

    static void fields(auto& visit, auto&... self) {
        visit("available", self.available...);
        visit("on", self.on...);
    }

    friend bool operator==(const CurtainState& a, const CurtainState& b) { return fieldsEqual(a, b); }
};

} // namespace velm
