#include "platform/discovery/AvahiBrowser.h"

#include "platform/core/Utf8.h"
#include "platform/discovery/AvahiMember.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/WhileAlive.h"
#include "platform/log/Log.h"

#include <algorithm>
#include <avahi-client/lookup.h>
#include <avahi-common/timeval.h>
#include <list>
#include <mutex>
#include <optional>

namespace velm {
namespace {

constexpr Log avahiBrowserLog("discovery");

ServiceInstance::Family familyOf(AvahiProtocol protocol) {
    switch (protocol) {
    case AVAHI_PROTO_INET:
        return ServiceInstance::Family::ipv4;
    case AVAHI_PROTO_INET6:
        return ServiceInstance::Family::ipv6;
    default:
        return ServiceInstance::Family::any;
    }
}

TxtRecord toTxtRecord(AvahiStringList* list) {
    TxtRecord txt;
    for (; list != nullptr; list = avahi_string_list_get_next(list)) {
        const auto* text = reinterpret_cast<const char*>(avahi_string_list_get_text(list));
        auto entry = TxtRecord::parseEntry(std::string_view(text, avahi_string_list_get_size(list)));
        txt.add(std::move(entry.key), std::move(entry.value));
    }
    return txt;
}

} // namespace

// Avahi objects and the list of instances are guarded by the poll lock; the generation and the
// handlers, which reports read on the queue, by `lock_`. The poll lock is never taken while
// `lock_` is held.
class AvahiBrowser::Core final : public AvahiMember, public std::enable_shared_from_this<Core> {
public:
    explicit Core(std::shared_ptr<Queue> queue) : AvahiMember(std::move(queue)) {}

    void setOnState(StateHandler handler) {
        std::lock_guard guard(lock_);
        onState_ = std::move(handler);
    }

    void setOnResults(ResultsHandler handler) {
        std::lock_guard guard(lock_);
        onResults_ = std::move(handler);
    }

    void start(std::string type) {
        AvahiConnection::Guard guard(*connection_);
        stopReports();
        dropBrowser();
        type_ = std::move(type);
        active_ = true;
        lastState_.reset();
        AvahiClient* client = connection_->client();
        follow(client, client != nullptr ? avahi_client_get_state(client) : AVAHI_CLIENT_FAILURE);
    }

    void halt() override {
        AvahiConnection::Guard guard(*connection_);
        stopReports();
        active_ = false;
        dropBrowser();
        if (rebrowse_ != nullptr) {
            connection_->pollApi()->timeout_free(rebrowse_);
            rebrowse_ = nullptr;
        }
    }

    void clientChanged(AvahiClient* client, AvahiClientState state) override {
        if (client == nullptr || !AvahiConnection::isConnected(state)) {
            const bool hadResults = hasSettledEntries();
            // The browser belongs to the client, which may be freed next.
            dropBrowser();
            if (active_) {
                reportState(State::waiting(connection_->unavailableReason()));
                if (hadResults) {
                    reportResults();
                }
            }
            return;
        }
        follow(client, state);
    }

private:
    // One instance the browser reported, with the resolver that reads its TXT record. Kept in a
    // list, since the resolver holds its address.
    struct Entry {
        Core* core;
        AvahiIfIndex interface;
        AvahiProtocol protocol;
        std::string name;
        std::string type;
        std::string domain;
        AvahiServiceResolver* resolver = nullptr;
        bool settled = false; // the record was read, or could not be
        std::optional<TxtRecord> txt;
        bool confirmed = true; // the current browser told of it (see rebrowse())
    };

    // The daemon tells a browser of each instance once: those ignored while the list was full would
    // never be told again. When room comes free a fresh browser is asked, a little later so that a
    // flood leaving one by one costs one fresh browsing rather than one each.
    static constexpr unsigned rebrowseDelayMs = 1000;

    void follow(AvahiClient* client, AvahiClientState state) {
        if (!active_ || browser_ != nullptr) {
            return;
        }
        if (client == nullptr || !AvahiConnection::isConnected(state)) {
            reportState(State::waiting(connection_->unavailableReason()));
            return;
        }
        toldFlood_ = false;
        browser_ = avahi_service_browser_new(client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, type_.c_str(),
                                             nullptr, AvahiLookupFlags(0), &onBrowse, this);
        if (browser_ == nullptr) {
            active_ = false;
            const auto message = AvahiConnection::errorText(avahi_client_errno(client));
            avahiBrowserLog.error("cannot browse for %s: %s", type_.c_str(), message.c_str());
            reportState(State::failed(message));
            return;
        }
        reportState(State::browsing());
    }

