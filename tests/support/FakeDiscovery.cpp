#include "tests/support/FakeDiscovery.h"

#include "platform/dispatch/Queue.h"

#include <algorithm>
#include <functional>
#include <mutex>

namespace velm::test {

// The pretend network. One lock guards it and every fake's state; handlers run on the queues,
// never under it.
struct FakeDiscovery::Network {
    struct Service {
        ServiceAdvert advert;
        std::optional<TxtRecord> txt;
        const void* owner; // the publisher, or null for another host's service
    };

    mutable std::mutex lock;
    bool reachable = true;
    std::string browseFailure; // while not empty, browsers that hear of a change fail with it
    std::vector<Service> services;
    std::vector<std::function<void()>*> listeners; // told of every change, under the lock

    void changed() {
        for (auto* listener : listeners) {
            (*listener)();
        }
    }
};

namespace {

using Network = FakeDiscovery::Network;

// Posts reports to a queue, unless the fake has started over (or gone) by the time they run.
class Reporter {
public:
    Reporter(std::shared_ptr<Network> network, std::shared_ptr<Queue> queue)
        : network_(std::move(network)), queue_(std::move(queue)) {}

    // Under the network's lock, as are the two below.
    void restart() { token_ = std::make_shared<int>(); }

    void post(std::function<void()> work, Queue::Clock::duration delay = {}) {
        auto run = [network = network_, token = std::weak_ptr<int>(token_), work = std::move(work)] {
            {
                std::lock_guard guard(network->lock);
                if (token.expired()) {
                    return;
                }
            }
            work();
        };
        if (delay > Queue::Clock::duration::zero()) {
            queue_->postAfter(delay, std::move(run));
        } else {
            queue_->post(std::move(run));
        }
    }

    const std::shared_ptr<Network>& network() const { return network_; }

private:
    std::shared_ptr<Network> network_;
    std::shared_ptr<Queue> queue_;
    std::shared_ptr<int> token_ = std::make_shared<int>();
};

// Announces its service while the daemon is reachable and says it is unavailable while not, as the
// real one does, following the daemon as it leaves and returns.
class FakePublisher final : public ServicePublisher {
public:
    explicit FakePublisher(Reporter reporter) : reporter_(std::move(reporter)) {
        std::lock_guard guard(reporter_.network()->lock);
        reporter_.network()->listeners.push_back(&follow_);
    }
    ~FakePublisher() override {
        withdraw();
        std::lock_guard guard(reporter_.network()->lock);
        std::erase(reporter_.network()->listeners, &follow_);
    }

    void setOnState(StateHandler handler) override {
        std::lock_guard guard(reporter_.network()->lock);
        onState_ = std::move(handler);
    }

    void publish(ServiceAdvert advert) override {
        std::lock_guard guard(reporter_.network()->lock);
        takeDown();
        advert_ = std::move(advert);
        lastState_.reset();
        follow();
    }

    void withdraw() override {
        std::lock_guard guard(reporter_.network()->lock);
        takeDown();
    }

private:
    // Under the lock.
    void follow() {
        if (!advert_) {
            return;
        }
        Network& network = *reporter_.network();
        const bool listed = std::any_of(network.services.begin(), network.services.end(),
                                        [this](const auto& service) { return service.owner == this; });
        if (!network.reachable) {
            if (listed) {
                std::erase_if(network.services,
                              [this](const auto& service) { return service.owner == this; });
            }
            report(State::unavailable(FakeDiscovery::unreachable));
            return;
        }
        if (!listed) {
            report(State::registering());
            report(State::registered(advert_->name));
            network.services.push_back({*advert_, advert_->txt, this});
            network.changed();
        }
    }

    void report(State state) {
        if (state == lastState_) {
            return;
        }
        lastState_ = state;
        reporter_.post([onState = onState_, state] { onState(state); });
    }

    void takeDown() {
        reporter_.restart();
        advert_.reset();
        if (std::erase_if(reporter_.network()->services, [this](const auto& s) { return s.owner == this; }) >
            0) {
            reporter_.network()->changed();
        }
    }

    Reporter reporter_;
    std::function<void()> follow_ = [this] { follow(); };
    std::optional<ServiceAdvert> advert_;
    StateHandler onState_;
    std::optional<State> lastState_;
};

class FakeBrowser final : public ServiceBrowser {
public:
    explicit FakeBrowser(Reporter reporter) : reporter_(std::move(reporter)) {
        std::lock_guard guard(reporter_.network()->lock);
        reporter_.network()->listeners.push_back(&follow_);
    }

    ~FakeBrowser() override {
        std::lock_guard guard(reporter_.network()->lock);
        reporter_.restart();
        std::erase(reporter_.network()->listeners, &follow_);
    }

