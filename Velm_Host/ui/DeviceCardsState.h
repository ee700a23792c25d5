#pragma once

#include "Velm_Host/core/PairedDevice.h"
#include "Velm_Host/session/HostSession.h"
#include "platform/core/Date.h"

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velm {

// Everything the device cards show, as plain values the host model publishes.
struct DeviceCardsState {
    std::vector<PairedDevice> devices{};
    // The live session, when there is one.
    std::optional<HostSession::Snapshot> live{};
    // When each device's away access lapses (the registry's awayExpiry); a device without an entry
    // keeps it for good.
    std::map<std::string, Date, std::less<>> awayEnds{};
    bool allowRemoteAccess = false;
    bool allowAwayAccess = false;
    bool allowsAwayWithoutDeviceKey = false;
    // Whether a raised curtain would cover at least one screen of this computer.
    bool curtainCovers = false;

    bool isLive(std::string_view id) const { return live && live->deviceID == id; }
    std::optional<Date> awayEnd(std::string_view id) const;

    // The live device first, then the others in their order.
    std::vector<const PairedDevice*> ordered() const;
    // The device's place among all devices by pairing date, oldest first (equal dates keep their
    // order); 0 for a device not in the list. Each device keeps its placeholder colours by it.
    int placeholderIndex(std::string_view id) const;
    // How long the cards' texts may stand before time alone changes one: at most `tick`, less when
    // a device's away access lapses sooner. Never below a millisecond.
    std::chrono::milliseconds refreshDelay(Date now, std::chrono::milliseconds tick) const;
};

} // namespace velm
