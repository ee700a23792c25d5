#pragma once

#include "protocol/json/JsonRecord.h"

#include <cstdint>

namespace velm {

// The client's report on the stream it receives, over its last reporting period.
struct ClientStats {
    std::int64_t framesReceived = 0;
    std::int64_t framesDropped = 0;
    double packetLoss = 0; // a fraction: 0.01 is one per cent
    double decodeMs = 0;
    double renderMs = 0;
    double rttMs = 0;

    static void fields(auto& visit, auto&... self) {
        visit("framesReceived", self.framesReceived...);
        visit("framesDropped", self.framesDropped...);
        visit("packetLoss", self.packetLoss...);
        visit("decodeMs", self.decodeMs...);
        visit("renderMs", self.renderMs...);
        visit("rttMs", self.rttMs...);
    }

    friend bool operator==(const ClientStats& a, const ClientStats& b) { return fieldsEqual(a, b); }
};

} // namespace velm
