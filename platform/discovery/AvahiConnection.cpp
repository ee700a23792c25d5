#include "platform/discovery/AvahiConnection.h"

#include "platform/log/Log.h"

#include <avahi-common/error.h>
#include <avahi-common/timeval.h>
#include <mutex>
#include <new>
#include <pthread.h>

namespace velm {
namespace {

constexpr Log avahiConnectionLog("discovery");

// Outlives every static destructor, so shared() stays usable while the process exits.
struct Current {
    std::mutex lock;
    std::weak_ptr<AvahiConnection> connection;
};

Current& current() {
    static auto* slot = new Current();
    return *slot;
}

// Runs once on the poll thread, the only place Avahi lets us reach it, so its name tells it apart.
void namePollThread(AvahiTimeout* timeout, void* api) {
    pthread_setname_np(pthread_self(), "avahi");
    static_cast<const AvahiPoll*>(api)->timeout_free(timeout);
}

} // namespace

std::shared_ptr<AvahiConnection> AvahiConnection::shared() {
    auto& slot = current();
    std::lock_guard guard(slot.lock);
    if (auto connection = slot.connection.lock()) {
        return connection;
    }
    std::shared_ptr<AvahiConnection> connection(new AvahiConnection());
    slot.connection = connection;
    return connection;
}

AvahiConnection::AvahiConnection() : poll_(avahi_threaded_poll_new()) {
    if (poll_ == nullptr) {
        throw std::bad_alloc();
    }
    // Made before the poll thread runs, so the lock is not needed yet.
    makeClient();
    const AvahiPoll* api = avahi_threaded_poll_get(poll_);
    timeval now{};
    avahi_elapse_time(&now, 0, 0);
    api->timeout_new(api, &now, &namePollThread, const_cast<AvahiPoll*>(api));
    if (avahi_threaded_poll_start(poll_) < 0) {
        // Nothing will ever be reported; callers still complete through their own time limits.
        avahiConnectionLog.error("cannot start the avahi poll thread");
    }
}

AvahiConnection::~AvahiConnection() {
    // Joins the poll thread: no callback runs after this, so the rest needs no lock.
    avahi_threaded_poll_stop(poll_);
    if (retry_ != nullptr) {
        avahi_threaded_poll_get(poll_)->timeout_free(retry_);
    }
    if (client_ != nullptr) {
        avahi_client_free(client_);
    }
    avahi_threaded_poll_free(poll_);
}

void AvahiConnection::add(Member& member) {
    members_.insert(&member);
    member.clientChanged(client_, state_);
}

void AvahiConnection::remove(Member& member) {
    members_.erase(&member);
}

bool AvahiConnection::isConnected(AvahiClientState state) {
    return state == AVAHI_CLIENT_S_RUNNING || state == AVAHI_CLIENT_S_REGISTERING ||
           state == AVAHI_CLIENT_S_COLLISION;
}

std::string AvahiConnection::errorText(int error) {
    return avahi_strerror(error);
}

// Said to a person, who can start what is missing: Avahi's own texts name neither the daemon nor the bus.
std::string AvahiConnection::unavailableReason() const {
    if (client_ == nullptr) {
        // Without a bus the client cannot even be made, and Avahi calls that a missing daemon too.
        return creationError_ == AVAHI_ERR_NO_DAEMON
                   ? "the system bus is not running, so the Avahi daemon cannot be reached"
                   : "Avahi cannot be used: " + errorText(creationError_);
    }
    if (isConnected(state_)) {
        return {};
    }
    if (state_ == AVAHI_CLIENT_CONNECTING) {
        return "the Avahi daemon is not running";
    }
    return "Avahi cannot be used: " + errorText(avahi_client_errno(client_));
}

void AvahiConnection::makeClient() {
    int error = 0;
    AvahiClient* made =
        avahi_client_new(avahi_threaded_poll_get(poll_), AVAHI_CLIENT_NO_FAIL, &onClientState, this, &error);
    if (made == nullptr) {
        const bool news = creationError_ != error;
        client_ = nullptr;
        state_ = AVAHI_CLIENT_FAILURE;
        creationError_ = error;
        // Its users say what it means to them (the host: nobody finds it); this is the why, once.
        if (news) {
            avahiConnectionLog.info("avahi unavailable: %s", unavailableReason().c_str());
        }
        notifyMembers();
        scheduleRetry(retryIntervalMs);
        return;
    }
    // onClientState has already run for the first state; this only covers a client that made no call.
    client_ = made;
    state_ = avahi_client_get_state(made);
    creationError_ = 0;
}

void AvahiConnection::onClientState(AvahiClient* client, AvahiClientState state, void* context) {
    auto* self = static_cast<AvahiConnection*>(context);
    const bool wasConnected = self->client_ != nullptr && isConnected(self->state_);
    self->client_ = client;
    self->state_ = state;
    if (isConnected(state) != wasConnected) {
        if (isConnected(state)) {
            avahiConnectionLog.info("avahi daemon reachable");
        } else {
            avahiConnectionLog.info("avahi daemon unreachable: %s", self->unavailableReason().c_str());
        }
    }
    self->notifyMembers();
    if (state == AVAHI_CLIENT_FAILURE) {
        // The bus connection is gone for good; the client cannot be freed from its own callback.
        self->scheduleRetry(0);
    }
}

void AvahiConnection::onRetry(AvahiTimeout* timeout, void* context) {
    auto* self = static_cast<AvahiConnection*>(context);
    avahi_threaded_poll_get(self->poll_)->timeout_update(timeout, nullptr);
    if (self->client_ != nullptr) {
        avahi_client_free(self->client_);
        self->client_ = nullptr;
    }
    self->makeClient();
}

void AvahiConnection::scheduleRetry(int delayMs) {
    timeval when{};
    avahi_elapse_time(&when, static_cast<unsigned>(delayMs), 0);
    const AvahiPoll* api = avahi_threaded_poll_get(poll_);
    if (retry_ == nullptr) {
        retry_ = api->timeout_new(api, &when, &onRetry, this);
    } else {
        api->timeout_update(retry_, &when);
    }
}

void AvahiConnection::notifyMembers() {
    for (Member* member : members_) {
        member->clientChanged(client_, state_);
    }
}

} // namespace velm
