#pragma once

#include "platform/core/Bytes.h"
#include "protocol/DeviceModel.h"
#include "protocol/VelmProtocolVersion.h"
#include "protocol/json/JsonRecord.h"

#include <cstdint>
#include <optional>
#include <string>

namespace velm {

// The client's hello: names the device and proves that it is paired. It opens every session
// and rides inside the requests for history, a glimpse and a file transfer.
struct ClientHello {
    std::int64_t protocolVersion = VelmProtocolVersion::current;
    std::string deviceID;
    std::string deviceName;
    std::int64_t screenPixelWidth = 0;
    std::int64_t screenPixelHeight = 0;
    std::int64_t maxFPS = 0;
    std::optional<Bytes> proof; // 32 bytes; absent when the connection offers no session binding
    std::optional<DeviceModel> model;
    std::optional<Bytes> awayPublicKey;    // P-256, X9.63 form
    std::optional<Bytes> awaySignature;    // r then s, 32 bytes each
    std::optional<bool> understandsPolicy; // the policy goodbye reasons and the idle warning

    ClientHello() = default;
    // Stamps the current protocol version.
    ClientHello(std::string deviceID, std::string deviceName, std::int64_t screenPixelWidth,
                std::int64_t screenPixelHeight, std::int64_t maxFPS, std::optional<Bytes> proof,
                std::optional<DeviceModel> model, std::optional<Bytes> awayPublicKey,
                std::optional<Bytes> awaySignature, std::optional<bool> understandsPolicy);

    static void fields(auto& visit, auto&... self) {
        visit("protocolVersion", self.protocolVersion...);
        visit("deviceID", self.deviceID...);
        visit("deviceName", self.deviceName...);
        visit("screenPixelWidth", self.screenPixelWidth...);
        visit("screenPixelHeight", self.screenPixelHeight...);
        visit("maxFPS", self.maxFPS...);
        visit("proof", self.proof...);
        visit("model", self.model...);
        visit("awayPublicKey", self.awayPublicKey...);
        visit("awaySignature", self.awaySignature...);
        visit("understandsPolicy", self.understandsPolicy...);
    }

    friend bool operator==(const ClientHello& a, const ClientHello& b) { return fieldsEqual(a, b); }
};

} // namespace velm
