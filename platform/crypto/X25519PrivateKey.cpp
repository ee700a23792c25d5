#include "platform/crypto/X25519PrivateKey.h"

#include "platform/crypto/OpenSsl.h"

namespace velm {

namespace {

std::shared_ptr<EVP_PKEY> share(EVP_PKEY* key) {
    return {key, openssl::Pkey::deleter_type()};
}

openssl::Pkey parseX25519PublicKey(ByteView raw) {
    if (raw.size() != X25519PrivateKey::keyLength) {
        return nullptr;
    }
    return openssl::Pkey(EVP_PKEY_new_raw_public_key_ex(nullptr, "X25519", nullptr, raw.data(), raw.size()));
}

} // namespace

X25519PrivateKey::X25519PrivateKey(std::shared_ptr<EVP_PKEY> key) : key_(std::move(key)) {
    std::size_t length = publicKey_.size();
    if (EVP_PKEY_get_raw_public_key(key_.get(), publicKey_.data(), &length) != 1 || length != keyLength) {
        openssl::fatal("x25519 public key");
    }
}

X25519PrivateKey X25519PrivateKey::generate() {
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "X25519");
    if (key == nullptr) {
        openssl::fatal("x25519 key generation");
    }
    return X25519PrivateKey(share(key));
}

std::optional<X25519PrivateKey> X25519PrivateKey::fromRaw(ByteView raw) {
    if (raw.size() != keyLength) {
        return std::nullopt;
    }
    EVP_PKEY* key = EVP_PKEY_new_raw_private_key_ex(nullptr, "X25519", nullptr, raw.data(), raw.size());
    if (key == nullptr) {
        return std::nullopt;
    }
    return X25519PrivateKey(share(key));
}

bool X25519PrivateKey::isValidPublicKey(ByteView raw) {
    return parseX25519PublicKey(raw) != nullptr;
}

std::optional<SecretBytes> X25519PrivateKey::sharedSecret(ByteView peerPublicKey) const {
    const openssl::Pkey peer = parseX25519PublicKey(peerPublicKey);
    if (!peer) {
        return std::nullopt;
    }
    const openssl::PkeyContext context(EVP_PKEY_CTX_new_from_pkey(nullptr, key_.get(), nullptr));
    std::size_t length = keyLength;
    SecretBytes secret(keyLength);
    // The library refuses a peer point whose shared secret is all zeros.
    if (!context || EVP_PKEY_derive_init(context.get()) != 1 ||
        EVP_PKEY_derive_set_peer(context.get(), peer.get()) != 1 ||
        EVP_PKEY_derive(context.get(), secret.data(), &length) != 1 || length != keyLength) {
        return std::nullopt;
    }
    return secret;
}

} // namespace velm