    void setOnState(StateHandler handler) override {
        std::lock_guard guard(reporter_.network()->lock);
        onState_ = std::move(handler);
    }

    void setOnResults(ResultsHandler handler) override {
        std::lock_guard guard(reporter_.network()->lock);
        onResults_ = std::move(handler);
    }

    void start(std::string type) override {
        std::lock_guard guard(reporter_.network()->lock);
        reporter_.restart();
        type_ = std::move(type);
        lastState_.reset();
        lastResults_.clear();
        follow_();
    }

    void stop() override {
        std::lock_guard guard(reporter_.network()->lock);
        reporter_.restart();
        type_.reset();
    }

private:
    // Under the lock: reports what changed for this browser.
    void follow() {
        if (!type_) {
            return;
        }
        const Network& network = *reporter_.network();
        if (!network.browseFailure.empty()) {
            reporter_.post(
                [onState = onState_, state = State::failed(network.browseFailure)] { onState(state); });
            type_.reset();
            return;
        }
        const auto state = network.reachable ? State::browsing() : State::waiting(FakeDiscovery::unreachable);
        if (state != lastState_) {
            lastState_ = state;
            reporter_.post([onState = onState_, state] { onState(state); });
        }
        std::vector<Result> results;
        for (const auto& service : network.services) {
            if (network.reachable && service.advert.type == *type_) {
                results.push_back({{service.advert.name, service.advert.type, "local",
                                    FakeDiscovery::interfaceIndex, ServiceInstance::Family::ipv4},
                                   service.txt});
            }
        }
        if (results != lastResults_) {
            lastResults_ = results;
            reporter_.post([onResults = onResults_, results] { onResults(results); });
        }
    }

    Reporter reporter_;
    std::function<void()> follow_ = [this] { follow(); };
    std::optional<std::string> type_;
    StateHandler onState_;
    ResultsHandler onResults_;
    std::optional<State> lastState_;
    std::vector<Result> lastResults_;
};

class FakeResolver final : public InstanceResolver {
public:
    explicit FakeResolver(Reporter reporter) : reporter_(std::move(reporter)) {}
    ~FakeResolver() override { cancel(); }

    void resolve(ServiceInstance instance, std::chrono::steady_clock::duration timeout,
                 Completion completion) override {
        std::lock_guard guard(reporter_.network()->lock);
        reporter_.restart();
        const Network& network = *reporter_.network();
        std::optional<ResolvedService> found;
        for (const auto& service : network.services) {
            if (network.reachable && service.advert.name == instance.name &&
                service.advert.type == instance.type) {
                found = ResolvedService{"fake-host.local", FakeDiscovery::address, service.advert.port,
                                        FakeDiscovery::interfaceIndex};
            }
        }
        const bool answered = found || !network.reachable;
        reporter_.post([completion = std::move(completion), found] { completion(found); },
                       answered ? Queue::Clock::duration::zero() : timeout);
    }

    void cancel() override {
        std::lock_guard guard(reporter_.network()->lock);
        reporter_.restart();
    }

private:
    Reporter reporter_;
};

} // namespace

FakeDiscovery::FakeDiscovery() : network_(std::make_shared<Network>()) {}

FakeDiscovery::~FakeDiscovery() = default;

std::unique_ptr<ServicePublisher> FakeDiscovery::makePublisher(std::shared_ptr<Queue> queue) {
    return std::make_unique<FakePublisher>(Reporter(network_, std::move(queue)));
}

std::unique_ptr<ServiceBrowser> FakeDiscovery::makeBrowser(std::shared_ptr<Queue> queue) {
    return std::make_unique<FakeBrowser>(Reporter(network_, std::move(queue)));
}

std::unique_ptr<InstanceResolver> FakeDiscovery::makeResolver(std::shared_ptr<Queue> queue) {
    return std::make_unique<FakeResolver>(Reporter(network_, std::move(queue)));
}

void FakeDiscovery::addRemote(ServiceAdvert advert, std::optional<TxtRecord> txt) {
    std::lock_guard guard(network_->lock);
    network_->services.push_back({std::move(advert), std::move(txt), nullptr});
    network_->changed();
}

void FakeDiscovery::setReachable(bool reachable) {
    std::lock_guard guard(network_->lock);
    network_->reachable = reachable;
    network_->changed();
}

void FakeDiscovery::failBrowsers(const std::string& message) {
    std::lock_guard guard(network_->lock);
    network_->browseFailure = message;
    network_->changed();
    network_->browseFailure.clear();
}

std::vector<ServiceAdvert> FakeDiscovery::published() const {
    std::lock_guard guard(network_->lock);
    std::vector<ServiceAdvert> adverts;
    for (const auto& service : network_->services) {
        if (service.owner != nullptr) {
            adverts.push_back(service.advert);
        }
    }
    return adverts;
}

} // namespace velm::test
