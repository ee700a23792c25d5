#include "platform/crypto/Random.h"

#include "platform/crypto/OpenSsl.h"

#include <algorithm>
#include <climits>
#include <openssl/rand.h>

namespace velm {

void Random::fill(std::span<std::uint8_t> bytes) {
    // RAND_bytes takes an int count, so very large requests go in chunks.
    while (!bytes.empty()) {
        const std::size_t chunk = std::min<std::size_t>(bytes.size(), INT_MAX);
        if (RAND_bytes(bytes.data(), static_cast<int>(chunk)) != 1) {
            openssl::fatal("random bytes");
        }
        bytes = bytes.subspan(chunk);
    }
}

Bytes Random::bytes(std::size_t count) {
    Bytes result(count);
    fill(result);
    return result;
}

SecretBytes Random::secret(std::size_t count) {
    SecretBytes result(count);
    fill({result.data(), result.size()});
    return result;
}

std::uint64_t Random::uint64() {
    std::uint8_t raw[8];
    fill(raw);
    std::uint64_t value = 0;
    for (std::uint8_t byte : raw) {
        value = value << 8 | byte;
    }
    return value;
}

} // namespace velm
