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
        ServiceAdvert advert;  // with the name in use
        std::optional<TxtRecord> txt;
        const void* owner;  // the publisher, or null for another host's service
    };

    mutable std::mutex lock;
    bool reachable = true;
    std::vector<Service> services;
    std::vector<std::function<void()>> listeners;  // told of every change, under the lock

    bool isTaken(const std::string& name, const std::string& type) const {
        return std::any_of(services.begin(), services.end(),
                           [&](const Service& s) { return s.advert.name == name && s.advert.type == type; });
    }

    void changed() {
        for (auto& listener : listeners) {
            listener();
        }
    }

    // Under the lock. Gives the listener's place, to be emptied when its fake goes.
    std::size_t listen(std::function<void()> listener) {
        listeners.push_back(std::move(listener));
        return listeners.size() - 1;
    }
};

namespace {

using Network = FakeDiscovery::Network;

// Posts `work` to the queue unless the fake has started over (or gone) by the time it runs.
class Reporter {
public:
    Reporter(std::shared_ptr<Network> network, std::shared_ptr<Queue> queue)
        : network_(std::move(network)), queue_(std::move(queue)), generation_(std::make_shared<std::uint64_t>(0)) {}

    // Under the network's lock.
    void restart() { ++*generation_; }

    // Under the network's lock.
    void post(std::function<void()> work, Queue::Clock::duration delay = {}) {
        auto run = [network = network_, weak = std::weak_ptr<std::uint64_t>(generation_), generation = *generation_,
                    work = std::move(work)] {
            {
                auto current = weak.lock();
                std::lock_guard guard(network->lock);
                if (!current || *current != generation) {
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

    // Under the network's lock: hands `value` to `handler`, if there is one.
    template <typename Handler, typename Value>
    void tell(const Handler& handler, Value value) {
        post([handler, value = std::move(value)] {
            if (handler) {
                handler(value);
            }
        });
    }

private:
    std::shared_ptr<Network> network_;
    std::shared_ptr<Queue> queue_;
    std::shared_ptr<std::uint64_t> generation_;
};

class FakePublisher final : public ServicePublisher {
public:
    FakePublisher(std::shared_ptr<Network> network, std::shared_ptr<Queue> queue)
        : network_(network), reporter_(std::move(network), std::move(queue)) {
        std::lock_guard guard(network_->lock);
        listener_ = network_->listen([this] { follow(); });
    }

    ~FakePublisher() override {
        std::lock_guard guard(network_->lock);
        reporter_.restart();
        takeDown();
        network_->listeners[listener_] = [] {};
    }

    void publish(ServiceAdvert advert, StateHandler onState) override {
        std::lock_guard guard(network_->lock);
        reporter_.restart();
        takeDown();
        onState_ = std::move(onState);
        lastState_.reset();
        advert_ = std::move(advert);
        follow();
    }

    void withdraw() override {
        std::lock_guard guard(network_->lock);
        reporter_.restart();
        takeDown();
    }

private:
    // Under the lock: puts the advert on the network when it can, or says why not.
    void follow() {
        if (!advert_ || isUp()) {
            return;
        }
        if (!network_->reachable) {
            report(State::unavailable("Daemon not running"));
            return;
        }
        ServiceAdvert advert = *advert_;
        for (int n = 2; network_->isTaken(advert.name, advert.type); ++n) {
            advert.name = advert_->name + " #" + std::to_string(n);
        }
        network_->services.push_back({advert, advert.txt, this});
        report(State::registering());
        report(State::registered(advert.name));
        network_->changed();
    }

    bool isUp() const {
        return std::any_of(network_->services.begin(), network_->services.end(),
                           [this](const auto& s) { return s.owner == this; });
    }

    void takeDown() {
        advert_.reset();
        auto& services = network_->services;
        const auto before = services.size();
        std::erase_if(services, [this](const auto& s) { return s.owner == this; });
        if (services.size() != before) {
            network_->changed();
        }
    }

    void report(State state) {
        if (lastState_ == state) {
            return;
        }
        lastState_ = state;
        reporter_.tell(onState_, state);
    }

    std::shared_ptr<Network> network_;
    Reporter reporter_;
    std::size_t listener_ = 0;
    std::optional<ServiceAdvert> advert_;
    StateHandler onState_;
    std::optional<State> lastState_;
};

class FakeBrowser final : public ServiceBrowser {
public:
    FakeBrowser(std::shared_ptr<Network> network, std::shared_ptr<Queue> queue)
        : network_(network), reporter_(std::move(network), std::move(queue)) {
        std::lock_guard guard(network_->lock);
        listener_ = network_->listen([this] { follow(); });
    }

    ~FakeBrowser() override {
        std::lock_guard guard(network_->lock);
        reporter_.restart();
        network_->listeners[listener_] = [] {};
    }

    void start(std::string type, StateHandler onState, ResultsHandler onResults) override {
        std::lock_guard guard(network_->lock);
        reporter_.restart();
        type_ = std::move(type);
        onState_ = std::move(onState);
        onResults_ = std::move(onResults);
        lastState_.reset();
        lastResults_.clear();
        follow();
    }

    void stop() override {
        std::lock_guard guard(network_->lock);
        reporter_.restart();
        type_.reset();
    }

private:
    void follow() {
        if (!type_) {
            return;
        }
        const auto state = network_->reachable ? State::browsing() : State::waiting("Daemon not running");
        if (state != lastState_) {
            lastState_ = state;
            reporter_.tell(onState_, state);
        }
        std::vector<Result> results;
        if (network_->reachable) {
            for (const auto& service : network_->services) {
                if (service.advert.type == *type_) {
                    ServiceInstance instance{service.advert.name, service.advert.type, "local",
                                             FakeDiscovery::interfaceIndex, ServiceInstance::Family::ipv4};
                    results.push_back({std::move(instance), service.txt});
                }
            }
        }
        if (results != lastResults_) {
            lastResults_ = results;
            reporter_.tell(onResults_, results);
        }
    }

    std::shared_ptr<Network> network_;
    Reporter reporter_;
    std::size_t listener_ = 0;
    std::optional<std::string> type_;
    StateHandler onState_;
    ResultsHandler onResults_;
    std::optional<State> lastState_;
    std::vector<Result> lastResults_;
};

class FakeResolver final : public InstanceResolver {
public:
    FakeResolver(std::shared_ptr<Network> network, std::shared_ptr<Queue> queue)
        : network_(network), reporter_(std::move(network), std::move(queue)) {}

    ~FakeResolver() override { cancel(); }

    void resolve(ServiceInstance instance, std::chrono::steady_clock::duration timeout, Completion completion) override {
        std::lock_guard guard(network_->lock);
        reporter_.restart();
        std::optional<ResolvedService> found;
        for (const auto& service : network_->services) {
            if (service.advert.name == instance.name && service.advert.type == instance.type) {
                found = ResolvedService{FakeDiscovery::hostName, FakeDiscovery::address, service.advert.port,
                                        FakeDiscovery::interfaceIndex};
            }
        }
        auto finish = [completion = std::move(completion), found] { completion(found); };
        if (found || !network_->reachable) {
            reporter_.post(std::move(finish));
        } else {
            reporter_.post(std::move(finish), timeout);
        }
    }

    void cancel() override {
        std::lock_guard guard(network_->lock);
        reporter_.restart();
    }

private:
    std::shared_ptr<Network> network_;
    Reporter reporter_;
};

} // namespace

FakeDiscovery::FakeDiscovery() : network_(std::make_shared<Network>()) {}

FakeDiscovery::~FakeDiscovery() = default;

std::unique_ptr<ServicePublisher> FakeDiscovery::makePublisher(std::shared_ptr<Queue> queue) {
    return std::make_unique<FakePublisher>(network_, std::move(queue));
}

std::unique_ptr<ServiceBrowser> FakeDiscovery::makeBrowser(std::shared_ptr<Queue> queue) {
    return std::make_unique<FakeBrowser>(network_, std::move(queue));
}

std::unique_ptr<InstanceResolver> FakeDiscovery::makeResolver(std::shared_ptr<Queue> queue) {
    return std::make_unique<FakeResolver>(network_, std::move(queue));
}

void FakeDiscovery::addRemote(ServiceAdvert advert, std::optional<TxtRecord> txt) {
    std::lock_guard guard(network_->lock);
    network_->services.push_back({std::move(advert), std::move(txt), nullptr});
    network_->changed();
}

void FakeDiscovery::removeRemote(const std::string& name) {
    std::lock_guard guard(network_->lock);
    std::erase_if(network_->services, [&](const auto& s) { return s.owner == nullptr && s.advert.name == name; });
    network_->changed();
}

void FakeDiscovery::setReachable(bool reachable) {
    std::lock_guard guard(network_->lock);
    network_->reachable = reachable;
    if (!reachable) {
        // Local publications leave with the daemon and come back with it.
        std::erase_if(network_->services, [](const auto& s) { return s.owner != nullptr; });
    }
    network_->changed();
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
