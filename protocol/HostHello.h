#pragma once

#include "platform/core/Bytes.h"
#include "platform/core/Date.h"
#include "platform/crypto/SecretBytes.h"
#include "protocol/CurtainState.h"
#include "protocol/DeviceModel.h"
#include "protocol/DisplayInfo.h"
#include "protocol/VelmProtocolVersion.h"
#include "protocol/json/JsonRecord.h"
#include "protocol/json/SecretBytesJson.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velm {

// The host's answer to an admitted session's hello: everything the client needs for the stream.
struct HostHello {
    std::int64_t protocolVersion = VelmProtocolVersion::current;
    std::string hostName;
    std::vector<DisplayInfo> displays;
    std::uint16_t videoPort = 0; // the UDP port of this session's video sender
    // The session's secrets: every copy of the message wipes its own as it goes.
    SecretBytes videoKey;     // 32 random bytes per session, the key of the sealed video datagrams
    SecretBytes sessionToken; // 16 random bytes per session; the client's first datagram carries it
    std::optional<DeviceModel> model;
    std::optional<bool> hasDisplay; // a recognised external display is attached
    std::optional<std::string> awayAddress;
    std::optional<bool> findsTapTargets;
    std::optional<Date> awayAccessUntil;
    std::optional<double> idleTimeout; // seconds; absent when the session has no idle limit
    std::optional<CurtainState> curtain;
    std::optional<bool> holdsAnotherAwayKey; // the host holds a different device-bound key for this device

    HostHello() = default;
    // Stamps the current protocol version.
    HostHello(std::string hostName, std::vector<DisplayInfo> displays, std::uint16_t videoPort,
              SecretBytes videoKey, SecretBytes sessionToken, std::optional<DeviceModel> model,
              std::optional<bool> hasDisplay, std::optional<std::string> awayAddress,
              std::optional<bool> findsTapTargets, std::optional<Date> awayAccessUntil,
              std::optional<double> idleTimeout, std::optional<CurtainState> curtain,
              std::optional<bool> holdsAnotherAwayKey);

    static void fields(auto& visit, auto&... self) {
        visit("protocolVersion", self.protocolVersion...);
        visit("hostName", self.hostName...);
        visit("displays", self.displays...);
        visit("videoPort", self.videoPort...);
        visit("videoKey", self.videoKey...);
        visit("sessionToken", self.sessionToken...);
        visit("model", self.model...);
        visit("hasDisplay", self.hasDisplay...);
        visit("awayAddress", self.awayAddress...);
        visit("findsTapTargets", self.findsTapTargets...);
        visit("awayAccessUntil", self.awayAccessUntil...);
        visit("idleTimeout", self.idleTimeout...);
        visit("curtain", self.curtain...);
        visit("holdsAnotherAwayKey", self.holdsAnotherAwayKey...);
    }

    friend bool operator==(const HostHello& a, const HostHello& b) { return fieldsEqual(a, b); }
};

} // namespace velm
