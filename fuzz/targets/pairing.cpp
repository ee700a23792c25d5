// The pairing box: any sealed key, host key and binding from the peer; and keys sealed for a real
// offer, which open only with that offer and that binding.
// Input: the sealed key, the host public key and the binding (pieces), then a device key and a peer key.
#include "transport/keys/Pairing.h"

#include "fuzz/FuzzInput.h"
#include "fuzz/Target.h"

#include <cstdlib>
#include <variant>

namespace velm::fuzz {
namespace {

const Bytes offerKey(32, 0x42);

} // namespace

std::vector<Bytes> seeds() {
    const Pairing::Offer offer(*X25519PrivateKey::fromRaw(offerKey));
    const Bytes binding(32, 0x0B);
    const Bytes deviceKey(32, 0xD0);
    const auto sealed = std::get<Pairing::SealedKey>(Pairing::sealKey(deviceKey, offer.publicKey(), binding));
    return {FuzzScript()
                .piece(sealed.sealedKey)
                .piece(sealed.publicKey)
                .piece(binding)
                .bytes(deviceKey)
                .bytes(offer.publicKey())
                .take()};
}

void fuzzOne(const std::uint8_t* data, std::size_t size) {
    static const Pairing::Offer offer(*X25519PrivateKey::fromRaw(fuzz::offerKey));
    fuzz::FuzzInput input(data, size);
    const ByteView sealedKey = input.piece();
    const ByteView hostPublicKey = input.piece();
    const ByteView binding = input.piece();
    Pairing::openKey(sealedKey, hostPublicKey, offer, binding);

    const ByteView deviceKey = input.bytes(32);
    const ByteView peerKey = input.bytes(32);
    const auto sealed = Pairing::sealKey(deviceKey, peerKey, binding);
    const auto* box = std::get_if<Pairing::SealedKey>(&sealed);
    if (box == nullptr ||
        !std::equal(peerKey.begin(), peerKey.end(), offer.publicKey().begin(), offer.publicKey().end())) {
        return;
    }
    const auto opened = Pairing::openKey(box->sealedKey, box->publicKey, offer, binding);
    const auto* key = std::get_if<SecretBytes>(&opened);
    if (deviceKey.size() == Pairing::deviceKeyLength && (key == nullptr || *key != SecretBytes(deviceKey))) {
        std::abort();
    }
    Bytes otherBinding(binding.begin(), binding.end());
    otherBinding.push_back(1); // not 0: HMAC pads a short salt with zeros
    if (std::holds_alternative<SecretBytes>(
            Pairing::openKey(box->sealedKey, box->publicKey, offer, otherBinding))) {
        std::abort(); // bound to the session: no other binding opens it
    }
}

} // namespace velm::fuzz
