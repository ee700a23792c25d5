#pragma once

#include "platform/dispatch/Queue.h"

#include <functional>
#include <memory>
#include <utility>

namespace velm {

// The one way a service's callbacks and scheduled work hold their owner: weakly, so that neither
// keeps the other alive, and doing nothing once the owner is gone.
//
// `function` is a member function (&Service::handle) or a callable that takes the owner first.
//
//     connection->setOnState(whileAlive(shared_from_this(), &Channel::handleState));
//     queue->postAfter(delay, whileAlive(shared_from_this(), [](Channel& self) { self.expire(); }));
//     source->setOnData(onQueueWhileAlive(queue, shared_from_this(), &Session::handleData));

// A callable that runs `function(owner, arguments...)` where it is called, while the owner lives.
// The owner may be given weakly (weak_from_this() also works where shared_from_this() cannot, as in a
// destructor).
template <typename Owner, typename Function> auto whileAlive(std::weak_ptr<Owner> owner, Function function) {
    return [weak = std::move(owner), function = std::move(function)](auto&&... arguments) mutable {
        if (const auto self = weak.lock()) {
            std::invoke(function, *self, std::forward<decltype(arguments)>(arguments)...);
        }
    };
}

template <typename Owner, typename Function>
auto whileAlive(const std::shared_ptr<Owner>& owner, Function function) {
    return whileAlive(std::weak_ptr<Owner>(owner), std::move(function));
}

// A callable that posts `function(owner, arguments...)` to `queue`, with copies of the arguments;
// the work runs only when the owner still lives by then.
template <typename Owner, typename Function>
auto onQueueWhileAlive(std::shared_ptr<Queue> queue, std::weak_ptr<Owner> owner, Function function) {
    return [queue = std::move(queue),
            call = whileAlive(std::move(owner), std::move(function))](auto... arguments) {
        queue->post(
            [call, ... arguments = std::move(arguments)]() mutable { call(std::move(arguments)...); });
    };
}

template <typename Owner, typename Function>
auto onQueueWhileAlive(std::shared_ptr<Queue> queue, const std::shared_ptr<Owner>& owner, Function function) {
    return onQueueWhileAlive(std::move(queue), std::weak_ptr<Owner>(owner), std::move(function));
}

} // namespace velm
