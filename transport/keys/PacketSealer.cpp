#include "transport/keys/PacketSealer.h"

#include <utility>

namespace velm {

PacketSealer::PacketSealer(SecretBytes key, PacketDirection direction)
    : cipher_(AesGcm::make(key)), direction_(direction) {}

// A moved-from sealer keeps no cipher, so it cannot seal under the counters it handed over.
PacketSealer::PacketSealer(PacketSealer&& other) noexcept
    : cipher_(std::exchange(other.cipher_, std::nullopt)), direction_(other.direction_),
      counter_(other.counter_) {}

PacketSealer& PacketSealer::operator=(PacketSealer&& other) noexcept {
    cipher_ = std::exchange(other.cipher_, std::nullopt);
    direction_ = other.direction_;
    counter_ = other.counter_;
    return *this;
}

std::optional<Bytes> PacketSealer::seal(ByteView plaintext) {
    if (counter_ == lastCounter) {
        return std::nullopt;
    }
    const std::uint64_t counter = ++counter_;
    if (!cipher_) {
        return std::nullopt;
    }
    Bytes datagram(plaintext.size() + overhead);
    for (std::size_t index = 0; index < counterLength; ++index) {
        datagram[index] = static_cast<std::uint8_t>(counter >> (8 * (counterLength - 1 - index)));
    }
    const std::span<std::uint8_t> ciphertext(datagram.data() + counterLength, plaintext.size());
    const std::span<std::uint8_t> tag(datagram.data() + counterLength + plaintext.size(), AesGcm::tagLength);
    if (!cipher_->seal(PacketNonce::make(direction_, counter), plaintext, {}, ciphertext, tag)) {
        return std::nullopt;
    }
    return datagram;
}

} // namespace velm
