#include "platform/discovery/AvahiResolver.h"

#include "platform/core/Utf8.h"
#include "platform/discovery/AvahiMember.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/WhileAlive.h"
#include "platform/log/Log.h"

#include <array>
#include <avahi-client/lookup.h>
#include <avahi-common/address.h>
#include <mutex>
#include <utility>

namespace velm {
namespace {

constexpr Log avahiResolverLog("discovery");

AvahiProtocol protocolOf(ServiceInstance::Family family) {
    // IPv4 unless the instance was seen over IPv6: a query over IPv6 does not find IPv4 addresses.
    return family == ServiceInstance::Family::ipv6 ? AVAHI_PROTO_INET6 : AVAHI_PROTO_INET;
}

bool isLinkLocal(const AvahiAddress& address) {
    return address.proto == AVAHI_PROTO_INET6 && address.data.ipv6.address[0] == 0xfe &&
           (address.data.ipv6.address[1] & 0xc0) == 0x80;
}

std::string hostNameOf(const char* name) {
    std::string host = Utf8::repaired(name == nullptr ? "" : name);
    if (!host.empty() && host.back() == '.') {
        host.pop_back();
    }
    return host;
}

} // namespace

// The Avahi resolver and the generation it serves are guarded by the poll lock; the generation,
// completion and time-out of the current resolution, which the queue reads, by `lock_`. The poll
// lock is never taken while `lock_` is held.
class AvahiResolver::Core final : public AvahiMember, public std::enable_shared_from_this<Core> {
public:
    explicit Core(std::shared_ptr<Queue> queue) : AvahiMember(std::move(queue)) {}

    void resolve(ServiceInstance instance, std::chrono::steady_clock::duration timeout,
                 Completion completion) {
        std::uint64_t generation = 0;
        WorkItem earlierTimeout;
        {
            std::lock_guard guard(lock_);
            generation = ++generation_;
            completion_ = std::move(completion);
            earlierTimeout = std::exchange(timeout_, WorkItem());
        }
        earlierTimeout.cancel();

        AvahiConnection::Guard guard(*connection_);
        dropResolver();
        serving_ = generation;
        AvahiClient* client = connection_->client();
        if (client == nullptr || !AvahiConnection::isConnected(avahi_client_get_state(client))) {
            avahiResolverLog.error("cannot resolve \"%s\": %s", instance.name.c_str(),
                                   connection_->unavailableReason().c_str());
            deliver(generation, std::nullopt);
            return;
        }
        const AvahiProtocol protocol = protocolOf(instance.family);
        const std::string domain = instance.domain.empty() ? "local" : instance.domain;
        resolver_ = avahi_service_resolver_new(
            client, instance.interfaceIndex > 0 ? instance.interfaceIndex : AVAHI_IF_UNSPEC, protocol,
            instance.name.c_str(), instance.type.c_str(), domain.c_str(), protocol, AvahiLookupFlags(0),
            &onResolve, this);
        if (resolver_ == nullptr) {
            avahiResolverLog.error("cannot resolve \"%s\": %s", instance.name.c_str(),
                                   AvahiConnection::errorText(avahi_client_errno(client)).c_str());
            deliver(generation, std::nullopt);
            return;
        }
        WorkItem item = queue_->postAfter(timeout, whileAlive(weak_from_this(), [generation](Core& self) {
                                              self.finish(generation, std::nullopt);
                                          }));
        std::lock_guard lock(lock_);
        if (generation == generation_) {
            timeout_ = item;
        } else {
            item.cancel();
        }
    }

    void halt() override {
        WorkItem timeout;
        {
            std::lock_guard guard(lock_);
            ++generation_;
            completion_ = nullptr;
            timeout = std::exchange(timeout_, WorkItem());
        }
        timeout.cancel();
        AvahiConnection::Guard guard(*connection_);
        dropResolver();
    }

    void clientChanged(AvahiClient* client, AvahiClientState state) override {
        if (resolver_ != nullptr && (client == nullptr || !AvahiConnection::isConnected(state))) {
            // The resolver belongs to the client, which may be freed next.
            dropResolver();
            deliver(serving_, std::nullopt);
        }
    }

private:
    static void onResolve(AvahiServiceResolver* /*resolver*/, AvahiIfIndex interface,
                          AvahiProtocol /*protocol*/, AvahiResolverEvent event, const char* /*name*/,
                          const char* /*type*/, const char* /*domain*/, const char* hostName,
                          const AvahiAddress* address, std::uint16_t port, AvahiStringList* /*txt*/,
                          AvahiLookupResultFlags /*flags*/, void* context) {
        auto* self = static_cast<Core*>(context);
        if (event != AVAHI_RESOLVER_FOUND || address == nullptr) {
            self->deliver(self->serving_, std::nullopt);
            return;
        }
        std::array<char, AVAHI_ADDRESS_STR_MAX> text{};
        avahi_address_snprint(text.data(), text.size(), address);
        ResolvedService found{hostNameOf(hostName), text.data(), port, interface > 0 ? interface : 0};
        if (isLinkLocal(*address) && interface > 0) {
            found.address += "%" + std::to_string(interface);
        }
        self->deliver(self->serving_, std::move(found));
    }

    void deliver(std::uint64_t generation, std::optional<ResolvedService> result) {
        queue_->post(whileAlive(weak_from_this(), [generation, result = std::move(result)](Core& self) {
            self.finish(generation, result);
        }));
    }

    // On the queue: the first answer, failure or time-out of a resolution ends it.
    void finish(std::uint64_t generation, const std::optional<ResolvedService>& result) {
        Completion completion;
        WorkItem timeout;
        {
            std::lock_guard guard(lock_);
            if (generation != generation_ || !completion_) {
                return;
            }
            completion = std::exchange(completion_, nullptr);
            timeout = std::exchange(timeout_, WorkItem());
        }
        timeout.cancel();
        {
            AvahiConnection::Guard guard(*connection_);
            if (serving_ == generation) {
                dropResolver();
            }
        }
        completion(result);
    }

    void dropResolver() {
        if (resolver_ != nullptr) {
            avahi_service_resolver_free(resolver_);
            resolver_ = nullptr;
        }
    }

    AvahiServiceResolver* resolver_ = nullptr;
    std::uint64_t serving_ = 0;

    std::mutex lock_;
    std::uint64_t generation_ = 0;
    Completion completion_;
    WorkItem timeout_;
};

AvahiResolver::AvahiResolver(std::shared_ptr<Queue> queue) : core_(std::make_shared<Core>(std::move(queue))) {
    core_->join();
}

AvahiResolver::~AvahiResolver() {
    core_->leave();
}

void AvahiResolver::resolve(ServiceInstance instance, std::chrono::steady_clock::duration timeout,
                            Completion completion) {
    core_->resolve(std::move(instance), timeout, std::move(completion));
}

void AvahiResolver::cancel() {
    core_->halt();
}

} // namespace velm
