#include "platform/discovery/AvahiPublisher.h"

#include "platform/core/Utf8.h"
#include "platform/discovery/AvahiMember.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/WhileAlive.h"
#include "platform/log/Log.h"

#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <mutex>
#include <optional>

namespace velm {
namespace {

constexpr Log avahiPublisherLog("discovery");

// A DNS label holds 63 bytes.
constexpr std::size_t maxNameSize = 63;

// Avahi takes the name as a C string, so a NUL ends it.
std::string usableName(const std::string& wanted) {
    std::string name = Utf8::repaired(std::string_view(wanted).substr(0, wanted.find('\0')));
    name.resize(Utf8::cutLength(name, maxNameSize));
    return name;
}

// Avahi puts a list on the wire last entry first; adding prepends, so adding the entries in their
// order makes them travel in it.
AvahiStringList* toStringList(const TxtRecord& txt) {
    AvahiStringList* list = nullptr;
    for (const auto& entry : txt.entries()) {
        list = avahi_string_list_add_pair_arbitrary(list, entry.key.c_str(),
                                                    reinterpret_cast<const std::uint8_t*>(entry.value.data()),
                                                    entry.value.size());
    }
    return list;
}

} // namespace

// Everything Avahi touches (the advert, the entry group) is guarded by the poll lock; the
// generation and the handler, which reports read on the queue, by `lock_`. The poll lock is never
// taken while `lock_` is held.
class AvahiPublisher::Core final : public AvahiMember, public std::enable_shared_from_this<Core> {
public:
    explicit Core(std::shared_ptr<Queue> queue) : AvahiMember(std::move(queue)) {}

    void setOnState(StateHandler handler) {
        std::lock_guard guard(lock_);
        onState_ = std::move(handler);
    }

    void publish(ServiceAdvert advert) {
        AvahiConnection::Guard guard(*connection_);
        stopReports();
        dropGroup();
        advert_.reset();
        lastReport_.reset();
        renames_ = 0;
        advert.name = usableName(advert.name);
        if (advert.name.empty()) {
            report(State::failed("the service name is empty"));
            return;
        }
        if (!advert.txt.isPublishable()) {
            report(State::failed("the TXT record cannot be published"));
            return;
        }
        name_ = advert.name;
        advert_ = std::move(advert);
        AvahiClient* client = connection_->client();
        follow(client, client != nullptr ? avahi_client_get_state(client) : AVAHI_CLIENT_FAILURE);
    }

    void halt() override {
        AvahiConnection::Guard guard(*connection_);
        stopReports();
        advert_.reset();
        dropGroup();
    }

    void clientChanged(AvahiClient* client, AvahiClientState state) override {
        if (client == nullptr || !AvahiConnection::isConnected(state)) {
            // The group belongs to the client, which may be freed next.
            dropGroup();
        }
        follow(client, state);
    }

private:
    void follow(AvahiClient* client, AvahiClientState state) {
        if (!advert_) {
            return;
        }
        if (client != nullptr && AvahiConnection::isRunning(state)) {
            if (group_ == nullptr || avahi_entry_group_is_empty(group_) > 0) {
                registerService(client);
            }
        } else if (client != nullptr && AvahiConnection::isConnected(state)) {
            // The daemon is registering its own host name; our records follow once it runs.
            if (group_ != nullptr) {
                avahi_entry_group_reset(group_);
            }
            report(State::registering());
        } else {
            report(State::unavailable(connection_->unavailableReason()));
        }
    }

    void registerService(AvahiClient* client) {
        if (group_ == nullptr) {
            group_ = avahi_entry_group_new(client, &onGroupState, this);
            if (group_ == nullptr) {
                fail(AvahiConnection::errorText(avahi_client_errno(client)));
                return;
            }
        }
        AvahiStringList* txt = toStringList(advert_->txt);
        int result = AVAHI_OK;
        do {
            result = avahi_entry_group_add_service_strlst(
                group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0), name_.c_str(),
                advert_->type.c_str(), nullptr, nullptr, advert_->port, txt);
        } while (result == AVAHI_ERR_COLLISION && rename());
        avahi_string_list_free(txt);
        if (result == AVAHI_OK) {
            result = avahi_entry_group_commit(group_);
        }
        if (result < 0) {
            fail(AvahiConnection::errorText(result));
            return;
        }
        report(State::registering());
    }

