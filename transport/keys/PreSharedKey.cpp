#include "transport/keys/PreSharedKey.h"

#include "platform/crypto/Hmac.h"
#include "platform/crypto/SecureWipe.h"

#include <utility>

namespace velm {

namespace {

// Reads text as its bytes in place, so no unwiped copy of a secret is made.
ByteView asBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

} // namespace

PreSharedKey::PreSharedKey(std::string identity, SecretBytes key)
    : identity_(std::move(identity)), key_(std::move(key)) {}

PreSharedKey PreSharedKey::fromSecret(std::string_view secret) {
    Hmac::Code code = Hmac::sha256(asBytes(secret), {asBytes(pairingIdentity)});
    PreSharedKey key{std::string(pairingIdentity), SecretBytes(code)};
    secureWipe(code);
    return key;
}

PreSharedKey PreSharedKey::forAway(ByteView sessionKey) {
    return PreSharedKey(std::string(awayIdentity), SecretBytes(sessionKey));
}

std::optional<PreSharedKey> PreSharedKey::forDevice(std::string_view deviceID, ByteView deviceKey) {
    if (identityError(deviceID)) {
        return std::nullopt;
    }
    return PreSharedKey(std::string(deviceID), SecretBytes(deviceKey));
}

std::optional<PreSharedKey::IdentityError> PreSharedKey::identityError(std::string_view deviceID) {
    if (deviceID.empty()) {
        return IdentityError::empty;
    }
    if (deviceID.size() > maxIdentityLength) {
        return IdentityError::tooLong;
    }
    if (deviceID.find('\0') != std::string_view::npos) {
        return IdentityError::containsNul;
    }
    if (deviceID == pairingIdentity || deviceID == awayIdentity || deviceID == nobodyIdentity) {
        return IdentityError::reserved;
    }
    return std::nullopt;
}

std::string_view PreSharedKey::describe(IdentityError error) {
    switch (error) {
    case IdentityError::empty:
        return "device identifier is empty";
    case IdentityError::tooLong:
        return "device identifier is longer than 256 bytes";
    case IdentityError::containsNul:
        return "device identifier contains a nul byte";
    case IdentityError::reserved:
        return "device identifier is a reserved identity";
    }
    return "device identifier is refused";
}

} // namespace velm
