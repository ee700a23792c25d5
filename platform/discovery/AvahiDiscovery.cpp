#include "platform/discovery/AvahiDiscovery.h"

#include "platform/discovery/AvahiBrowser.h"
#include "platform/discovery/AvahiPublisher.h"
#include "platform/discovery/AvahiResolver.h"

namespace velm {

std::unique_ptr<ServicePublisher> AvahiDiscovery::makePublisher(std::shared_ptr<Queue> queue) {
    return std::make_unique<AvahiPublisher>(std::move(queue));
}

std::unique_ptr<ServiceBrowser> AvahiDiscovery::makeBrowser(std::shared_ptr<Queue> queue) {
    return std::make_unique<AvahiBrowser>(std::move(queue));
}

std::unique_ptr<InstanceResolver> AvahiDiscovery::makeResolver(std::shared_ptr<Queue> queue) {
    return std::make_unique<AvahiResolver>(std::move(queue));
}

} // namespace velm
