#pragma once

#include "platform/core/Bytes.h"
#include "platform/crypto/SecretBytes.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <openssl/evp.h>
#include <optional>

namespace velm {

// An X25519 key-agreement private key. Keys travel as raw 32-byte strings. The key
// never changes, so copies share it; the library wipes it when the last copy goes.
class X25519PrivateKey {
public:
    static constexpr std::size_t keyLength = 32;
    using PublicKey = std::array<std::uint8_t, keyLength>;

    static X25519PrivateKey generate();
    // Absent unless `raw` is 32 bytes.
    static std::optional<X25519PrivateKey> fromRaw(ByteView raw);
    // Any 32 bytes form a public key; other lengths do not.
    static bool isValidPublicKey(ByteView raw);

    const PublicKey& publicKey() const { return publicKey_; }

    // The 32-byte shared secret with a peer's raw public key. Absent for a key of the
    // wrong length, or a low-order point whose shared secret would be all zeros.
    std::optional<SecretBytes> sharedSecret(ByteView peerPublicKey) const;

private:
    explicit X25519PrivateKey(std::shared_ptr<EVP_PKEY> key);

    std::shared_ptr<EVP_PKEY> key_;
    PublicKey publicKey_{};
};

} // namespace velm
