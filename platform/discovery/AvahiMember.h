#pragma once

#include "platform/discovery/AvahiConnection.h"

#include <memory>

namespace velm {

class Queue;

// What the cores of the Avahi publisher, browser and resolver share: the queue they report on, the
// shared connection, and their membership of it. The owner joins its core once made and has it leave
// when the owner goes; leaving halts whatever the core was doing first, so no Avahi object of it
// outlives the membership.
class AvahiMember : public AvahiConnection::Member {
public:
    void join();
    void leave();

protected:
    explicit AvahiMember(std::shared_ptr<Queue> queue);
    ~AvahiMember() = default;

    // Ends the current publication, browsing or resolution without a report; takes the poll lock itself.
    virtual void halt() = 0;

    const std::shared_ptr<Queue> queue_;
    const std::shared_ptr<AvahiConnection> connection_;
};

} // namespace velm
