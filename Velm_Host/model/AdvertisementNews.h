#pragma once

#include "platform/discovery/ServicePublisher.h"

#include <cstdint>
#include <optional>
#include <string>

namespace velm {

// What a person is told when the host's advertisement changes between found and not found on the
// network: when nobody can find the host, why, and that a device still reaches it by address and port;
// when it is found again, under which name. Nothing for the other changes (a new start publishing the
// same again, the first registration). `port` is the listener's, 0 when unknown.
std::optional<std::string> advertisementNews(const std::optional<ServicePublisher::State>& before,
                                             const ServicePublisher::State& after, std::uint16_t port);

} // namespace velm
