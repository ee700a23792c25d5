#include "protocol/HostHello.h"

#include <utility>

// Each parameter bears the name of the field it initialises, so every field reads as itself.
#pragma GCC diagnostic ignored "-Wshadow"

namespace velm {

HostHello::HostHello(std::string hostName, std::vector<DisplayInfo> displays, std::uint16_t videoPort,
                     SecretBytes videoKey, SecretBytes sessionToken, std::optional<DeviceModel> model,
                     std::optional<bool> hasDisplay, std::optional<std::string> awayAddress,
                     std::optional<bool> findsTapTargets, std::optional<Date> awayAccessUntil,
                     std::optional<double> idleTimeout, std::optional<CurtainState> curtain,
                     std::optional<bool> holdsAnotherAwayKey)
    : hostName(std::move(hostName)), displays(std::move(displays)), videoPort(videoPort),
      videoKey(std::move(videoKey)), sessionToken(std::move(sessionToken)), model(std::move(model)),
      hasDisplay(hasDisplay), awayAddress(std::move(awayAddress)), findsTapTargets(findsTapTargets),
      awayAccessUntil(awayAccessUntil), idleTimeout(idleTimeout), curtain(curtain),
      holdsAnotherAwayKey(holdsAnotherAwayKey) {}

} // namespace velm