    bool rename() {
        if (++renames_ > maxRenames) {
            return false;
        }
        char* alternative = avahi_alternative_service_name(name_.c_str());
        if (alternative == nullptr) {
            return false;
        }
        avahiPublisherLog.info("service name \"%s\" taken, trying \"%s\"", name_.c_str(), alternative);
        name_ = alternative;
        avahi_free(alternative);
        return true;
    }

    static void onGroupState(AvahiEntryGroup* group, AvahiEntryGroupState state, void* context) {
        auto* self = static_cast<Core*>(context);
        switch (state) {
        case AVAHI_ENTRY_GROUP_ESTABLISHED:
            avahiPublisherLog.info("service registered: %s", self->name_.c_str());
            self->report(State::registered(self->name_));
            break;
        case AVAHI_ENTRY_GROUP_COLLISION:
            // Another host on the network has the name.
            if (self->rename()) {
                avahi_entry_group_reset(group);
                self->registerService(avahi_entry_group_get_client(group));
            } else {
                self->fail(AvahiConnection::errorText(AVAHI_ERR_COLLISION));
            }
            break;
        case AVAHI_ENTRY_GROUP_FAILURE:
            self->fail(AvahiConnection::errorText(avahi_client_errno(avahi_entry_group_get_client(group))));
            break;
        case AVAHI_ENTRY_GROUP_UNCOMMITED:
        case AVAHI_ENTRY_GROUP_REGISTERING:
            break;
        }
    }

    // Keeps the group: this may run inside the group's own callback. The next publish, withdraw or
    // loss of the client frees it.
    void fail(const std::string& message) {
        avahiPublisherLog.error("cannot publish \"%s\": %s", name_.c_str(), message.c_str());
        advert_.reset();
        report(State::failed(message));
    }

    void dropGroup() {
        if (group_ != nullptr) {
            avahi_entry_group_free(group_);
            group_ = nullptr;
        }
    }

    // Ends the reports of the current publication.
    void stopReports() {
        std::lock_guard guard(lock_);
        ++generation_;
    }

    // Hands a state to the queue unless it repeats the last one.
    void report(State state) {
        if (lastReport_ == state) {
            return;
        }
        lastReport_ = state;
        std::uint64_t generation = 0;
        {
            std::lock_guard guard(lock_);
            generation = generation_;
        }
        queue_->post(whileAlive(weak_from_this(), [generation, state = std::move(state)](Core& self) {
            StateHandler handler;
            {
                std::lock_guard guard(self.lock_);
                if (generation != self.generation_) {
                    return;
                }
                handler = self.onState_;
            }
            if (handler) {
                handler(state);
            }
        }));
    }

    std::optional<ServiceAdvert> advert_;
    std::string name_;
    int renames_ = 0;
    AvahiEntryGroup* group_ = nullptr;
    std::optional<State> lastReport_;

    std::mutex lock_;
    std::uint64_t generation_ = 0;
    StateHandler onState_;
};

AvahiPublisher::AvahiPublisher(std::shared_ptr<Queue> queue)
    : core_(std::make_shared<Core>(std::move(queue))) {
    core_->join();
}

AvahiPublisher::~AvahiPublisher() {
    core_->leave();
}

void AvahiPublisher::setOnState(StateHandler handler) {
    core_->setOnState(std::move(handler));
}

void AvahiPublisher::publish(ServiceAdvert advert) {
    core_->publish(std::move(advert));
}

void AvahiPublisher::withdraw() {
    core_->halt();
}

} // namespace velm
