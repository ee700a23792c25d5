#include "transport/away/door/Door.h"

#include "platform/crypto/AesGcm.h"
#include "platform/crypto/Hkdf.h"
#include "platform/crypto/SealedBox.h"
#include "protocol/ByteReader.h"
#include "protocol/ByteWriter.h"
#include "protocol/WireError.h"
#include "transport/channel/VelmService.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace velm {

namespace {

constexpr std::string_view tagLabel = "velm-door-tag-v1";
constexpr std::string_view portLabel = "velm-door-port-v1";
constexpr std::string_view sealLabel = "velm-door-seal-v1";
constexpr std::string_view knockLabel = "velm-knock-v1";
constexpr std::string_view replyLabel = "velm-knock-reply-v1";
constexpr std::string_view sessionLabel = "velm-door-session-v1";

constexpr std::uint8_t version = 1;
constexpr std::uint8_t admittedCode = 0;
constexpr std::uint8_t refusedCode = 1;
constexpr std::size_t knockPlaintextLength = 1 + 8 + Door::knockIdLength + X25519PrivateKey::keyLength;
constexpr std::size_t replyPlaintextLength = 1 + 1 + Door::knockIdLength + 2 + X25519PrivateKey::keyLength;
static_assert(Door::knockLength == Door::tagLength + SealedBox::minimumCombinedLength + knockPlaintextLength);
static_assert(Door::replyLength == SealedBox::minimumCombinedLength + replyPlaintextLength);

ByteView asBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

double unixSeconds(Date date) {
    return date.secondsSinceReferenceDate() + Date::referenceDateInUnixTime;
}

// Truncates toward zero into 0...2^64-1; NaN and negative values give 0, so no
// conversion is ever out of range.
std::uint64_t truncatedUInt64(double value) {
    constexpr double limit = 18446744073709551616.0; // 2^64
    if (!(value > 0)) {
        return 0;
    }
    if (value >= limit) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    return static_cast<std::uint64_t>(value);
}

std::uint64_t millisecondsSince1970(Date date) {
    return truncatedUInt64(unixSeconds(date) * 1000);
}

// The additional data of a knock: its label, then the tag it carries in clear.
std::array<std::uint8_t, knockLabel.size() + Door::tagLength> knockAssociatedData(ByteView tag) {
    std::array<std::uint8_t, knockLabel.size() + Door::tagLength> data{};
    std::copy(knockLabel.begin(), knockLabel.end(), data.begin());
    std::copy(tag.begin(), tag.end(), data.begin() + knockLabel.size());
    return data;
}

std::optional<AesGcm> sealCipher(ByteView deviceKey) {
    const std::optional<SecretBytes> key = Door::sealKey(deviceKey);
    return key ? AesGcm::make(*key) : std::nullopt;
}

// A knock's or a reply's box, sealed under the seal key of the device key.
std::optional<SealedBox> sealed(ByteView deviceKey, ByteView plaintext, ByteView associatedData) {
    std::optional<AesGcm> cipher = sealCipher(deviceKey);
    return cipher ? cipher->seal(plaintext, associatedData) : std::nullopt;
}

// The plaintext of a knock's or a reply's combined box, or nothing when it does not open.
std::optional<Bytes> opened(std::optional<AesGcm> cipher, ByteView combined, ByteView associatedData) {
    const std::optional<SealedBox> box = SealedBox::fromCombined(combined);
    return cipher && box ? cipher->open(*box, associatedData) : std::nullopt;
}

template <std::size_t length> std::array<std::uint8_t, length> readArray(ByteReader& reader) {
    const Bytes bytes = reader.readBytes(static_cast<std::ptrdiff_t>(length));
    std::array<std::uint8_t, length> result{};
    std::copy(bytes.begin(), bytes.end(), result.begin());
    return result;
}

// Both ends' key: X25519 of one side's private key with the other's public key, then
// HKDF salted with the device key over the label, the knock id and both public keys
// (the knocker's first).
std::optional<SecretBytes> deriveSessionKey(const X25519PrivateKey& ownKey, ByteView peerPublicKey,
                                            ByteView deviceKey, const Door::KnockId& id,
                                            ByteView knockerPublicKey, ByteView hostPublicKey) {
    const std::optional<SecretBytes> shared = ownKey.sharedSecret(peerPublicKey);
    if (!shared) {
        return std::nullopt;
    }
    ByteWriter info(sessionLabel.size() + id.size() + knockerPublicKey.size() + hostPublicKey.size());
    info.writeBytes(asBytes(sessionLabel));
    info.writeBytes(id);
    info.writeBytes(knockerPublicKey);
    info.writeBytes(hostPublicKey);
    return Hkdf::sha256(*shared, deviceKey, info.data(), Door::sessionKeyLength);
}

Door::KnockId randomKnockId() {
    Door::KnockId id{};
    const Bytes random = VelmService::randomBytes(Door::knockIdLength);
    std::copy(random.begin(), random.end(), id.begin());
    return id;
}

} // namespace

