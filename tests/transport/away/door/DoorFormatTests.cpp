#include "platform/crypto/AesGcm.h"
#include "platform/crypto/Random.h"
#include "tests/support/TestVectors.h"
#include "tests/transport/away/door/DoorVectors.h"
#include "transport/away/door/Door.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <string>

namespace velm {
namespace {

using test::asBytes;
using test::doorNumber;
using test::doorVector;
using test::extended;
using test::flipped;

Date unixDate(double seconds) {
    return Date(seconds - Date::referenceDateInUnixTime);
}

Door::KnockId knockId(ByteView bytes) {
    Door::KnockId id{};
    std::copy(bytes.begin(), bytes.end(), id.begin());
    return id;
}

X25519PrivateKey privateKey(const Bytes& raw) {
    std::optional<X25519PrivateKey> key = X25519PrivateKey::fromRaw(raw);
    EXPECT_TRUE(key.has_value());
    return key ? *key : X25519PrivateKey::generate();
}

using Devices = std::vector<Door::Keyring::Device>;

AesGcm sealCipher(ByteView deviceKey) {
    return *AesGcm::make(*Door::sealKey(deviceKey));
}

Bytes knockAssociatedData(ByteView tag) {
    Bytes data = toBytes("velm-knock-v1");
    data.insert(data.end(), tag.begin(), tag.end());
    return data;
}

// A knock datagram around any plaintext, sealed as the device would.
Bytes sealKnock(ByteView deviceKey, const Door::Tag& tag, ByteView plaintext) {
    Bytes datagram(tag.begin(), tag.end());
    const Bytes box = sealCipher(deviceKey).seal(plaintext, knockAssociatedData(tag))->combined();
    datagram.insert(datagram.end(), box.begin(), box.end());
    return datagram;
}

Bytes openKnock(ByteView deviceKey, ByteView datagram) {
    const SealedBox box = *SealedBox::fromCombined(datagram.subspan(Door::tagLength));
    return sealCipher(deviceKey)
        .open(box, knockAssociatedData(datagram.first(Door::tagLength)))
        .value_or(Bytes{});
}

Bytes sealReply(ByteView deviceKey, ByteView plaintext) {
    return sealCipher(deviceKey).seal(plaintext, toBytes("velm-knock-reply-v1"))->combined();
}
Bytes openReply(ByteView deviceKey, ByteView datagram) {
    const SealedBox box = *SealedBox::fromCombined(datagram);
    return sealCipher(deviceKey).open(box, toBytes("velm-knock-reply-v1")).value_or(Bytes{});
}

TEST(DoorEpochTest, CountsWindowsOf600SecondsFrom1970) {
    EXPECT_EQ(Door::epoch(unixDate(-5000)), 0u);
    EXPECT_EQ(Door::epoch(unixDate(599.9)), 0u);
    EXPECT_EQ(Door::epoch(unixDate(600)), 1u);
    EXPECT_EQ(Door::epoch(unixDate(1700000000.123)), 2833333u);
    EXPECT_EQ(Door::epoch(Date(std::numeric_limits<double>::quiet_NaN())), 0u);
    EXPECT_EQ(Door::epoch(Date(std::numeric_limits<double>::infinity())),
              std::numeric_limits<std::uint64_t>::max());
}

TEST(DoorEpochTest, AcceptsTheCurrentNextAndPreviousWindow) {
    using Epochs = std::vector<std::uint64_t>;
    EXPECT_EQ(Door::acceptedEpochs(unixDate(-1)), (Epochs{0, 1}));
    EXPECT_EQ(Door::acceptedEpochs(unixDate(5 * 600 + 599.9)), (Epochs{5, 6, 4}));
    const std::uint64_t last = std::numeric_limits<std::uint64_t>::max();
    EXPECT_EQ(Door::acceptedEpochs(Date(std::numeric_limits<double>::infinity())), (Epochs{last, last - 1}));
}

TEST(DoorCodeTest, TagsPortsAndSealKeysMatchAnIndependentImplementation) {
    EXPECT_EQ(asBytes(Door::doorTag(Bytes(32, 0x01), 5)), test::fromHex("2620b7374d81955d"));
    EXPECT_EQ(Door::doorPort(Bytes(32, 0x01), 5), 44331);
    for (const std::string key : {"ones", "device"}) {
        const Bytes deviceKey = doorVector("key_" + key);
        EXPECT_EQ(asBytes(*Door::sealKey(deviceKey)), doorVector("seal_key_" + key));
        for (const std::uint64_t epoch : {0ull, 1ull, 5ull, 2833333ull, 18446744073709551615ull}) {
            const std::string name = key + "_" + std::to_string(epoch);
            EXPECT_EQ(asBytes(Door::labelCode("velm-door-tag-v1", deviceKey, epoch)),
                      doorVector("label_code_" + name));
            EXPECT_EQ(asBytes(Door::doorTag(deviceKey, epoch)), doorVector("tag_" + name));
            EXPECT_EQ(Door::doorPort(deviceKey, epoch), doorNumber("port_" + name)) << name;
        }
    }
}

// The knock recorded by the independent implementation, and the knocker that made it.
class RecordedKnockTest : public ::testing::Test {
protected:
    const Bytes deviceKey = doorVector("key_device");
    const Bytes knock = doorVector("knock");
    const Date sentAt = unixDate(static_cast<double>(doorNumber("knock_sent_ms")) / 1000);
    const Door::Knocker knocker{deviceKey, privateKey(doorVector("knocker_private")),
                                knockId(doorVector("knock_id"))};
    const Devices list{{"phone", SecretBytes(deviceKey)}};
    const Door::Keyring keyring{list, sentAt};
};

TEST_F(RecordedKnockTest, KnockerWritesTheRecordedPlaintext) {
    const Bytes ours = knocker.knock(doorNumber("knock_epoch"), sentAt).value_or(Bytes{});
    ASSERT_EQ(ours.size(), Door::knockLength);
    EXPECT_EQ(openKnock(deviceKey, ours), doorVector("knock_plaintext"));
}

TEST_F(RecordedKnockTest, HostAdmitsTheKnockAndMatchesTheRecordedSessionKeyAndReplies) {
    std::optional<Door::Admission> admitted = keyring.admit(knock, sentAt);
    ASSERT_TRUE(admitted.has_value());
    EXPECT_EQ(admitted->deviceID(), "phone");
    EXPECT_EQ(admitted->knock(), (Door::Knock{sentAt, knocker.id(), knocker.privateKey().publicKey()}));
    Door::Admission admission(admitted->deviceID(), admitted->knock(), admitted->deviceKey(),
                              privateKey(doorVector("host_private")));
    EXPECT_EQ(asBytes(admission.sessionKey().value()), doorVector("session_key"));

    // A refusal still carries the host's public key.
    for (const auto& [port, name] : {std::pair<std::optional<std::uint16_t>, std::string>(40123, "admitted"),
                                     {std::nullopt, "refused"}}) {
        const Bytes reply = admission.answer(port).value_or(Bytes{});
        ASSERT_EQ(reply.size(), Door::replyLength);
        EXPECT_EQ(openReply(deviceKey, reply), doorVector("reply_plaintext_" + name));
    }
}

TEST_F(RecordedKnockTest, KnockerOpensTheRecordedReplies) {
    const std::optional<Door::Answer> admitted = Door::Reply::open(doorVector("reply_admitted"), knocker);
    ASSERT_TRUE(admitted.has_value());
    ASSERT_NE(admitted->admitted(), nullptr);
    EXPECT_EQ(admitted->admitted()->controlPort, doorNumber("reply_port"));
    EXPECT_EQ(asBytes(admitted->admitted()->sessionKey), doorVector("session_key"));

    for (const char* name : {"reply_refused", "reply_zero_port"}) {
        EXPECT_EQ(Door::Reply::open(doorVector(name), knocker), Door::Answer(Door::Answer::Refused{}))
            << name;
    }
}

TEST_F(RecordedKnockTest, RefusesKnocksOfAnyOtherShapeOrTimeBeyond120Seconds) {
    EXPECT_FALSE(keyring.admit(ByteView(knock).first(92), sentAt));
    EXPECT_FALSE(keyring.admit(extended(knock), sentAt));
    EXPECT_FALSE(Door::Keyring().admit(knock, sentAt));
    // An unknown tag, then a bad seal.
    for (std::size_t index : {0u, 8u, 20u, 50u, 92u}) {
        EXPECT_FALSE(keyring.admit(flipped(knock, index), sentAt)) << index;
    }
    // The next window's tag is in the keyring too, but the box was sealed under this one.
    const Door::Tag next = Door::doorTag(deviceKey, doorNumber("knock_epoch") + 1);
    ASSERT_TRUE(keyring.byTag().contains(next));
    Bytes moved = knock;
    std::copy(next.begin(), next.end(), moved.begin());
    EXPECT_FALSE(keyring.admit(moved, sentAt));

    const double sent = sentAt.secondsSinceReferenceDate();
    for (const double off : {120.0, -120.0, 121.0, -121.0}) {
        EXPECT_EQ(keyring.admit(knock, Date(sent + off)).has_value(), std::abs(off) <= 120) << off;
    }
    EXPECT_FALSE(keyring.admit(knock, Date(std::numeric_limits<double>::quiet_NaN())));
}

TEST_F(RecordedKnockTest, RefusesRepliesToAnotherKnockOrOfAnotherShape) {
    const Bytes reply = doorVector("reply_admitted");
    EXPECT_FALSE(Door::Reply::open(reply, Door::Knocker(deviceKey)));
    EXPECT_FALSE(
        Door::Reply::open(reply, Door::Knocker(Bytes(32, 0x01), knocker.privateKey(), knocker.id())));

    EXPECT_FALSE(Door::Reply::open(ByteView(reply).first(79), knocker));
    EXPECT_FALSE(Door::Reply::open(extended(reply), knocker));
    for (std::size_t index : {0u, 12u, 63u, 79u}) {
        EXPECT_FALSE(Door::Reply::open(flipped(reply, index), knocker)) << index;
    }
}

TEST_F(RecordedKnockTest, RefusesOtherVersionsAndUnusableKeys) {
    Bytes plaintext = doorVector("knock_plaintext");
    const Door::Tag tag = Door::doorTag(deviceKey, doorNumber("knock_epoch"));
    plaintext[0] = 2;
    EXPECT_FALSE(keyring.admit(sealKnock(deviceKey, tag, plaintext), sentAt));

    Bytes reply = doorVector("reply_plaintext_admitted");
    reply[0] = 2;
    EXPECT_FALSE(Door::Reply::open(sealReply(deviceKey, reply), knocker));

    // An all-zero host key admits no agreement, so no session key.
    reply = doorVector("reply_plaintext_admitted");
    std::fill(reply.end() - 32, reply.end(), 0);
    EXPECT_FALSE(Door::Reply::open(sealReply(deviceKey, reply), knocker));

    // The knock's key is taken unchecked; only the session key fails.
    plaintext = doorVector("knock_plaintext");
    std::fill(plaintext.end() - 32, plaintext.end(), 0);
    std::optional<Door::Admission> admission = keyring.admit(sealKnock(deviceKey, tag, plaintext), sentAt);
    ASSERT_TRUE(admission.has_value());
    EXPECT_FALSE(admission->sessionKey());
}

TEST(DoorKeyringTest, TheLaterDeviceOwnsACoincidingTag) {
    const Bytes shared = Random::bytes(32);
    const Devices list{{"first", SecretBytes(shared)}, {"second", SecretBytes(shared)}};
    const Date now = Date::now();
    std::optional<Door::Admission> admission =
        Door::Keyring(list, now).admit(*Door::Knocker(shared).knock(Door::epoch(now), now), now);
    ASSERT_TRUE(admission.has_value());
    EXPECT_EQ(admission->deviceID(), "second");
}

TEST(DoorRoundTripTest, BothEndsDeriveTheSameSessionKey) {
    const Bytes deviceKey = Random::bytes(32);
    const Devices list{{"other", Random::secret(32)}, {"pad", SecretBytes(deviceKey)}};
    const Date now = Date::now();
    const Door::Keyring keyring(list, now);
    const Door::Knocker knocker(deviceKey);

    for (std::uint64_t window : Door::acceptedEpochs(now)) {
        const std::optional<Bytes> knock = knocker.knock(window, now);
        ASSERT_TRUE(knock.has_value());
        std::optional<Door::Admission> admission = keyring.admit(*knock, now);
        ASSERT_TRUE(admission.has_value()) << window;
        EXPECT_EQ(admission->deviceID(), "pad");

        const std::optional<SecretBytes> hostKey = admission->sessionKey();
        ASSERT_TRUE(hostKey.has_value());
        const std::optional<Door::Answer> answer = Door::Reply::open(*admission->answer(50001), knocker);
        ASSERT_TRUE(answer && answer->admitted());
        EXPECT_EQ(*answer, Door::Answer(Door::Answer::Admitted{50001, *hostKey}));
    }
    EXPECT_FALSE(keyring.admit(*knocker.knock(Door::epoch(now) + 2, now), now));
}

TEST(DoorReplayGuardTest, AKnockAdmittedAtTheEdgeIsRefusedOnlyAfterItsIdIsForgotten) {
    // Sent 120 s ahead of the host's clock: a copy stays admissible until 240 s after admission.
    const Bytes deviceKey = Random::bytes(32);
    const Devices list{{"pad", SecretBytes(deviceKey)}};
    const Date admittedAt = unixDate(1800000000);
    const Date sent = unixDate(1800000120);
    const Door::Keyring keyring(list, admittedAt);
    const Bytes knock = *Door::Knocker(deviceKey).knock(Door::epoch(sent), sent);
    ASSERT_TRUE(keyring.admit(knock, admittedAt));

    const auto at = [&](double later) { return Date(admittedAt.secondsSinceReferenceDate() + later); };
    EXPECT_TRUE(Door::Keyring(list, at(240)).admit(knock, at(240)));
    for (double later : {239.0, 240.0, 240.5, 241.0, Door::spentKnockSeconds}) {
        EXPECT_TRUE(Door::keepsSpentKnock(admittedAt, at(later))) << later;
    }
    EXPECT_FALSE(Door::keepsSpentKnock(admittedAt, at(Door::spentKnockSeconds + 0.001)));
    // A clock that went back keeps the id too.
    EXPECT_TRUE(Door::keepsSpentKnock(admittedAt, at(-3600)));
}

} // namespace
} // namespace velm
