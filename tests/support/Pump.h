#pragma once

#include "platform/dispatch/ManualQueue.h"
#include "tests/support/Blocking.h"

#include <chrono>
#include <functional>
#include <memory>

namespace velm::test {

// Runs a manual queue's work as it arrives from other threads (network completions) until
// `condition` holds; false when it did not within Blocking's limit. Virtual time stands still.
inline bool pumpUntil(ManualQueue& queue, const std::function<bool()>& condition) {
    return Blocking::waitUntil([&] {
        queue.runUntilIdle();
        return condition();
    });
}

// As pumpUntil, but virtual time runs on by a second per turn, at most `most` in all: for work timed
// from the moment earlier network work ended, which the test cannot know in advance.
inline bool pumpUntilWithTime(ManualQueue& queue, std::chrono::seconds most,
                              const std::function<bool()>& condition) {
    std::chrono::seconds ran{0};
    return Blocking::waitUntil([&] {
        queue.runUntilIdle();
        if (condition()) {
            return true;
        }
        if (ran < most) {
            queue.advance(std::chrono::seconds(1));
            ++ran;
        }
        return false;
    });
}

// Runs the queue until nothing but the caller holds it any more: connections that were closed
// have delivered their last updates and let go. A test that stops earlier leaves their pending
// work in the queue, holding the queue that holds the work.
inline bool pumpUntilReleased(const std::shared_ptr<ManualQueue>& queue) {
    return pumpUntil(*queue, [&] { return queue.use_count() == 1; });
}

} // namespace velm::test
