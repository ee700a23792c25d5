#pragma once

#include "platform/core/Bytes.h"
#include "platform/core/Date.h"
#include "platform/crypto/SecretBytes.h"
#include "protocol/DeviceModel.h"
#include "protocol/json/JsonRecord.h"
#include "protocol/json/SecretBytesJson.h"

#include <optional>
#include <string>

namespace velm {

// One paired device as the host keeps it. Every paired device lives in one JSON list in the
// secrets store; this is one entry of it, in the same JSON form as the control messages (Data
// as Base64, dates as seconds since 2001, absent optionals left out, unknown keys ignored).
struct PairedDevice {
    std::string id{};   // the identifier the device gave when it paired; also its TLS identity
    std::string name{}; // as the device named itself
    SecretBytes key{};  // the 32-byte device key shared since pairing; never sent anywhere
    Date pairedAt{};
    std::optional<Date> lastConnected{};
    std::optional<DeviceModel> model{};
    std::optional<double> screenAspect{};
    std::optional<Date> lastAtHome{};     // the last session from the home network
    std::optional<Bytes> awayPublicKey{}; // the device-bound P-256 key (X9.63), enrolled from home
    std::optional<double> idleTimeout{};  // seconds; absent: no idle limit
    std::optional<bool> curtain{};        // raise the curtain for this device's sessions

    static void fields(auto& visit, auto&... self) {
        visit("id", self.id...);
        visit("name", self.name...);
        visit("key", self.key...);
        visit("pairedAt", self.pairedAt...);
        visit("lastConnected", self.lastConnected...);
        visit("model", self.model...);
        visit("screenAspect", self.screenAspect...);
        visit("lastAtHome", self.lastAtHome...);
        visit("awayPublicKey", self.awayPublicKey...);
        visit("idleTimeout", self.idleTimeout...);
        visit("curtain", self.curtain...);
    }

    friend bool operator==(const PairedDevice& a, const PairedDevice& b) { return fieldsEqual(a, b); }
};

} // namespace velm
