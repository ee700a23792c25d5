#include "Velm_Host/core/PairedDeviceStore.h"
#include "platform/core/Base64.h"
#include "platform/crypto/Random.h"
#include "tests/support/FreedBlockWatch.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>
#include <numeric>

namespace velm {
namespace {

// Bytes 0 to 31, as Base64.
constexpr const char* key32 = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=";

SecretBytes counting() {
    Bytes bytes(32);
    std::iota(bytes.begin(), bytes.end(), 0);
    return SecretBytes(bytes);
}

// Every field set, written in declaration order with dates as seconds since 2001.
TEST(PairedDeviceStore, WritesTheJsonFormOfEveryField) {
    const PairedDevice full{.id = "ipad-1",
                            .name = "Ann's iPad",
                            .key = counting(),
                            .pairedAt = Date(700'000'000),
                            .lastConnected = Date(700'000'000.5),
                            .model = DeviceModel{.identifier = "iPad13,4", .name = std::nullopt},
                            .screenAspect = 1.5,
                            .lastAtHome = Date(700'000'100),
                            .awayPublicKey = Bytes{4, 1, 2},
                            .idleTimeout = 900,
                            .curtain = true};
    const PairedDevice bare{.id = "iphone", .name = "", .key = counting(), .pairedAt = Date(-1.25)};
    EXPECT_EQ(
        PairedDeviceStore::encode({full, bare}),
        std::string(R"([{"id":"ipad-1","name":"Ann's iPad","key":")") + key32 +
            R"(","pairedAt":700000000,"lastConnected":700000000.5,"model":{"identifier":"iPad13,4"},)"
            R"("screenAspect":1.5,"lastAtHome":700000100,"awayPublicKey":"BAEC","idleTimeout":900,"curtain":true},)"
            R"({"id":"iphone","name":"","key":")" +
            key32 + R"(","pairedAt":-1.25}])");

    PairedDevice infinite = bare;
    infinite.screenAspect = std::numeric_limits<double>::infinity();
    EXPECT_EQ(PairedDeviceStore::encode({infinite}), std::nullopt);
}

// A list written elsewhere: keys in any order, nulls and unknown keys; damaged entries go alone.
TEST(PairedDeviceStore, ReadsEntryByEntryDroppingDamagedOnes) {
    // "$K" stands for the key.
    std::string stored = R"([{"pairedAt":10,"key":"$K","name":"A","id":"a","curtain":null,"future":[1]},
        {"id":"no-key","name":"B","pairedAt":10},
        {"id":"short","name":"C","key":"AAEC","pairedAt":10},
        {"id":"velm-psk-v1","name":"D","key":"$K","pairedAt":10},
        {"id":"a","name":"again","key":"$K","pairedAt":10},
        {"id":"e","name":"E","key":"$K","pairedAt":10,"idleTimeout":"soon"},
        "not an object",
        {"id":"f","name":"F","key":"$K","pairedAt":10.5,"lastAtHome":20}])";
    for (auto at = stored.find("$K"); at != std::string::npos; at = stored.find("$K")) {
        stored.replace(at, 2, key32);
    }
    LogCapture log;
    const auto decoded = PairedDeviceStore::decode(stored);
    ASSERT_TRUE(decoded);
    const auto& devices = *decoded;
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0], (PairedDevice{.id = "a", .name = "A", .key = counting(), .pairedAt = Date(10)}));
    EXPECT_EQ(std::pair(devices[1].id, devices[1].lastAtHome),
              std::pair(std::string("f"), std::optional(Date(20))));
    EXPECT_EQ(log.lines().size(), 6u);
    EXPECT_TRUE(log.contains("appears twice"));

    EXPECT_EQ(PairedDeviceStore::decode("{\"id\":1}"), std::nullopt);
    EXPECT_EQ(PairedDeviceStore::decode("["), std::nullopt);
}

// A key whose text is damaged only in its last bits is decoded whole before it is found wrong; the
// entry goes, and so must every byte of its key.
TEST(PairedDeviceStore, ADamagedKeyLeavesNothingOfItInFreedMemory) {
    const Bytes key = Random::bytes(32);
    std::string text = Base64::encode(key);
    // The symbol before the padding carries two unused bits; setting one makes the text not Base64.
    static constexpr std::string_view alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    char& last = text[text.size() - 2];
    last = alphabet[alphabet.find(last) + 1];
    const std::string stored = R"([{"id":"a","name":"A","key":")" + text + R"(","pairedAt":10}])";

    LogCapture log;
    test::FreedBlockWatch::start();
    const auto decoded = PairedDeviceStore::decode(stored);
    test::FreedBlockWatch::stop();

    ASSERT_TRUE(decoded);
    EXPECT_TRUE(decoded->empty());
    ASSERT_FALSE(test::FreedBlockWatch::overflowed());
    EXPECT_FALSE(test::FreedBlockWatch::sawFreed(key));
}

// Every save and every read of the list passes through its JSON form, where each key stands as Base64
// text: that text is the key all the same, and none of it may be left in freed memory either.
TEST(PairedDeviceStore, TheKeysTextLeavesNothingInFreedMemory) {
    const test::TemporaryFolder folder;
    const PairedDeviceStore store(KeychainStore("service", GenericPasswordStore(folder / "keychain")));
    std::vector<PairedDevice> devices;
    std::vector<std::string> texts;
    for (const char* id : {"a", "b"}) {
        devices.push_back(
            {.id = id, .name = id, .key = SecretBytes(Random::bytes(32)), .pairedAt = Date(10)});
        texts.push_back(Base64::encode(devices.back().key));
    }

    test::FreedBlockWatch::start();
    const bool saved = store.save(devices);
    auto loaded = store.load();
    loaded.devices.clear();
    test::FreedBlockWatch::stop();

    ASSERT_TRUE(saved);
    EXPECT_EQ(loaded.status, PairedDeviceStore::Loaded::Status::read);
    ASSERT_FALSE(test::FreedBlockWatch::overflowed());
    for (const std::string& text : texts) {
        EXPECT_FALSE(test::FreedBlockWatch::sawFreed(toBytes(text)));
    }
}

} // namespace
} // namespace velm
