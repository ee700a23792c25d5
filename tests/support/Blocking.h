#pragma once

#include "platform/dispatch/Queue.h"
#include "tests/support/Gate.h"

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace velm {

// Bounded waits for tests that use real threads. Each returns false instead of
// hanging when what it waits for does not happen within the limit.
class Blocking {
public:
    static constexpr std::chrono::seconds defaultLimit{10};

    // Polls `condition` until it holds.
    static bool waitUntil(const std::function<bool()>& condition,
                          std::chrono::milliseconds limit = defaultLimit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!condition()) {
            if (std::chrono::steady_clock::now() >= end) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    // Waits until everything posted to a serial queue before this call has run.
    static bool drain(Queue& queue, std::chrono::milliseconds limit = defaultLimit) {
        auto reached = std::make_shared<Gate>();
        queue.post([reached] { reached->open(); });
        return reached->wait(limit);
    }
};

} // namespace velm
