#pragma once

#include "platform/discovery/Discovery.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velm::test {

// Discovery without a daemon or a network, for the logic built on top of it. Publishers, browsers
// and resolvers made here share one pretend network that the test shapes: services published by
// other hosts and whether the daemon is reachable (to publishers, browsers and resolvers). Reports go to the
// given queues as the real ones do (a ManualQueue makes them deterministic), and a new start drops
// the reports of the earlier one. Resolutions of instances that are not there end when their time
// limit passes on the queue.
class FakeDiscovery final : public Discovery {
public:
    // The address and interface that every resolution gives.
    static constexpr const char* address = "127.0.0.1";
    static constexpr int interfaceIndex = 1;
    // Why nothing can be published or browsed while the daemon is away.
    static constexpr const char* unreachable = "the Avahi daemon is not running";

    FakeDiscovery();
    ~FakeDiscovery() override;

    std::unique_ptr<ServicePublisher> makePublisher(std::shared_ptr<Queue> queue) override;
    std::unique_ptr<ServiceBrowser> makeBrowser(std::shared_ptr<Queue> queue) override;
    std::unique_ptr<InstanceResolver> makeResolver(std::shared_ptr<Queue> queue) override;

    // A service of another host appears. Its TXT record absent: it could not be read.
    void addRemote(ServiceAdvert advert, std::optional<TxtRecord> txt);
    // The daemon goes away (publishers unavailable, browsers waiting with no results, resolutions end
    // with nothing) or comes back (publishers registered again).
    void setReachable(bool reachable);
    // Every browser browsing now fails with `message` and stops.
    void failBrowsers(const std::string& message);
    // What publishers made here announce now.
    std::vector<ServiceAdvert> published() const;

    struct Network;

private:
    std::shared_ptr<Network> network_;
};

} // namespace velm::test
