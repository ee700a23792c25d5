#pragma once

#include "platform/discovery/InstanceResolver.h"
#include "platform/discovery/ServiceBrowser.h"
#include "platform/discovery/ServicePublisher.h"

#include <memory>

namespace velm {

class Queue;

// Local-network service discovery: makes publishers, browsers and resolvers that report on a given
// queue. AvahiDiscovery is the real one; tests use FakeDiscovery (tests/support).
class Discovery {
public:
    virtual ~Discovery() = default;

    virtual std::unique_ptr<ServicePublisher> makePublisher(std::shared_ptr<Queue> queue) = 0;
    virtual std::unique_ptr<ServiceBrowser> makeBrowser(std::shared_ptr<Queue> queue) = 0;
    virtual std::unique_ptr<InstanceResolver> makeResolver(std::shared_ptr<Queue> queue) = 0;
};

} // namespace velm
