#pragma once

#include "platform/discovery/Discovery.h"

namespace velm {

// Discovery through the machine's Avahi daemon, reached over the system D-Bus bus. All publishers,
// browsers and resolvers share one Avahi client, made when the first of them is.
class AvahiDiscovery final : public Discovery {
public:
    std::unique_ptr<ServicePublisher> makePublisher(std::shared_ptr<Queue> queue) override;
    std::unique_ptr<ServiceBrowser> makeBrowser(std::shared_ptr<Queue> queue) override;
    std::unique_ptr<InstanceResolver> makeResolver(std::shared_ptr<Queue> queue) override;
};

} // namespace velm
