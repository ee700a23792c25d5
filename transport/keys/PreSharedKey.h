#pragma once

#include "platform/core/Bytes.h"
#include "platform/crypto/SecretBytes.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace velm {

// A TLS pre-shared key: the identity a client presents and the key bytes.
// Two keys are equal when both identity and key are (the key compared in constant time).
class PreSharedKey {
public:
    // The identity of every key derived from a pairing code.
    static constexpr std::string_view pairingIdentity = "velm-psk-v1";
    // The identity of every session admitted through the door.
    static constexpr std::string_view awayIdentity = "velm-away";
    // The identity of the placeholder key that admits nobody.
    static constexpr std::string_view nobodyIdentity = "velm-nobody";
    // The TLS library sends and accepts identities of at most this many bytes.
    static constexpr std::size_t maxIdentityLength = 256;

    // Why a device identifier cannot serve as a TLS identity.
    enum class IdentityError {
        empty,
        tooLong,
        // Carries a NUL byte: the TLS library passes identities as C strings, so
        // it would be cut short and could match another device.
        containsNul,
        // Equals one of the fixed identities above.
        reserved,
    };

    // The key both ends derive from a pairing code: HMAC-SHA256 keyed with the
    // code's UTF-8 bytes over "velm-psk-v1", with that label as identity.
    static PreSharedKey fromSecret(std::string_view secret);
    // The key of a session admitted through the door.
    static PreSharedKey forAway(ByteView sessionKey);
    // A paired device's key, with its identifier as identity. Absent when the
    // identifier is refused (see identityError).
    static std::optional<PreSharedKey> forDevice(std::string_view deviceID, ByteView deviceKey);

    // Why `deviceID` cannot be a device's identity, or nothing when it can.
    static std::optional<IdentityError> identityError(std::string_view deviceID);
    static std::string_view describe(IdentityError error);

    const std::string& identity() const { return identity_; }
    const SecretBytes& key() const { return key_; }

    friend bool operator==(const PreSharedKey& left, const PreSharedKey& right) = default;

private:
    PreSharedKey(std::string identity, SecretBytes key);

    std::string identity_;
    SecretBytes key_;
};

} // namespace velm
