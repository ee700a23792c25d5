#pragma once

#include "platform/dispatch/Queue.h"
#include "transport/channel/Endpoint.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace velm {

class InstanceResolver;

// Turns an advertised service into the host and port an outgoing connection dials, within a time
// limit. A host-and-port endpoint passes through unchanged. The resolved host is the numeric
// address the service was found at, so that dialling needs no further name lookup.
//
// The completion runs exactly once per resolution, on the resolver's queue, unless cancel() comes
// first: with the endpoint, or with nothing when the service cannot be found in time, carries no
// port, or no mDNS daemon is reachable. One resolution at a time: a new one drops the completion of
// the one before. resolve() and cancel() may be called from any thread; cancel() called on the
// queue guarantees that no completion follows. Destroying the resolver cancels it.
class ServiceResolver {
public:
    using Completion = std::function<void(std::optional<Endpoint>)>;

    // Services are looked up with `resolver` (Discovery::makeResolver on the same queue); without
    // one, a service resolves to nothing.
    ServiceResolver(std::shared_ptr<Queue> queue, std::unique_ptr<InstanceResolver> resolver);
    ~ServiceResolver();
    ServiceResolver(const ServiceResolver&) = delete;
    ServiceResolver& operator=(const ServiceResolver&) = delete;

    void resolve(Endpoint endpoint, Queue::Clock::duration timeout, Completion completion);
    void cancel();

private:
    struct Pending;

    // Needs `lock`; gives the dropped completion.
    Completion cancelLocked();

    const std::shared_ptr<Queue> queue_;
    const std::shared_ptr<Pending> pending_;
    // Serialises resolve() and cancel(), which drive resolver_ from their callers' threads.
    std::mutex lock;
    const std::unique_ptr<InstanceResolver> resolver_;
};

} // namespace velm
