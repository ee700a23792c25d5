#pragma once

#include "platform/discovery/ResolvedService.h"
#include "platform/discovery/ServiceInstance.h"

#include <chrono>
#include <functional>
#include <optional>

namespace velm {

// Turns one service instance into an address and port, within a time limit. The completion runs
// exactly once per resolution, on the queue the resolver was made with, unless cancel() comes
// first: with the address, or with nothing when the instance cannot be found in time, no mDNS
// daemon is reachable, or the daemon goes away meanwhile. One resolution at a time; destroying
// the resolver cancels it.
class InstanceResolver {
public:
    using Completion = std::function<void(std::optional<ResolvedService>)>;

    virtual ~InstanceResolver() = default;

    // Starts resolving `instance`; a resolution still running is dropped without its completion.
    virtual void resolve(ServiceInstance instance, std::chrono::steady_clock::duration timeout,
                         Completion completion) = 0;
    // Once it returns, the pending completion does not start.
    virtual void cancel() = 0;
};

} // namespace velm
