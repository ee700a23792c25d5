#pragma once

#include "platform/core/Bytes.h"

#include <cstddef>
#include <utility>

namespace velm::test {

// Notes what small blocks held as they were handed back to the allocator on the one thread that
// watches, so that a test can tell whether a secret was left in memory that anyone may get next. It
// sees only what goes through the global operator delete, which a suite replaces for this by one that
// calls freeing() first (the watch itself replaces nothing, so suites without it keep the usual one).
class FreedBlockWatch {
public:
    // Blocks of at most this many usable bytes are noted, whole.
    static constexpr std::size_t largestNoted = 64;
    // Blocks noted at most between a start and a stop; past that the watch has overflowed.
    static constexpr std::size_t capacity = std::size_t{1} << 17;

    // Forgets what it noted and watches the calling thread.
    static void start();
    static void stop();
    static bool overflowed();
    // True when a block noted held `secret` anywhere in it.
    static bool sawFreed(ByteView secret);
    // Runs `work` unwatched: the test's own look at what a peer received frees copies it may.
    template <typename Work> static auto unwatched(Work&& work) {
        const Pause pause;
        return std::forward<Work>(work)();
    }

    // For the replaced operator delete, before the block goes.
    static void freeing(void* block) noexcept;

private:
    struct Pause {
        Pause();
        ~Pause();
        Pause(const Pause&) = delete;
        Pause& operator=(const Pause&) = delete;
        bool wasWatching;
    };
};

} // namespace velm::test
