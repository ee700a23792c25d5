#pragma once

#include "platform/core/Bytes.h"
#include "platform/crypto/SecretBytes.h"
#include "platform/crypto/X25519PrivateKey.h"

#include <cstddef>
#include <string_view>
#include <variant>

namespace velm {

// Hands a new device its device key inside the pairing connection. The host seals
// the key under AES-256-GCM with a key agreed by X25519 between a one-time host key
// and the device's offer, bound to the TLS session by using the session binding as
// the HKDF salt: a sealed key opens on no other connection.
class Pairing {
public:
    Pairing() = delete;

    static constexpr std::size_t deviceKeyLength = 32;

    enum class Failure {
        // A peer's public key is not a raw 32-byte X25519 key.
        malformedKey,
        // The sealed key does not parse, does not authenticate, or does not hold 32 bytes.
        cannotOpen,
        // The crypto library refused the key agreement (a low-order peer point) or the derivation.
        keyAgreementFailed,
    };

    // The device's side of one pairing attempt: a fresh X25519 key pair.
    class Offer {
    public:
        Offer();
        explicit Offer(X25519PrivateKey privateKey);

        const X25519PrivateKey& privateKey() const { return privateKey_; }
        // The 32 bytes the device sends in its pairing request.
        ByteView publicKey() const { return privateKey_.publicKey(); }

    private:
        X25519PrivateKey privateKey_;
    };

    struct SealedKey {
        Bytes publicKey; // the host's one-time public key, 32 bytes
        Bytes sealedKey; // nonce || ciphertext || tag, 60 bytes for a 32-byte device key
    };

    // A new random 32-byte device key.
    static SecretBytes newKey();

    // Host side: seals `deviceKey` for the device whose pairing public key is
    // `peerPublicKey`, bound to the pairing connection's session binding.
    static std::variant<SealedKey, Failure> sealKey(ByteView deviceKey, ByteView peerPublicKey,
                                                    ByteView binding);

    // Device side: opens the sealed key of the host's response with the offer that
    // made the request and the binding of the device's own end of the connection.
    static std::variant<SecretBytes, Failure> openKey(ByteView sealedKey, ByteView hostPublicKey,
                                                      const Offer& offer, ByteView binding);

    static std::string_view describe(Failure failure);
};

} // namespace velm
