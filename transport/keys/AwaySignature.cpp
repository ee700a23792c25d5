#include "transport/keys/AwaySignature.h"

#include "platform/crypto/EcdsaP256.h"

#include <algorithm>
#include <string_view>

namespace velm {

namespace {

constexpr std::string_view awayLabel = "velm-away-signature-v1";

} // namespace

Bytes awaySignedMessage(ByteView payload) {
    Bytes message(awayLabel.size() + payload.size());
    std::copy(payload.begin(), payload.end(), std::copy(awayLabel.begin(), awayLabel.end(), message.begin()));
    return message;
}

bool isValidAwaySignature(ByteView signature, ByteView publicKey, ByteView payload) {
    return EcdsaP256::isValidSignature(signature, publicKey, awaySignedMessage(payload));
}

bool isValidAwayPublicKey(ByteView x963) {
    return EcdsaP256::isValidPublicKey(x963);
}

} // namespace velm
