#include "transport/keys/Pairing.h"

#include "platform/crypto/AesGcm.h"
#include "platform/crypto/Hkdf.h"
#include "platform/crypto/Random.h"
#include "platform/crypto/SealedBox.h"

#include <optional>
#include <utility>

namespace velm {

namespace {

constexpr std::string_view pairLabel = "velm-pair-v1";
constexpr std::size_t sealingKeyLength = 32;

// The sealing key both ends derive. The info names the device's key first and the
// host's second, so both ends build the same bytes.
std::optional<AesGcm> sealingCipher(const X25519PrivateKey& ownKey, ByteView peerPublicKey, ByteView binding,
                                    ByteView devicePublicKey, ByteView hostPublicKey) {
    const std::optional<SecretBytes> shared = ownKey.sharedSecret(peerPublicKey);
    if (!shared) {
        return std::nullopt;
    }
    Bytes info;
    info.reserve(pairLabel.size() + devicePublicKey.size() + hostPublicKey.size());
    info.insert(info.end(), pairLabel.begin(), pairLabel.end());
    info.insert(info.end(), devicePublicKey.begin(), devicePublicKey.end());
    info.insert(info.end(), hostPublicKey.begin(), hostPublicKey.end());
    const std::optional<SecretBytes> key = Hkdf::sha256(*shared, binding, info, sealingKeyLength);
    if (!key) {
        return std::nullopt;
    }
    return AesGcm::make(*key);
}

} // namespace

Pairing::Offer::Offer() : privateKey_(X25519PrivateKey::generate()) {}

Pairing::Offer::Offer(X25519PrivateKey privateKey) : privateKey_(std::move(privateKey)) {}

SecretBytes Pairing::newKey() {
    return Random::secret(deviceKeyLength);
}

std::variant<Pairing::SealedKey, Pairing::Failure>
Pairing::sealKey(ByteView deviceKey, ByteView peerPublicKey, ByteView binding) {
    if (!X25519PrivateKey::isValidPublicKey(peerPublicKey)) {
        return Failure::malformedKey;
    }
    const X25519PrivateKey oneTimeKey = X25519PrivateKey::generate();
    std::optional<AesGcm> cipher =
        sealingCipher(oneTimeKey, peerPublicKey, binding, peerPublicKey, oneTimeKey.publicKey());
    if (!cipher) {
        return Failure::keyAgreementFailed;
    }
    const std::optional<SealedBox> box = cipher->seal(deviceKey);
    if (!box) {
        return Failure::cannotOpen;
    }
    const X25519PrivateKey::PublicKey& publicKey = oneTimeKey.publicKey();
    return SealedKey{Bytes(publicKey.begin(), publicKey.end()), box->combined()};
}

std::variant<SecretBytes, Pairing::Failure> Pairing::openKey(ByteView sealedKey, ByteView hostPublicKey,
                                                             const Offer& offer, ByteView binding) {
    if (!X25519PrivateKey::isValidPublicKey(hostPublicKey)) {
        return Failure::malformedKey;
    }
    std::optional<AesGcm> cipher =
        sealingCipher(offer.privateKey(), hostPublicKey, binding, offer.publicKey(), hostPublicKey);
    if (!cipher) {
        return Failure::keyAgreementFailed;
    }
    const std::optional<SealedBox> box = SealedBox::fromCombined(sealedKey);
    if (!box || box->ciphertext.size() != deviceKeyLength) {
        return Failure::cannotOpen;
    }
    SecretBytes deviceKey(deviceKeyLength);
    if (!cipher->open(box->nonce, box->ciphertext, box->tag, {}, {deviceKey.data(), deviceKey.size()})) {
        return Failure::cannotOpen;
    }
    return deviceKey;
}

std::string_view Pairing::describe(Failure failure) {
    switch (failure) {
    case Failure::malformedKey:
        return "malformed public key";
    case Failure::cannotOpen:
        return "cannot open sealed key";
    case Failure::keyAgreementFailed:
        return "key agreement failed";
    }
    return "pairing failed";
}

} // namespace velm
