// Door knocks and replies: raw datagrams, boxes sealed correctly around any plaintext, and knocks
// made by a knocker, whose admission must answer with the port and the session key the knocker gets.
// Input: a mode byte, then what the mode reads.
#include "fuzz/FuzzInput.h"
#include "fuzz/Target.h"
#include "platform/crypto/AesGcm.h"
#include "transport/away/door/Door.h"

#include <array>
#include <cstdlib>
#include <string_view>

namespace velm::fuzz {
namespace {

enum Mode : std::uint8_t { raw, sealedKnock, sealedReply, knocker, modes };

const Bytes deviceKey(32, 0x5A);
const Date anchor(788918400); // the host's clock, give or take what the input adds

ByteView bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The wire's own layout, sealed the way the door seals: the box of a knock carries its label and
// tag as additional data, a reply's its label.
Bytes sealedBox(ByteView plaintext, ByteView associatedData) {
    auto cipher = AesGcm::make(*Door::sealKey(deviceKey));
    return cipher->seal(plaintext, associatedData)->combined();
}

Bytes knockAround(ByteView plaintext, std::uint64_t epoch) {
    const Door::Tag tag = Door::doorTag(deviceKey, epoch);
    Bytes associated = toBytes("velm-knock-v1");
    associated.insert(associated.end(), tag.begin(), tag.end());
    Bytes datagram(tag.begin(), tag.end());
    const Bytes box = sealedBox(plaintext, associated);
    datagram.insert(datagram.end(), box.begin(), box.end());
    return datagram;
}

Door::Knocker knockerFrom(FuzzInput& input) {
    auto key = X25519PrivateKey::fromRaw(input.bytes(32));
    Door::KnockId id{};
    const ByteView idBytes = input.bytes(id.size());
    std::copy(idBytes.begin(), idBytes.end(), id.begin());
    return Door::Knocker(deviceKey, key ? std::move(*key) : X25519PrivateKey::generate(), id);
}

// What a knocker sends: admitted or not, an admission must answer what the knocker reads.
void knockAndAnswer(FuzzInput& input, const Door::Keyring& keyring) {
    const Door::Knocker knocker = knockerFrom(input);
    const Date sent(anchor.secondsSinceReferenceDate() + input.integer<std::int16_t>());
    const auto port = input.integer<std::uint16_t>();
    const auto knock = knocker.knock(Door::epoch(sent), sent);
    auto admission = knock ? keyring.admit(*knock, anchor) : std::nullopt;
    if (!admission) {
        return;
    }
    const auto reply = admission->answer(port == 0 ? std::nullopt : std::optional(port));
    const auto answer = reply ? Door::Reply::open(*reply, knocker) : std::nullopt;
    if (!answer) {
        std::abort();
    }
    if (port == 0) {
        if (!answer->isRefused()) {
            std::abort();
        }
        return;
    }
    const auto sessionKey = admission->sessionKey();
    const auto* admitted = answer->admitted();
    if (admitted == nullptr || admitted->controlPort != port || !sessionKey ||
        admitted->sessionKey != *sessionKey) {
        std::abort();
    }
}

} // namespace

std::vector<Bytes> seeds() {
    const Bytes privateKey(32, 0x11);
    const Bytes id(16, 0x22);
    auto key = *X25519PrivateKey::fromRaw(privateKey);
    Door::KnockId knockId{};
    std::copy(id.begin(), id.end(), knockId.begin());
    const Door::Knocker made(deviceKey, std::move(key), knockId);
    const Bytes knock = *made.knock(Door::epoch(anchor), anchor);
    return {
        FuzzScript().byte(raw).piece(knock).take(),
        FuzzScript()
            .byte(knocker)
            .bytes(privateKey)
            .bytes(id)
            .integer<std::int16_t>(5)
            .integer<std::uint16_t>(40000)
            .take(),
        FuzzScript()
            .byte(knocker)
            .bytes(privateKey)
            .bytes(id)
            .integer<std::int16_t>(-119)
            .integer<std::uint16_t>(0)
            .take(),
        FuzzScript().byte(sealedKnock).byte(0).bytes(Bytes(57, 1)).take(),
        FuzzScript().byte(sealedReply).bytes(privateKey).bytes(id).bytes(Bytes(83, 1)).take(),
    };
}

void fuzzOne(const std::uint8_t* data, std::size_t size) {
    static const std::array<Door::Keyring::Device, 1> devices{{{"DEVICE-1", SecretBytes(deviceKey)}}};
    static const Door::Keyring keyring(devices, anchor);
    FuzzInput input(data, size);
    switch (input.byte() % modes) {
    case raw: {
        const ByteView datagram = input.piece();
        keyring.admit(datagram, anchor);
        Door::Reply::open(datagram, knockerFrom(input));
        break;
    }
    case sealedKnock: {
        const std::uint64_t window = Door::epoch(anchor) - 1 + static_cast<std::uint64_t>(input.byte() % 3);
        keyring.admit(knockAround(input.bytes(57), window), anchor);
        break;
    }
    case sealedReply: {
        const Door::Knocker opener = knockerFrom(input);
        Door::Reply::open(sealedBox(input.bytes(83), bytesOf("velm-knock-reply-v1")), opener);
        break;
    }
    case knocker:
        knockAndAnswer(input, keyring);
        break;
    }
}

} // namespace velm::fuzz
