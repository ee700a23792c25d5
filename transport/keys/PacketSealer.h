#pragma once

#include "platform/core/Bytes.h"
#include "platform/crypto/AesGcm.h"
#include "platform/crypto/SecretBytes.h"
#include "transport/keys/PacketDirection.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>

namespace velm {

// Seals the datagrams of one direction under one key: an 8-byte big-endian counter,
// then the AES-GCM ciphertext, then the 16-byte tag. The counter is the nonce, so
// it must never repeat under a key. Ownership: the sealer is the only keeper of the
// counter for its (key, direction) for the key's whole life. It cannot be copied,
// the key is moved into it, and whoever owns it (the video sender on the host, the
// video receiver on the client) makes exactly one per key and direction; a new key
// means a new sealer. It refuses to seal once the counter is spent instead of
// wrapping. Not thread-safe: the owner serialises its use.
class PacketSealer {
public:
    // What sealing adds to a datagram: 8 bytes of counter and 16 of tag.
    static constexpr std::size_t overhead = 24;
    static constexpr std::size_t counterLength = 8;
    static constexpr std::uint64_t lastCounter = std::numeric_limits<std::uint64_t>::max();

    // A key that is not 16, 24 or 32 bytes gives a sealer that refuses every datagram.
    PacketSealer(SecretBytes key, PacketDirection direction);
    PacketSealer(PacketSealer&& other) noexcept;
    PacketSealer& operator=(PacketSealer&& other) noexcept;
    PacketSealer(const PacketSealer&) = delete;
    PacketSealer& operator=(const PacketSealer&) = delete;

    // The sealed datagram, exactly `overhead` bytes longer than the plaintext, or
    // absent when sealing failed or every counter has been used. The counter
    // advances before sealing, so the first datagram carries 1 and a failed seal
    // never frees its counter for reuse.
    std::optional<Bytes> seal(ByteView plaintext);

    PacketDirection direction() const { return direction_; }
    // The last counter used; 0 before the first datagram.
    std::uint64_t counter() const { return counter_; }

private:
    friend struct PacketSealerTestAccess;

    std::optional<AesGcm> cipher_;
    PacketDirection direction_;
    std::uint64_t counter_ = 0;
};

} // namespace velm
