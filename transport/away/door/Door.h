#pragma once

#include "platform/core/Bytes.h"
#include "platform/core/Date.h"
#include "platform/crypto/Hmac.h"
#include "platform/crypto/SecretBytes.h"
#include "platform/crypto/X25519PrivateKey.h"
#include "transport/keys/PreSharedKey.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace velm {

// The knock protocol by which a paired device outside the home network proves, in
// one UDP datagram, that it holds its device key, and learns in one datagram the
// port of a session listener opened for it and the material for a fresh session key.
//
// A knock (93 bytes) is an 8-byte door tag in clear, by which the host finds the one
// device key to try, then an AES-256-GCM box under the device's seal key holding the
// version, the sending time, a 16-byte knock id and the knocker's ephemeral X25519
// key. The reply (80 bytes) is a box under the same seal key holding the answer, the
// knock id, the control port and the host's ephemeral X25519 key. Both ends derive
// the session key from the agreement of those two keys, salted with the device key.
//
// Door ports and tags change with every 600 s window (epoch). The device key is only
// ever keying material here; it is never sent. Everything is a pure computation over
// values: no state, no threads, no logging; every failure is an absent result.
namespace Door {

// The TLS identity of every control channel opened through the door; its key is
// the session key.
inline constexpr std::string_view awayIdentity = PreSharedKey::awayIdentity;
inline constexpr std::size_t tagLength = 8;
inline constexpr std::size_t knockIdLength = 16;
inline constexpr std::size_t knockLength = 93;
inline constexpr std::size_t replyLength = 80;
inline constexpr std::size_t sessionKeyLength = 32;
inline constexpr double windowSeconds = 600;
// How far a knock's sending time may lie from the host's clock, either way, inclusive.
inline constexpr double maxClockSkewSeconds = 120;
// How long the host keeps an admitted knock id as spent. A knock admitted at t was
// sent within t +/- 120 s, so a copy of it is accepted until t + 240 s inclusive;
// the margin covers the rounding of the millisecond timestamp and a late prune.
inline constexpr double spentKnockSeconds = 2 * maxClockSkewSeconds + 10;
// Door ports lie in [firstPort, firstPort + portCount).
inline constexpr std::uint16_t firstPort = 20000;
inline constexpr std::uint32_t portCount = 28000;

using Tag = std::array<std::uint8_t, tagLength>;
using KnockId = std::array<std::uint8_t, knockIdLength>;
using PublicKey = X25519PrivateKey::PublicKey;

// The window of a date: seconds since 1970 (negative counted as 0) / 600, truncated.
std::uint64_t epoch(Date date);
// The windows a knock may name at that date: e, e + 1, e - 1 (only those that exist).
std::vector<std::uint64_t> acceptedEpochs(Date date);
// HMAC-SHA256 keyed with `key` over the label's bytes and `number` as 8 bytes big-endian.
Hmac::Code labelCode(std::string_view label, ByteView key, std::uint64_t number);
Tag doorTag(ByteView deviceKey, std::uint64_t epoch);
std::uint16_t doorPort(ByteView deviceKey, std::uint64_t epoch);
// The AES-256-GCM key that seals knocks and replies of this device key.
std::optional<SecretBytes> sealKey(ByteView deviceKey);
// The replay guard: whether an id spent (admitted) at `spentAt` must still be kept at
// `now`. A clock that went back keeps it too.
bool keepsSpentKnock(Date spentAt, Date now);

// A knock as the host reads it.
struct Knock {
    // Whole milliseconds on the wire.
    Date sentAt;
    KnockId id{};
    // The knocker's raw X25519 public key, as sent (not checked until it is used).
    PublicKey publicKey{};

    friend bool operator==(const Knock&, const Knock&) = default;
};

// The device's side: one ephemeral key pair and one knock id for the life of one
// attempt, so every knock it sends (several windows, resends) names the same
// session and any of the host's replies opens on it.
class Knocker {
public:
    // Draws a fresh private key and a random knock id.
    explicit Knocker(ByteView deviceKey);
    Knocker(ByteView deviceKey, X25519PrivateKey privateKey, const KnockId& id);

