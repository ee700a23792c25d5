#include "transport/client/discovery/HostBrowser.h"

#include "platform/discovery/Discovery.h"
#include "platform/dispatch/WhileAlive.h"
#include "protocol/UnicodeText.h"
#include "transport/channel/VelmService.h"
#include "transport/discovery/DiscoveryLog.h"

#include <algorithm>
#include <set>
#include <string>
#include <utility>

namespace velm {

namespace {

constexpr std::string_view hostIDKey = "id";

std::string describe(const ServiceBrowser::State& state) {
    switch (state.kind()) {
    case ServiceBrowser::State::Kind::browsing:
        return "browsing";
    case ServiceBrowser::State::Kind::waiting:
        return "waiting (" + state.message() + ")";
    case ServiceBrowser::State::Kind::failed:
        return "failed (" + state.message() + ")";
    }
    return "unknown";
}

DiscoveredHost hostFrom(const ServiceBrowser::Result& result) {
    DiscoveredHost host{result.instance.name, result.instance.name, result.instance, std::nullopt};
    if (result.txt) {
        if (auto id = result.txt->value(hostIDKey)) {
            host.id = std::move(*id);
        }
        if (auto model = result.txt->value(VelmService::modelKey)) {
            host.model = DeviceModel{std::move(*model), result.txt->value(VelmService::modelNameKey)};
        }
    }
    return host;
}

} // namespace

std::shared_ptr<HostBrowser> HostBrowser::make(std::shared_ptr<Queue> queue,
                                               std::shared_ptr<Discovery> discovery, Timing timing) {
    return std::shared_ptr<HostBrowser>(new HostBrowser(std::move(queue), std::move(discovery), timing));
}

HostBrowser::HostBrowser(std::shared_ptr<Queue> queue, std::shared_ptr<Discovery> discovery, Timing timing)
    : queue_(std::move(queue)), discovery_(std::move(discovery)), timing_(timing) {}

void HostBrowser::setOnHosts(HostsHandler handler) {
    onHosts_.set(std::move(handler));
}

void HostBrowser::setOnState(StateHandler handler) {
    onState_.set(std::move(handler));
}

template <class Step> void HostBrowser::onQueue(Step step) {
    if (queue_->isCurrent()) {
        step(*this);
        return;
    }
    queue_->post(whileAlive(weak_from_this(), std::move(step)));
}

void HostBrowser::start() {
    onQueue([](HostBrowser& self) { self.begin(); });
}

void HostBrowser::stop() {
    onQueue([](HostBrowser& self) { self.end(); });
}

void HostBrowser::begin() {
    end();
    browser_ = discovery_->makeBrowser(queue_);
    const auto generation = ++generation_;
    hasReported_ = false;
    browser_->setOnState(
        whileAlive(shared_from_this(), [generation](HostBrowser& self, const ServiceBrowser::State& state) {
            self.handleState(generation, state);
        }));
    browser_->setOnResults(
        whileAlive(shared_from_this(),
                   [generation](HostBrowser& self, const std::vector<ServiceBrowser::Result>& results) {
                       self.handleResults(generation, results);
                   }));
    browser_->start(std::string(VelmService::serviceType));
}

void HostBrowser::end() {
    ++generation_;
    browser_.reset();
}

void HostBrowser::handleState(std::uint64_t generation, const ServiceBrowser::State& state) {
    if (generation != generation_) {
        return;
    }
    discoveryLog.info("browser state: %s", describe(state).c_str());
    switch (state.kind()) {
    case ServiceBrowser::State::Kind::failed:
        report(SessionState::offline());
        browser_.reset();
        queue_->postAfter(timing_.restartDelay, whileAlive(weak_from_this(), [generation](HostBrowser& self) {
                              if (self.generation_ == generation) {
                                  self.begin();
                              }
                          }));
        break;
    case ServiceBrowser::State::Kind::waiting:
        report(SessionState::offline());
        break;
    case ServiceBrowser::State::Kind::browsing:
        report(SessionState::discovering());
        queue_->postAfter(timing_.emptyListDelay,
                          whileAlive(weak_from_this(), [generation](HostBrowser& self) {
                              if (self.generation_ == generation && !self.hasReported_) {
                                  self.hasReported_ = true;
                                  self.report(std::vector<DiscoveredHost>{});
                              }
                          }));
        break;
    }
}

void HostBrowser::handleResults(std::uint64_t generation,
                                const std::vector<ServiceBrowser::Result>& results) {
    if (generation != generation_) {
        return;
    }
    hasReported_ = true;
    report(hostsFrom(results));
}

std::vector<DiscoveredHost> HostBrowser::hostsFrom(const std::vector<ServiceBrowser::Result>& results) {
    struct Sortable {
        std::string key;
        DiscoveredHost host;
    };
    std::vector<Sortable> kept;
    std::set<std::string> seen;
    for (const auto& result : results) {
        auto host = hostFrom(result);
        if (seen.insert(host.id).second) {
            kept.push_back({UnicodeText::composed(host.name), std::move(host)});
        }
    }
    // std::string orders by unsigned bytes, which for UTF-8 is the order of the scalar values.
    std::stable_sort(kept.begin(), kept.end(),
                     [](const Sortable& a, const Sortable& b) { return a.key < b.key; });
    std::vector<DiscoveredHost> hosts;
    hosts.reserve(kept.size());
    for (auto& entry : kept) {
        hosts.push_back(std::move(entry.host));
    }
    return hosts;
}

void HostBrowser::report(const SessionState& state) {
    onState_(state);
}

void HostBrowser::report(const std::vector<DiscoveredHost>& hosts) {
    onHosts_(hosts);
}

} // namespace velm
