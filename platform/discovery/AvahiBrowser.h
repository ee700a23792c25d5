#pragma once

#include "platform/discovery/ServiceBrowser.h"

#include <memory>

namespace velm {

class Queue;

// Browses through the shared Avahi client (AvahiConnection) and keeps one Avahi service resolver
// open per instance, so that its TXT record is read when it appears and again whenever it changes.
class AvahiBrowser final : public ServiceBrowser {
public:
    explicit AvahiBrowser(std::shared_ptr<Queue> queue);
    ~AvahiBrowser() override;
    AvahiBrowser(const AvahiBrowser&) = delete;
    AvahiBrowser& operator=(const AvahiBrowser&) = delete;

    void setOnState(StateHandler handler) override;
    void setOnResults(ResultsHandler handler) override;
    void start(std::string type) override;
    void stop() override;

private:
    class Core;
    std::shared_ptr<Core> core_;
};

} // namespace velm
