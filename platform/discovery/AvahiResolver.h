#pragma once

#include "platform/discovery/InstanceResolver.h"

#include <memory>

namespace velm {

class Queue;

// Resolves through the shared Avahi client (AvahiConnection). The time limit runs on the
// resolver's queue; without a reachable daemon the resolution ends at once, with nothing.
class AvahiResolver final : public InstanceResolver {
public:
    explicit AvahiResolver(std::shared_ptr<Queue> queue);
    ~AvahiResolver() override;
    AvahiResolver(const AvahiResolver&) = delete;
    AvahiResolver& operator=(const AvahiResolver&) = delete;

    void resolve(ServiceInstance instance, std::chrono::steady_clock::duration timeout,
                 Completion completion) override;
    void cancel() override;

private:
    class Core;
    std::shared_ptr<Core> core_;
};

} // namespace velm
