#include "transport/keys/PacketOpener.h"

#include "transport/keys/PacketSealer.h"

namespace velm {

PacketOpener::PacketOpener(SecretBytes key, PacketDirection direction, bool rejectReplays)
    : cipher_(AesGcm::make(key)), direction_(direction), rejectReplays_(rejectReplays) {}

std::optional<Bytes> PacketOpener::open(ByteView datagram) {
    if (datagram.size() < PacketSealer::overhead || !cipher_) {
        return std::nullopt;
    }
    std::uint64_t counter = 0;
    for (std::size_t index = 0; index < PacketSealer::counterLength; ++index) {
        counter = counter << 8 | datagram[index];
    }
    // Such a counter could never be accepted, so it costs no decryption.
    if (rejectReplays_ && counter <= highestCounter_) {
        return std::nullopt;
    }
    const std::size_t plaintextLength = datagram.size() - PacketSealer::overhead;
    const ByteView ciphertext = datagram.subspan(PacketSealer::counterLength, plaintextLength);
    const ByteView tag = datagram.last(AesGcm::tagLength);
    Bytes plaintext(plaintextLength);
    if (!cipher_->open(PacketNonce::make(direction_, counter), ciphertext, tag, {}, plaintext)) {
        return std::nullopt;
    }
    // Raised only after authentication, so a forged datagram never moves the mark.
    if (rejectReplays_) {
        highestCounter_ = counter;
    }
    return plaintext;
}

} // namespace velm
