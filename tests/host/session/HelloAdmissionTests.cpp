#include "Velm_Host/core/DeviceRegistry.h"
#include "Velm_Host/session/HelloAdmission.h"
#include "platform/dispatch/ManualQueue.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/support/TestVectors.h"
#include "transport/keys/HelloProof.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

using test::transportVector;
using Route = ConnectionRecord::Route;

// The away rules on fixed vectors: a signature made once over a known binding with a known key.
class HelloAdmissionTest : public ::testing::Test {
protected:
    std::shared_ptr<DeviceRegistry> registryWith(std::optional<Bytes> awayPublicKey) {
        const PairedDeviceStore store(KeychainStore(std::string(PairedDeviceStore::keychainService),
                                                    GenericPasswordStore(folder / "keychain")));
        store.save(
            {PairedDevice{.id = "ipad", .key = SecretBytes(deviceKey), .awayPublicKey = awayPublicKey}});
        auto registry = DeviceRegistry::make(store, "HOST-ID", std::make_shared<ManualQueue>());
        registry->load();
        return registry;
    }

    std::variant<HelloAdmission::Admitted, HelloAdmission::Refused> check(const DeviceRegistry& registry,
                                                                          Route route) const {
        return HelloAdmission::check(hello, {.binding = binding, .pskIdentity = "ipad", .route = route},
                                     registry);
    }

    test::TemporaryFolder folder;
    const Bytes deviceKey = transportVector("device_key");
    const Bytes binding = transportVector("binding");
    const Bytes awayKey = transportVector("away_public_key");
    const Bytes otherKey = transportVector("away_public_key_compressed");
    ClientHello hello{"ipad",
                      "iPad",
                      0,
                      0,
                      0,
                      helloProof(deviceKey, binding),
                      std::nullopt,
                      std::nullopt,
                      transportVector("away_signature"),
                      true};
};

TEST_F(HelloAdmissionTest, FromAwayWantsTheSignatureOfTheStoredKeyOrTheHostsLeave) {
    const auto holding = registryWith(awayKey);
    EXPECT_TRUE(std::holds_alternative<HelloAdmission::Admitted>(check(*holding, Route::door)));
    const auto empty = registryWith(std::nullopt);
    EXPECT_TRUE(std::holds_alternative<HelloAdmission::Admitted>(check(*empty, Route::door)));

    hello.awaySignature = transportVector("away_signature_unlabelled");
    const auto refused = std::get<HelloAdmission::Refused>(check(*holding, Route::door));
    EXPECT_EQ(refused.reason, ByeReason::awayKeyRequired);
    EXPECT_EQ(refused.refusal, ConnectionRecord::Refusal::deviceBoundKeyMissing);
    EXPECT_TRUE(std::holds_alternative<HelloAdmission::Admitted>(check(*holding, Route::home)));
    empty->setAllowsAwayWithoutDeviceKey(false);
    hello.understandsPolicy.reset();
    EXPECT_EQ(std::get<HelloAdmission::Refused>(check(*empty, Route::door)).reason,
              ByeReason::remoteAccessDisabled);
}

TEST_F(HelloAdmissionTest, TakesAnOfferedKeyOnlyFromHomeAndOnlyWhenNoneIsStored) {
    const auto admitted = [&](const std::shared_ptr<DeviceRegistry>& registry, Route route) {
        return std::get<HelloAdmission::Admitted>(check(*registry, route));
    };
    hello.awayPublicKey = awayKey;
    const auto empty = registryWith(std::nullopt);
    EXPECT_EQ(admitted(empty, Route::home).awayKeyToEnrol, awayKey);
    EXPECT_FALSE(admitted(empty, Route::elsewhere).awayKeyToEnrol);
    EXPECT_TRUE(admitted(registryWith(otherKey), Route::home).holdsAnotherAwayKey);
    EXPECT_FALSE(admitted(registryWith(awayKey), Route::home).holdsAnotherAwayKey);
    hello.awayPublicKey = otherKey; // not an uncompressed point
    EXPECT_FALSE(admitted(empty, Route::home).awayKeyToEnrol);
}

} // namespace
} // namespace velm
