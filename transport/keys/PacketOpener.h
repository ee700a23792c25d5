#pragma once

#include "platform/core/Bytes.h"
#include "platform/crypto/AesGcm.h"
#include "platform/crypto/SecretBytes.h"
#include "transport/keys/PacketDirection.h"

#include <cstdint>
#include <optional>

namespace velm {

// Opens datagrams sealed by the other side's PacketSealer. It is given the sealer's
// direction, since it rebuilds the sealer's nonce. With replay rejection it accepts
// only counters strictly above the highest accepted so far (no window: a datagram
// overtaken by a later one is refused), and only after authentication, so a forged
// datagram never moves the mark. Not thread-safe: the owner serialises its use.
class PacketOpener {
public:
    // A key that is not 16, 24 or 32 bytes gives an opener that refuses everything.
    PacketOpener(SecretBytes key, PacketDirection direction, bool rejectReplays);
    PacketOpener(PacketOpener&& other) noexcept = default;
    PacketOpener& operator=(PacketOpener&& other) noexcept = default;
    PacketOpener(const PacketOpener&) = delete;
    PacketOpener& operator=(const PacketOpener&) = delete;

    // The plaintext, or absent when the datagram is too short, does not
    // authenticate, or is a replay.
    std::optional<Bytes> open(ByteView datagram);

    PacketDirection direction() const { return direction_; }
    bool rejectsReplays() const { return rejectReplays_; }
    std::uint64_t highestCounter() const { return highestCounter_; }

private:
    std::optional<AesGcm> cipher_;
    PacketDirection direction_;
    bool rejectReplays_;
    std::uint64_t highestCounter_ = 0;
};

} // namespace velm
