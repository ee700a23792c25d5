#pragma once

#include "platform/core/Bytes.h"
#include "protocol/json/JsonRecord.h"

#include <string>

namespace velm {

// The host's answer when it paired a device.
struct PairResponse {
    std::string hostID; // the UUID string the host keeps in its settings
    Bytes publicKey;    // the host's one-time Curve25519 public key
    Bytes sealedKey;    // the new device key, sealed to the device with the agreed key

    static void fields(auto& visit, auto&... self) {
        visit("hostID", self.hostID...);
        visit("publicKey", self.publicKey...);
        visit("sealedKey", self.sealedKey...);
    }

    friend bool operator==(const PairResponse& a, const PairResponse& b) { return fieldsEqual(a, b); }
};

} // namespace velm
