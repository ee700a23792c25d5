#include "platform/net/AddressLookup.h"

#include "platform/dispatch/IoPool.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/AsioAddress.h"
#include "platform/net/HostPort.h"

#include <algorithm>
#include <asio/ip/udp.hpp>
#include <utility>

namespace velm {

void AddressLookup::lookup(std::string host, std::shared_ptr<Queue> queue, Completion completion) {
    if (!namesAPeer(host)) {
        queue->post([completion = std::move(completion)] { completion({}); });
        return;
    }
    // The resolver lives until its answer is in: dropping it would cancel the lookup.
    auto resolver = std::make_shared<asio::ip::udp::resolver>(IoPool::shared().context());
    resolver->async_resolve(
        host, "",
        [resolver, queue = std::move(queue), completion = std::move(completion)](
            const std::error_code& error, const asio::ip::udp::resolver::results_type& results) {
            std::vector<IpAddress> addresses;
            if (!error) {
                for (const auto& result : results) {
                    const IpAddress address = fromAsio(result.endpoint().address());
                    if (std::find(addresses.begin(), addresses.end(), address) == addresses.end()) {
                        addresses.push_back(address);
                    }
                }
            }
            queue->post([completion, addresses = std::move(addresses)]() mutable {
                completion(std::move(addresses));
            });
        });
}

} // namespace velm
