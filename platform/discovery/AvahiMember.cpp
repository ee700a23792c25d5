#include "platform/discovery/AvahiMember.h"

#include "platform/dispatch/Queue.h"

#include <utility>

namespace velm {

AvahiMember::AvahiMember(std::shared_ptr<Queue> queue)
    : queue_(std::move(queue)), connection_(AvahiConnection::shared()) {}

void AvahiMember::join() {
    AvahiConnection::Guard guard(*connection_);
    connection_->add(*this);
}

void AvahiMember::leave() {
    halt();
    AvahiConnection::Guard guard(*connection_);
    connection_->remove(*this);
}

} // namespace velm