std::uint64_t Door::epoch(Date date) {
    return truncatedUInt64(unixSeconds(date) / windowSeconds);
}

std::vector<std::uint64_t> Door::acceptedEpochs(Date date) {
    const std::uint64_t current = epoch(date);
    std::vector<std::uint64_t> epochs{current};
    if (current < std::numeric_limits<std::uint64_t>::max()) {
        epochs.push_back(current + 1);
    }
    if (current > 0) {
        epochs.push_back(current - 1);
    }
    return epochs;
}

Hmac::Code Door::labelCode(std::string_view label, ByteView key, std::uint64_t number) {
    ByteWriter suffix(8);
    suffix.writeInteger(number);
    return Hmac::sha256(key, {asBytes(label), suffix.data()});
}

Door::Tag Door::doorTag(ByteView deviceKey, std::uint64_t epoch) {
    const Hmac::Code code = labelCode(tagLabel, deviceKey, epoch);
    Tag tag{};
    std::copy_n(code.begin(), tag.size(), tag.begin());
    return tag;
}

std::uint16_t Door::doorPort(ByteView deviceKey, std::uint64_t epoch) {
    const Hmac::Code code = labelCode(portLabel, deviceKey, epoch);
    ByteReader reader(code);
    return static_cast<std::uint16_t>(firstPort + reader.readUInt32() % portCount);
}

std::optional<SecretBytes> Door::sealKey(ByteView deviceKey) {
    return Hkdf::sha256(deviceKey, {}, asBytes(sealLabel), 32);
}

bool Door::keepsSpentKnock(Date spentAt, Date now) {
    // Written so that a NaN keeps the id rather than forgets it.
    return !(now.secondsSince(spentAt) > spentKnockSeconds);
}

// Knocker

Door::Knocker::Knocker(ByteView deviceKey)
    : Knocker(deviceKey, X25519PrivateKey::generate(), randomKnockId()) {}

Door::Knocker::Knocker(ByteView deviceKey, X25519PrivateKey privateKey, const KnockId& id)
    : privateKey_(std::move(privateKey)), deviceKey_(deviceKey), id_(id) {}

std::optional<Bytes> Door::Knocker::knock(std::uint64_t epoch, Date now) const {
    ByteWriter plaintext(knockPlaintextLength);
    plaintext.writeUInt8(version);
    plaintext.writeInteger(millisecondsSince1970(now));
    plaintext.writeBytes(id_);
    plaintext.writeBytes(privateKey_.publicKey());

    const Tag tag = doorTag(deviceKey_, epoch);
    const std::optional<SealedBox> box = sealed(deviceKey_, plaintext.data(), knockAssociatedData(tag));
    if (!box) {
        return std::nullopt;
    }
    ByteWriter datagram(knockLength);
    datagram.writeBytes(tag);
    datagram.writeBytes(box->combined());
    return std::move(datagram).data();
}

// Admission

Door::Admission::Admission(std::string deviceID, Knock knock, SecretBytes deviceKey,
                           std::optional<X25519PrivateKey> hostKey)
    : deviceID_(std::move(deviceID)), knock_(knock), deviceKey_(std::move(deviceKey)),
      hostKey_(std::move(hostKey)) {}

const X25519PrivateKey& Door::Admission::hostKey() {
    if (!hostKey_) {
        hostKey_ = X25519PrivateKey::generate();
    }
    return *hostKey_;
}

