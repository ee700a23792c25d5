#include "transport/keys/HelloProof.h"

#include "platform/crypto/Hmac.h"

#include <string_view>

namespace velm {

namespace {

constexpr std::string_view helloLabel = "velm-hello-v1";

ByteView label() {
    return {reinterpret_cast<const std::uint8_t*>(helloLabel.data()), helloLabel.size()};
}

} // namespace

Bytes helloProof(ByteView deviceKey, ByteView binding) {
    const Hmac::Code proof = Hmac::sha256(deviceKey, {label(), binding});
    return Bytes(proof.begin(), proof.end());
}

bool isValidHelloProof(ByteView proof, ByteView deviceKey, ByteView binding) {
    return Hmac::isValidSha256(proof, deviceKey, {label(), binding});
}

} // namespace velm