    // The 93-byte knock for window `epoch`, stamped with `now`; absent when sealing fails.
    std::optional<Bytes> knock(std::uint64_t epoch, Date now) const;

    const KnockId& id() const { return id_; }
    const X25519PrivateKey& privateKey() const { return privateKey_; }
    const SecretBytes& deviceKey() const { return deviceKey_; }

private:
    X25519PrivateKey privateKey_;
    SecretBytes deviceKey_;
    KnockId id_{};
};

// What the host's reply tells the knocker.
class Answer {
public:
    struct Admitted {
        std::uint16_t controlPort = 0;
        SecretBytes sessionKey;

        friend bool operator==(const Admitted&, const Admitted&) = default;
    };
    struct Refused {
        friend bool operator==(const Refused&, const Refused&) = default;
    };

    Answer(Admitted admitted) : case_(std::move(admitted)) {}
    Answer(Refused refused) : case_(refused) {}

    // The admission's port and key, or null for a refusal.
    const Admitted* admitted() const { return std::get_if<Admitted>(&case_); }
    bool isRefused() const { return std::holds_alternative<Refused>(case_); }

    friend bool operator==(const Answer&, const Answer&) = default;

private:
    std::variant<Admitted, Refused> case_;
};

// The host's result of a good knock. It cannot be copied: the host key is drawn on
// first use (so a knock dropped afterwards as a replay costs no key generation),
// and two copies would draw two keys and answer with a key other than the session's.
class Admission {
public:
    Admission(std::string deviceID, Knock knock, SecretBytes deviceKey,
              std::optional<X25519PrivateKey> hostKey = std::nullopt);
    Admission(Admission&&) = default;
    Admission& operator=(Admission&&) = default;
    Admission(const Admission&) = delete;
    Admission& operator=(const Admission&) = delete;

    const std::string& deviceID() const { return deviceID_; }
    const Knock& knock() const { return knock_; }
    const SecretBytes& deviceKey() const { return deviceKey_; }

    // The 32-byte session key; absent when the knock's public key admits no agreement.
    std::optional<SecretBytes> sessionKey();
    // The 80-byte reply: admitted on `controlPort`, or refused without one. Absent
    // when sealing fails.
    std::optional<Bytes> answer(std::optional<std::uint16_t> controlPort);

private:
    const X25519PrivateKey& hostKey();

    std::string deviceID_;
    Knock knock_;
    SecretBytes deviceKey_;
    std::optional<X25519PrivateKey> hostKey_;
};

// The host's map from the door tags of one moment to the devices they belong to.
class Keyring {
public:
    struct Device {
        std::string id;
        SecretBytes key;
    };
    struct Entry {
        std::string deviceID;
        SecretBytes key;
        // The window the tag was made for.
        std::uint64_t window = 0;
        // Derived once here rather than for every knock.
        SecretBytes sealKey;
    };

    // Recognises nothing.
    Keyring() = default;
    // The tags of every device for every accepted window at `now`. When two tags
    // coincide, the device later in the list owns it.
    Keyring(std::span<const Device> devices, Date now);

    bool empty() const { return byTag_.empty(); }
    const std::map<Tag, Entry>& byTag() const { return byTag_; }

    // The admission of a knock datagram at `now`, or absent when it is not exactly
    // a knock, names no tag held here, does not open under that device's key,
    // carries another version or was sent more than 120 s from `now`. Whether its
    // id was seen before is the caller's to check.
    std::optional<Admission> admit(ByteView datagram, Date now) const;

private:
    std::map<Tag, Entry> byTag_;
};

// The device's opening of a reply.
namespace Reply {

// Absent unless the datagram is a reply to this knocker's knock that opens and
// reads; refused for a refusal or a port of 0; else admitted with the session key.
std::optional<Answer> open(ByteView datagram, const Knocker& knocker);

} // namespace Reply
} // namespace Door

} // namespace velm
