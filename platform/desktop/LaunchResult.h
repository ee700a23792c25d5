#pragma once

#include <cstdint>

namespace velm {

// What became of a request to start an application.
struct LaunchResult {
    enum class Outcome {
        // Started; its end is reported under `number`.
        launched,
        // Started through something that gives no process to watch (D-Bus activation).
        launchedUnwatched,
        unknownApplication,
        failed,
    };

    Outcome outcome = Outcome::failed;
    std::uint64_t number = 0;
};

} // namespace velm
