#include "tests/support/FreedBlockWatch.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <malloc.h>

namespace velm::test {

namespace {

struct Noted {
    std::size_t size = 0;
    std::array<std::uint8_t, FreedBlockWatch::largestNoted> bytes{};
};

// Written only by the watching thread, read once it stopped.
std::array<Noted, FreedBlockWatch::capacity> noted;
std::size_t notedCount = 0;
thread_local bool watching = false;

} // namespace

void FreedBlockWatch::start() {
    notedCount = 0;
    watching = true;
}

void FreedBlockWatch::stop() {
    watching = false;
}

bool FreedBlockWatch::overflowed() {
    return notedCount > capacity;
}

bool FreedBlockWatch::sawFreed(ByteView secret) {
    const std::size_t count = std::min(notedCount, capacity);
    return std::any_of(noted.begin(), noted.begin() + static_cast<std::ptrdiff_t>(count),
                       [&](const Noted& block) {
                           const auto end = block.bytes.begin() + static_cast<std::ptrdiff_t>(block.size);
                           return std::search(block.bytes.begin(), end, secret.begin(), secret.end()) != end;
                       });
}

void FreedBlockWatch::freeing(void* block) noexcept {
    if (!watching || block == nullptr) {
        return;
    }
    const std::size_t size = malloc_usable_size(block);
    if (size > largestNoted) {
        return;
    }
    if (notedCount < capacity) {
        noted[notedCount].size = size;
        std::memcpy(noted[notedCount].bytes.data(), block, size);
    }
    ++notedCount;
}

FreedBlockWatch::Pause::Pause() : wasWatching(watching) {
    watching = false;
}

FreedBlockWatch::Pause::~Pause() {
    watching = wasWatching;
}

} // namespace velm::test