    static void onBrowse(AvahiServiceBrowser* browser, AvahiIfIndex interface, AvahiProtocol protocol,
                         AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
                         AvahiLookupResultFlags /*flags*/, void* context) {
        auto* self = static_cast<Core*>(context);
        switch (event) {
        case AVAHI_BROWSER_NEW:
            self->add(avahi_service_browser_get_client(browser), interface, protocol, name, type, domain);
            break;
        case AVAHI_BROWSER_REMOVE:
            self->remove(interface, protocol, name, type, domain);
            break;
        case AVAHI_BROWSER_FAILURE:
            self->browseFailed(avahi_client_errno(avahi_service_browser_get_client(browser)));
            break;
        case AVAHI_BROWSER_ALL_FOR_NOW:
            self->dropUnconfirmed();
            break;
        case AVAHI_BROWSER_CACHE_EXHAUSTED:
            break;
        }
    }

    void add(AvahiClient* client, AvahiIfIndex interface, AvahiProtocol protocol, const char* name,
             const char* type, const char* domain) {
        if (name == nullptr || type == nullptr || domain == nullptr) {
            return;
        }
        if (Entry* known = find(interface, protocol, name, type, domain)) {
            known->confirmed = true;
            return;
        }
        if (entries_.size() >= maxInstances) {
            ignoredSome_ = true;
            // Said once per browsing: a line per instance would let the flood fill the log as well.
            if (!toldFlood_) {
                toldFlood_ = true;
                avahiBrowserLog.error("more than %zu instances of %s, ignoring \"%s\" and any more",
                                      maxInstances, type_.c_str(), name);
            }
            return;
        }
        auto& entry = entries_.emplace_back(
            Entry{this, interface, protocol, name, type, domain, nullptr, false, std::nullopt});
        entry.resolver = avahi_service_resolver_new(client, interface, protocol, name, type, domain, protocol,
                                                    AVAHI_LOOKUP_NO_ADDRESS, &onResolve, &entry);
        if (entry.resolver == nullptr) {
            entry.settled = true;
            reportResults();
        }
    }

    void remove(AvahiIfIndex interface, AvahiProtocol protocol, const char* name, const char* type,
                const char* domain) {
        if (name == nullptr || type == nullptr || domain == nullptr) {
            return;
        }
        Entry* entry = find(interface, protocol, name, type, domain);
        if (entry == nullptr) {
            return;
        }
        const bool wasListed = entry->settled;
        if (entry->resolver != nullptr) {
            avahi_service_resolver_free(entry->resolver);
        }
        entries_.remove_if([entry](const Entry& e) { return &e == entry; });
        if (wasListed) {
            reportResults();
        }
        rebrowseIfRoom();
    }

    void rebrowseIfRoom() {
        if (!ignoredSome_ || entries_.size() >= maxInstances) {
            return;
        }
        ignoredSome_ = false;
        timeval when{};
        avahi_elapse_time(&when, rebrowseDelayMs, 0);
        const AvahiPoll* api = connection_->pollApi();
        if (rebrowse_ == nullptr) {
            rebrowse_ = api->timeout_new(api, &when, &onRebrowse, this);
        } else {
            api->timeout_update(rebrowse_, &when);
        }
    }

    static void onRebrowse(AvahiTimeout* timeout, void* context) {
        auto* self = static_cast<Core*>(context);
        self->connection_->pollApi()->timeout_update(timeout, nullptr);
        self->rebrowse();
    }

    // Swaps in a fresh browser and keeps the list: what the fresh one tells again is confirmed, what
    // it does not (an instance that left while the browsers changed hands) goes once it has told all.
    void rebrowse() {
        AvahiClient* client = connection_->client();
        if (!active_ || browser_ == nullptr || client == nullptr) {
            return;
        }
        AvahiServiceBrowser* fresh =
            avahi_service_browser_new(client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, type_.c_str(), nullptr,
                                      AvahiLookupFlags(0), &onBrowse, this);
        if (fresh == nullptr) {
            avahiBrowserLog.warning("cannot browse for %s afresh: %s", type_.c_str(),
                                    AvahiConnection::errorText(avahi_client_errno(client)).c_str());
            return;
        }
        for (auto& entry : entries_) {
            entry.confirmed = false;
        }
        avahi_service_browser_free(browser_);
        browser_ = fresh;
    }

    void dropUnconfirmed() {
        bool wasListed = false;
        for (auto it = entries_.begin(); it != entries_.end();) {
            if (it->confirmed) {
                ++it;
                continue;
            }
            wasListed = wasListed || it->settled;
            if (it->resolver != nullptr) {
                avahi_service_resolver_free(it->resolver);
            }
            it = entries_.erase(it);
        }
        if (wasListed) {
            reportResults();
        }
        rebrowseIfRoom();
    }

    // Keeps the browser: this runs inside its own callback. The next start, stop or loss of the
    // client frees it.
    void browseFailed(int error) {
        const bool hadResults = hasSettledEntries();
        dropEntries();
        active_ = false;
        const auto message = AvahiConnection::errorText(error);
        avahiBrowserLog.error("browsing for %s failed: %s", type_.c_str(), message.c_str());
        reportState(State::failed(message));
        if (hadResults) {
            reportResults();
        }
    }

