#pragma once

#include <avahi-client/client.h>
#include <avahi-common/thread-watch.h>
#include <memory>
#include <set>
#include <string>

struct AvahiTimeout;

namespace velm {

// The one Avahi client of the process and the threaded poll that runs it, shared by every
// publisher, browser and resolver and made when the first of them needs it.
//
// Avahi calls back on its poll thread with the poll lock held; everything that touches an Avahi
// object from another thread holds the same lock (Guard). The members' callbacks therefore run
// under the lock too, and must never take it themselves nor wait for a queue: they hand their
// results on by posting.
//
// The client is made with AVAHI_CLIENT_NO_FAIL, so it waits for a daemon that is not there yet
// and for one that went away. When it cannot be made at all (no system bus) or fails later, it is
// made again every retryInterval.
class AvahiConnection {
public:
    static constexpr int retryIntervalMs = 2000;

    // Something that owns Avahi objects and must follow the client: drop them when the client goes,
    // make them again when it is back.
    class Member {
    public:
        // Called under the lock on add() and on every change of the client. `client` is null while
        // there is none. A member must not add or remove members from here.
        virtual void clientChanged(AvahiClient* client, AvahiClientState state) = 0;

    protected:
        ~Member() = default;
    };

    class Guard {
    public:
        explicit Guard(const AvahiConnection& connection) : poll_(connection.poll_) {
            avahi_threaded_poll_lock(poll_);
        }
        ~Guard() { avahi_threaded_poll_unlock(poll_); }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

    private:
        AvahiThreadedPoll* poll_;
    };

    // The running connection, made if none is alive. Never null: without a daemon, or even without
    // a bus, the connection still exists and reports itself unavailable.
    static std::shared_ptr<AvahiConnection> shared();

    ~AvahiConnection();
    AvahiConnection(const AvahiConnection&) = delete;
    AvahiConnection& operator=(const AvahiConnection&) = delete;

    // The rest needs the lock held.
    void add(Member& member);
    void remove(Member& member);
    AvahiClient* client() const { return client_; }
    // The poll the client runs on, for members' own timeouts, which fire on its thread under the lock.
    const AvahiPoll* pollApi() const { return avahi_threaded_poll_get(poll_); }
    // Why the client cannot be used now, as a person is told it ("the Avahi daemon is not running");
    // empty when it can.
    std::string unavailableReason() const;

    // Whether objects can be made on a client in this state: the daemon is there.
    static bool isConnected(AvahiClientState state);
    // Whether services can be added: the daemon is there and has its host name.
    static bool isRunning(AvahiClientState state) { return state == AVAHI_CLIENT_S_RUNNING; }
    // The text for an Avahi error code.
    static std::string errorText(int error);

private:
    AvahiConnection();

    static void onClientState(AvahiClient* client, AvahiClientState state, void* context);
    static void onRetry(AvahiTimeout* timeout, void* context);

    void makeClient();
    void scheduleRetry(int delayMs);
    void notifyMembers();

    AvahiThreadedPoll* poll_ = nullptr;
    AvahiClient* client_ = nullptr;
    AvahiClientState state_ = AVAHI_CLIENT_CONNECTING;
    int creationError_ = 0;
    AvahiTimeout* retry_ = nullptr;
    std::set<Member*> members_;
};

} // namespace velm
