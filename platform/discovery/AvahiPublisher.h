#pragma once

#include "platform/discovery/ServicePublisher.h"

#include <memory>

namespace velm {

class Queue;

// Publishes through the shared Avahi client (AvahiConnection): taken names are replaced with
// avahi_alternative_service_name, and the service is published again whenever the daemon comes
// back or re-registers its host name.
class AvahiPublisher final : public ServicePublisher {
public:
    // Renames tried before a publication gives up on finding a free name.
    static constexpr int maxRenames = 50;

    explicit AvahiPublisher(std::shared_ptr<Queue> queue);
    ~AvahiPublisher() override;
    AvahiPublisher(const AvahiPublisher&) = delete;
    AvahiPublisher& operator=(const AvahiPublisher&) = delete;

    void setOnState(StateHandler handler) override;
    void publish(ServiceAdvert advert) override;
    void withdraw() override;

private:
    class Core;
    std::shared_ptr<Core> core_;
};

} // namespace velm
