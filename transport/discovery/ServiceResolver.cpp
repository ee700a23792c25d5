#include "transport/discovery/ServiceResolver.h"

#include "platform/discovery/InstanceResolver.h"

#include <cstdint>
#include <mutex>
#include <utility>

namespace velm {

// The completion of the resolution under way, shared with the work that finishes it, so that
// whichever comes first (the answer or a cancel) ends the resolution for good.
struct ServiceResolver::Pending {
    std::mutex lock;
    std::uint64_t generation = 0;
    Completion completion;

    // Starts a resolution; gives its generation.
    std::uint64_t begin(Completion next) {
        std::lock_guard guard(lock);
        completion = std::move(next);
        return ++generation;
    }

    // Ends the resolution under way; gives its completion, for the caller to release outside its
    // locks, since what the completion holds may use this resolver as it goes.
    Completion end() {
        std::lock_guard guard(lock);
        ++generation;
        return std::exchange(completion, nullptr);
    }

    // Calls the completion of `resolution` with `result`, unless it was cancelled or replaced.
    void finish(std::uint64_t resolution, std::optional<Endpoint> result) {
        Completion taken;
        {
            std::lock_guard guard(lock);
            if (resolution != generation || !completion) {
                return;
            }
            taken = std::exchange(completion, nullptr);
        }
        taken(std::move(result));
    }
};

namespace {

std::optional<Endpoint> endpointFor(const std::optional<ResolvedService>& service) {
    if (!service || service->port == 0) {
        return std::nullopt;
    }
    const auto& host = service->address.empty() ? service->hostName : service->address;
    if (host.empty()) {
        return std::nullopt;
    }
    return Endpoint::hostPort(host, service->port);
}

} // namespace

ServiceResolver::ServiceResolver(std::shared_ptr<Queue> queue, std::unique_ptr<InstanceResolver> resolver)
    : queue_(std::move(queue)), pending_(std::make_shared<Pending>()), resolver_(std::move(resolver)) {}

ServiceResolver::~ServiceResolver() {
    cancel();
}

void ServiceResolver::resolve(Endpoint endpoint, Queue::Clock::duration timeout, Completion completion) {
    Completion dropped; // declared before the guard, so released after the lock
    std::lock_guard guard(lock);
    dropped = cancelLocked();
    const auto resolution = pending_->begin(std::move(completion));
    const auto* instance = std::get_if<ServiceInstance>(&endpoint.target);
    if (!instance || !resolver_) {
        std::optional<Endpoint> answer;
        if (!instance) {
            answer = std::move(endpoint);
        }
        queue_->post([pending = pending_, resolution, answer = std::move(answer)]() mutable {
            pending->finish(resolution, std::move(answer));
        });
        return;
    }
    resolver_->resolve(*instance, timeout,
                       [pending = pending_, resolution](std::optional<ResolvedService> service) {
                           pending->finish(resolution, endpointFor(service));
                       });
}

void ServiceResolver::cancel() {
    Completion dropped;
    std::lock_guard guard(lock);
    dropped = cancelLocked();
}

ServiceResolver::Completion ServiceResolver::cancelLocked() {
    auto dropped = pending_->end();
    if (resolver_) {
        resolver_->cancel();
    }
    return dropped;
}

} // namespace velm