    static void onResolve(AvahiServiceResolver* /*resolver*/, AvahiIfIndex /*interface*/,
                          AvahiProtocol /*protocol*/, AvahiResolverEvent event, const char* /*name*/,
                          const char* /*type*/, const char* /*domain*/, const char* /*hostName*/,
                          const AvahiAddress* /*address*/, std::uint16_t /*port*/, AvahiStringList* txt,
                          AvahiLookupResultFlags /*flags*/, void* context) {
        auto* entry = static_cast<Entry*>(context);
        if (event == AVAHI_RESOLVER_FOUND) {
            entry->txt = toTxtRecord(txt);
        } else if (entry->settled) {
            // A record read earlier stays; the browser tells when the instance leaves.
            return;
        }
        entry->settled = true;
        entry->core->reportResults();
    }

    Entry* find(AvahiIfIndex interface, AvahiProtocol protocol, std::string_view name, std::string_view type,
                std::string_view domain) {
        auto found = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) {
            return e.interface == interface && e.protocol == protocol && e.name == name && e.type == type &&
                   e.domain == domain;
        });
        return found == entries_.end() ? nullptr : &*found;
    }

    bool hasSettledEntries() const {
        return std::any_of(entries_.begin(), entries_.end(), [](const Entry& e) { return e.settled; });
    }

    void dropEntries() {
        for (auto& entry : entries_) {
            if (entry.resolver != nullptr) {
                avahi_service_resolver_free(entry.resolver);
            }
        }
        entries_.clear();
        ignoredSome_ = false;
        if (rebrowse_ != nullptr) {
            connection_->pollApi()->timeout_update(rebrowse_, nullptr);
        }
    }

    void dropBrowser() {
        dropEntries();
        if (browser_ != nullptr) {
            avahi_service_browser_free(browser_);
            browser_ = nullptr;
        }
    }

    std::vector<Result> results() const {
        std::vector<Result> list;
        for (const auto& entry : entries_) {
            if (!entry.settled) {
                continue;
            }
            ServiceInstance instance{Utf8::repaired(entry.name), Utf8::repaired(entry.type),
                                     Utf8::repaired(entry.domain), std::max(entry.interface, 0),
                                     familyOf(entry.protocol)};
            list.push_back({std::move(instance), entry.txt});
        }
        return list;
    }

    void stopReports() {
        std::lock_guard guard(lock_);
        ++generation_;
    }

    std::uint64_t currentGeneration() {
        std::lock_guard guard(lock_);
        return generation_;
    }

    // Hands a state to the queue unless it repeats the last one.
    void reportState(State state) {
        if (lastState_ == state) {
            return;
        }
        lastState_ = state;
        queue_->post(whileAlive(weak_from_this(),
                                [generation = currentGeneration(), state = std::move(state)](Core& self) {
                                    if (auto handler = self.handler(generation, &Core::onState_)) {
                                        handler(state);
                                    }
                                }));
    }

    void reportResults() {
        queue_->post(
            whileAlive(weak_from_this(), [generation = currentGeneration(), list = results()](Core& self) {
                if (auto handler = self.handler(generation, &Core::onResults_)) {
                    handler(list);
                }
            }));
    }

    // The handler when `generation` is still the current one.
    template <typename Handler> Handler handler(std::uint64_t generation, Handler Core::*field) {
        std::lock_guard guard(lock_);
        return generation == generation_ ? this->*field : Handler();
    }

    std::string type_;
    bool active_ = false;
    AvahiServiceBrowser* browser_ = nullptr;
    std::list<Entry> entries_;
    bool toldFlood_ = false;   // whether this browsing logged ignoring instances over the limit
    bool ignoredSome_ = false; // whether instances were ignored since the last fresh browser
    AvahiTimeout* rebrowse_ = nullptr;
    std::optional<State> lastState_;

    std::mutex lock_;
    std::uint64_t generation_ = 0;
    StateHandler onState_;
    ResultsHandler onResults_;
};

AvahiBrowser::AvahiBrowser(std::shared_ptr<Queue> queue) : core_(std::make_shared<Core>(std::move(queue))) {
    core_->join();
}

AvahiBrowser::~AvahiBrowser() {
    core_->leave();
}

void AvahiBrowser::setOnState(StateHandler handler) {
    core_->setOnState(std::move(handler));
}

void AvahiBrowser::setOnResults(ResultsHandler handler) {
    core_->setOnResults(std::move(handler));
}

void AvahiBrowser::start(std::string type) {
    core_->start(std::move(type));
}

void AvahiBrowser::stop() {
    core_->halt();
}

} // namespace velm
