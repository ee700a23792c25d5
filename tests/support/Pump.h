#pragma once

#include "platform/dispatch/ManualQueue.h"
#include "tests/support/Blocking.h"

#include <functional>

namespace velm::test {

// Runs a manual queue's work as it arrives from other threads (network completions) until
// `condition` holds; false when it did not within Blocking's limit. Virtual time stands still.
inline bool pumpUntil(ManualQueue& queue, const std::function<bool()>& condition) {
    return Blocking::waitUntil([&] {
        queue.runUntilIdle();
        return condition();
    });
}

} // namespace velm::test