std::optional<SecretBytes> Door::Admission::sessionKey() {
    const X25519PrivateKey& host = hostKey();
    return deriveSessionKey(host, knock_.publicKey, deviceKey_, knock_.id, knock_.publicKey,
                            host.publicKey());
}

std::optional<Bytes> Door::Admission::answer(std::optional<std::uint16_t> controlPort) {
    ByteWriter plaintext(replyPlaintextLength);
    plaintext.writeUInt8(version);
    plaintext.writeUInt8(controlPort ? admittedCode : refusedCode);
    plaintext.writeBytes(knock_.id);
    plaintext.writeInteger(controlPort.value_or(0));
    plaintext.writeBytes(hostKey().publicKey());

    const std::optional<SealedBox> box = sealed(deviceKey_, plaintext.data(), asBytes(replyLabel));
    if (!box) {
        return std::nullopt;
    }
    return box->combined();
}

// Keyring

Door::Keyring::Keyring(std::span<const Device> devices, Date now) {
    const std::vector<std::uint64_t> windows = acceptedEpochs(now);
    for (const Device& device : devices) {
        std::optional<SecretBytes> sealKey = Door::sealKey(device.key);
        if (!sealKey) {
            continue;
        }
        for (std::uint64_t window : windows) {
            byTag_.insert_or_assign(doorTag(device.key, window),
                                    Entry{device.id, device.key, window, *sealKey});
        }
    }
}

std::optional<Door::Admission> Door::Keyring::admit(ByteView datagram, Date now) const {
    if (datagram.size() != knockLength) {
        return std::nullopt;
    }
    Tag tag{};
    std::copy_n(datagram.begin(), tagLength, tag.begin());
    const auto found = byTag_.find(tag);
    if (found == byTag_.end()) {
        return std::nullopt;
    }
    const Entry& entry = found->second;

    const std::optional<Bytes> plaintext =
        opened(AesGcm::make(entry.sealKey), datagram.subspan(tagLength), knockAssociatedData(tag));
    if (!plaintext) {
        return std::nullopt;
    }

    Knock knock;
    try {
        ByteReader reader(*plaintext);
        if (reader.readUInt8() != version) {
            return std::nullopt;
        }
        knock.sentAt = Date(static_cast<double>(reader.readInteger<std::uint64_t>()) / 1000 -
                            Date::referenceDateInUnixTime);
        knock.id = readArray<knockIdLength>(reader);
        knock.publicKey = readArray<X25519PrivateKey::keyLength>(reader);
    } catch (const WireError&) {
        return std::nullopt;
    }
    // Written so that a NaN date is refused.
    if (!(std::fabs(knock.sentAt.secondsSince(now)) <= maxClockSkewSeconds)) {
        return std::nullopt;
    }
    return Admission(entry.deviceID, knock, entry.key);
}

// Reply

std::optional<Door::Answer> Door::Reply::open(ByteView datagram, const Knocker& knocker) {
    if (datagram.size() != replyLength) {
        return std::nullopt;
    }
    const std::optional<Bytes> plaintext =
        opened(sealCipher(knocker.deviceKey()), datagram, asBytes(replyLabel));
    if (!plaintext) {
        return std::nullopt;
    }

    std::uint8_t code = 0;
    KnockId id{};
    std::uint16_t port = 0;
    PublicKey hostPublicKey{};
    try {
        ByteReader reader(*plaintext);
        if (reader.readUInt8() != version) {
            return std::nullopt;
        }
        code = reader.readUInt8();
        id = readArray<knockIdLength>(reader);
        port = reader.readUInt16();
        hostPublicKey = readArray<X25519PrivateKey::keyLength>(reader);
    } catch (const WireError&) {
        return std::nullopt;
    }
    if (id != knocker.id()) {
        return std::nullopt;
    }
    if (code != admittedCode || port == 0) {
        return Answer(Answer::Refused{});
    }
    const X25519PrivateKey& own = knocker.privateKey();
    std::optional<SecretBytes> key =
        deriveSessionKey(own, hostPublicKey, knocker.deviceKey(), id, own.publicKey(), hostPublicKey);
    if (!key) {
        return std::nullopt;
    }
    return Answer(Answer::Admitted{port, std::move(*key)});
}

} // namespace velm
