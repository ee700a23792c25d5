#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

namespace velm {

// Runs an asynchronous step for each item, one after another: the step of the next item starts
// only when the step before it calls its continuation, and `done` runs after the last (at once
// when there is none). A step that never calls its continuation, because its owner went away,
// ends the walk; only the continuations hold the walk, so nothing is left behind.
template <class Item>
void inTurn(std::vector<Item> items,
            std::type_identity_t<std::function<void(const Item&, std::function<void()> next)>> step,
            std::function<void()> done) {
    struct Walk {
        std::vector<Item> items;
        std::function<void(const Item&, std::function<void()>)> step;
        std::function<void()> done;
        std::size_t index = 0;

        static void advance(const std::shared_ptr<Walk>& walk) {
            if (walk->index == walk->items.size()) {
                if (walk->done) {
                    walk->done();
                }
                return;
            }
            const Item& item = walk->items[walk->index++];
            walk->step(item, [walk] { advance(walk); });
        }
    };
    Walk::advance(std::make_shared<Walk>(Walk{std::move(items), std::move(step), std::move(done)}));
}

} // namespace velm
