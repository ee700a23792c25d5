#pragma once

#include "platform/core/Bytes.h"
#include "protocol/json/JsonRecord.h"

#include <string>

namespace velm {

// Sent by a device that connected with the key derived from a pairing code.
struct PairRequest {
    std::string deviceID; // the device sends the same identifier in every later hello
    std::string deviceName;
    Bytes publicKey; // the device's one-time Curve25519 public key

    static void fields(auto& visit, auto&... self) {
        visit("deviceID", self.deviceID...);
        visit("deviceName", self.deviceName...);
        visit("publicKey", self.publicKey...);
    }

    friend bool operator==(const PairRequest& a, const PairRequest& b) { return fieldsEqual(a, b); }
};

} // namespace velm
