#include "Velm_Host/core/DeviceRegistry.h"
#include "platform/crypto/Random.h"
#include "tests/support/LogCapture.h"
#include "tests/support/QueueClock.h"
#include "tests/support/SystemCallFaults.h"
#include "tests/support/TemporaryFolder.h"
#include "transport/keys/HelloProof.h"
#include "transport/keys/Pairing.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <gtest/gtest.h>
#include <numeric>
#include <thread>

namespace velm {
namespace {

using namespace std::chrono_literals;
using test::TemporaryFolder;
using Failure = DeviceRegistry::PairFailure;
using Outcome = HelloCheck::Outcome;
using TryOutcome = TlsKeyLender::Outcome;
using test::SystemCallFaults;

class DeviceRegistryTest : public ::testing::Test {
protected:
    KeychainStore keychain() const {
        return KeychainStore(std::string(PairedDeviceStore::keychainService),
                             GenericPasswordStore(temporary / "keychain"));
    }

    std::shared_ptr<DeviceRegistry> makeRegistry() {
        auto made = DeviceRegistry::make(PairedDeviceStore(keychain()), "HOST-ID", queue,
                                         {.now = test::queueClock(queue)});
        made->setOnChange([this] { ++changes; });
        made->load();
        return made;
    }

    // Pairs on a connection the open window's code has just admitted.
    std::variant<PairResponse, Failure> pair(const std::string& id,
                                             std::string_view admittedBy = "velm-psk-v1") {
        return pairUnder(id, admittedTag(), admittedBy);
    }

    std::variant<PairResponse, Failure> pairUnder(const std::string& id, std::optional<std::uint64_t> tag,
                                                  std::string_view admittedBy = "velm-psk-v1") {
        return registry->pair(request(id, offer.publicKey()), binding, admittedBy, tag);
    }

    // What a connection carries that the code's key has admitted: the tag of its loan.
    std::optional<std::uint64_t> admittedTag() {
        auto loan = registry->lendPairingKey();
        if (!loan) {
            return std::nullopt;
        }
        loan->settle(TryOutcome::admitted);
        return loan->tag();
    }

    static PairRequest request(const std::string& id, ByteView publicKey) {
        return {
            .deviceID = id, .deviceName = id + " name", .publicKey = {publicKey.begin(), publicKey.end()}};
    }

    static std::optional<Failure> failureOf(const std::variant<PairResponse, Failure>& result) {
        const auto* failure = std::get_if<Failure>(&result);
        return failure ? std::optional(*failure) : std::nullopt;
    }

    std::vector<std::string> listenerIdentities() const {
        std::vector<std::string> identities;
        for (const auto& key : registry->listenerKeys()) {
            identities.push_back(key.identity());
        }
        return identities;
    }

    // The published state, once the owner's queue has run.
    int publishedChanges() {
        queue->runUntilIdle();
        return changes;
    }

    TemporaryFolder temporary;
    std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>("main");
    const Pairing::Offer offer;
    const Bytes binding = Random::bytes(32);
    int changes = 0;
    std::shared_ptr<DeviceRegistry> registry = makeRegistry();
};

TEST_F(DeviceRegistryTest, PairsADeviceWhoseClientOpensTheSealedKey) {
    registry->openPairing("123456", 120s, 5, false);
    EXPECT_EQ(listenerIdentities(), std::vector<std::string>{"velm-psk-v1"});
    EXPECT_EQ(registry->listenerKeys().front(), PreSharedKey::fromSecret("123456"));

    const auto result = pair("ipad-1");
    ASSERT_FALSE(failureOf(result));
    const auto& response = std::get<PairResponse>(result);
    EXPECT_EQ(response.hostID, "HOST-ID");
    const auto device = registry->device("ipad-1");
    ASSERT_TRUE(device);
    EXPECT_EQ(device->name, "ipad-1 name");

    const auto opened = Pairing::openKey(response.sealedKey, response.publicKey, offer, binding);
    ASSERT_TRUE(std::holds_alternative<SecretBytes>(opened));
    EXPECT_EQ(std::get<SecretBytes>(opened), device->key);
    const auto elsewhere = Pairing::openKey(response.sealedKey, response.publicKey, offer, Random::bytes(32));
    EXPECT_EQ(std::get<Pairing::Failure>(elsewhere), Pairing::Failure::cannotOpen);

    // A pairing closes a window that is not reusable: only the new device's key is admitted.
    EXPECT_FALSE(registry->pairingWindow());
    EXPECT_EQ(listenerIdentities(), std::vector<std::string>{"ipad-1"});
    EXPECT_EQ(keychain().read("paired-devices-v1"), PairedDeviceStore::encode({*device}));
    EXPECT_EQ(makeRegistry()->devices(), std::vector{*device});
}

TEST_F(DeviceRegistryTest, ChecksHelloProofsAgainstThePairedKey) {
    registry->openPairing("123456", std::nullopt, 5, false);
    ASSERT_FALSE(failureOf(pair("ipad-1")));
    const auto proof = helloProof(registry->device("ipad-1")->key, binding);
    EXPECT_EQ(registry->checkHello("ipad-1", proof, binding).outcome, Outcome::admitted);
    EXPECT_EQ(registry->checkHello("ipad-1", proof, Random::bytes(32)).outcome, Outcome::keyDidNotMatch);
    EXPECT_EQ(registry->checkHello("ipad-1", std::nullopt, binding).outcome, Outcome::noProof);
    EXPECT_EQ(registry->checkHello("ipad-1", proof, std::nullopt).outcome, Outcome::noProof);
    EXPECT_EQ(registry->checkHello("ipad-2", proof, binding).outcome, Outcome::notPaired);
}

TEST_F(DeviceRegistryTest, ServesPairingOnlyOnTheCodesConnectionWhileAWindowIsOpen) {
    EXPECT_EQ(failureOf(pair("ipad-1")), Failure::noPairingWindow);
    registry->openPairing("123456", std::nullopt, 5, true);
    EXPECT_EQ(failureOf(pair("ipad-1", "ipad-0")), Failure::notPairingConnection);
    EXPECT_EQ(failureOf(pair("ipad-1", "velm-away")), Failure::notPairingConnection);
    for (const std::string& id :
         {std::string(), std::string(257, 'a'), std::string("velm-psk-v1"), std::string("velm-away"),
          std::string("velm-nobody"), std::string("a\0b", 3)}) {
        EXPECT_EQ(failureOf(pair(id)), Failure::invalidDeviceID) << id;
    }
    EXPECT_EQ(
        failureOf(registry->pair(request("ipad-1", Bytes(31, 1)), binding, "velm-psk-v1", admittedTag())),
        Failure::malformedKey);
    EXPECT_EQ(
        failureOf(registry->pair(request("ipad-1", Bytes(32, 0)), binding, "velm-psk-v1", admittedTag())),
        Failure::keyExchangeFailed);
    EXPECT_EQ(failureOf(registry->pair(request("ipad-1", offer.publicKey()), Bytes(), "velm-psk-v1",
                                       admittedTag())),
              Failure::noSessionBinding);
    EXPECT_TRUE(registry->devices().empty());
    EXPECT_EQ(keychain().read("paired-devices-v1"), std::nullopt);
}

// A connection keeps the window whose code let it in. Once the user has closed that code it pairs
// nothing, not even while another window is open; the window it came in by pairs it for as long as
// that window stays open.
TEST_F(DeviceRegistryTest, OnlyTheWindowThatAdmittedAConnectionPairsOnIt) {
    registry->openPairing("111111", std::nullopt, 5, /*reusable=*/false);
    const auto underFirst = admittedTag();
    registry->closePairing();
    EXPECT_EQ(failureOf(pairUnder("ipad-1", underFirst)), Failure::noPairingWindow);
    registry->openPairing("222222", std::nullopt, 5, /*reusable=*/false);
    const auto underSecond = admittedTag();
    EXPECT_EQ(failureOf(pairUnder("ipad-1", underFirst)), Failure::noPairingWindow);
    EXPECT_EQ(failureOf(pairUnder("ipad-1", std::nullopt)), Failure::noPairingWindow) << "no key was lent";
    EXPECT_TRUE(registry->devices().empty());
    ASSERT_TRUE(registry->pairingWindow());
    EXPECT_EQ(registry->pairingWindow()->code, "222222");

    // Wrong codes tried meanwhile leave it the same window.
    registry->lendPairingKey()->settle(TryOutcome::rejected);
    ASSERT_FALSE(failureOf(pairUnder("ipad-1", underSecond)));
    EXPECT_FALSE(registry->pairingWindow());

    // A reusable window pairs every connection it admitted while it stays open.
    registry->openPairing("333333", 120s, 5, /*reusable=*/true);
    const auto underThird = admittedTag();
    queue->advance(60s);
    ASSERT_FALSE(failureOf(pairUnder("iphone", underThird)));
    ASSERT_FALSE(failureOf(pairUnder("ipad-2", underThird)));
    EXPECT_EQ(registry->devices().size(), 3u);
    queue->advance(60s);
    EXPECT_EQ(failureOf(pairUnder("ipad-3", underThird)), Failure::noPairingWindow);
}

TEST_F(DeviceRegistryTest, PairingAgainReplacesTheEntryAndRetiresTheOldKey) {
    registry->openPairing("123456", std::nullopt, 5, /*reusable=*/true);
    ASSERT_FALSE(failureOf(pair("ipad-1")));
    ASSERT_FALSE(failureOf(pair("iphone")));
    ASSERT_EQ(registry->update("ipad-1", [](PairedDevice& device) { device.curtain = true; }),
              DeviceRegistry::UpdateResult::updated);
    const SecretBytes oldKey = registry->device("ipad-1")->key;

    LogCapture log;
    ASSERT_FALSE(failureOf(pair("ipad-1")));
    EXPECT_TRUE(log.contains("paired again"));
    const auto devices = registry->devices();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].id, "ipad-1");
    EXPECT_FALSE(devices[0].curtain);
    EXPECT_NE(devices[0].key, oldKey);
    EXPECT_EQ(registry->checkHello("ipad-1", helloProof(oldKey, binding), binding).outcome,
              Outcome::keyDidNotMatch);
    // A reusable window stays open after each pairing.
    EXPECT_EQ(listenerIdentities(), (std::vector<std::string>{"ipad-1", "iphone", "velm-psk-v1"}));
}

// A name that shows nothing would be a blank line on the device's card, in the menu and in notices.
TEST_F(DeviceRegistryTest, ADeviceWithoutAVisibleNameIsNamedAllTheSame) {
    registry->openPairing("123456", std::nullopt, 5, /*reusable=*/true);
    const auto pairNamed = [&](const std::string& id, const std::string& name) {
        auto named = request(id, offer.publicKey());
        named.deviceName = name;
        EXPECT_FALSE(failureOf(registry->pair(named, binding, "velm-psk-v1", admittedTag())));
        return registry->device(id)->name;
    };
    for (const char* blank : {"", "   ", "\t\r\n\x01\x7F", "\u00A0\u200B\u2028\u3000\u202E"}) {
        EXPECT_EQ(pairNamed("blank", blank), "Device");
    }
    EXPECT_EQ(pairNamed("ipad", " Anna\u2019s iPad "), " Anna\u2019s iPad ");

    // A later hello that names the device with nothing visible leaves the name it has.
    const auto rename = [&](const std::string& id, const std::string& name) {
        registry->update(id, [&](PairedDevice& device) { device.name = name; });
        return makeRegistry()->device(id)->name;
    };
    EXPECT_EQ(rename("ipad", "\t"), " Anna\u2019s iPad ");
    EXPECT_EQ(rename("ipad", "Studio"), "Studio");
    EXPECT_EQ(rename("blank", ""), "Device");
}

TEST_F(DeviceRegistryTest, WrongTriesDownToZeroCloseTheWindow) {
    EXPECT_FALSE(registry->lendPairingKey()); // no window: no key to try
    registry->openPairing("123456", std::nullopt, 3, false);
    const int opened = publishedChanges();
    registry->lendPairingKey()->settle(TryOutcome::rejected);
    registry->lendPairingKey()->settle(TryOutcome::rejected);
    EXPECT_EQ(registry->pairingWindow()->wrongTriesLeft, 1);
    auto last = registry->lendPairingKey();
    ASSERT_TRUE(last);
    EXPECT_EQ(last->secret(), PreSharedKey::fromSecret("123456").key());
    last->settle(TryOutcome::rejected);
    EXPECT_FALSE(registry->pairingWindow());
    EXPECT_TRUE(listenerIdentities().empty());
    EXPECT_EQ(publishedChanges(), opened + 3);
}

// Handshakes in flight each hold a try from the moment they get the key, so a burst of codes
// cannot have more of them checked than the window allows.
TEST_F(DeviceRegistryTest, ATryIsTakenAsTheKeyIsLentAndComesBackUnlessTheCodeWasWrong) {
    registry->openPairing("123456", std::nullopt, 3, false);
    std::vector<TlsKeyLender::Loan> lent;
    for (int i = 0; i < 3; ++i) {
        auto loan = registry->lendPairingKey();
        ASSERT_TRUE(loan);
        lent.push_back(std::move(*loan));
    }
    EXPECT_FALSE(registry->lendPairingKey()) << "every try left is lent";
    lent[0].settle(TryOutcome::unused);
    lent[1].settle(TryOutcome::admitted);
    EXPECT_EQ(registry->pairingWindow()->wrongTriesLeft, 3);
    // A loan dropped unsettled comes back as well.
    lent.pop_back();
    lent.clear();
    std::vector<TlsKeyLender::Loan> again;
    for (int i = 0; i < 3; ++i) {
        auto loan = registry->listenerKeyLender()->lend(PreSharedKey::pairingIdentity);
        ASSERT_TRUE(loan);
        again.push_back(std::move(*loan));
    }
    EXPECT_TRUE(registry->listenerKeyLender()->decides(PreSharedKey::pairingIdentity));
    again[0].settle(TryOutcome::rejected);
    again[0].settle(TryOutcome::rejected); // settled once only
    EXPECT_EQ(registry->pairingWindow()->wrongTriesLeft, 2);
    EXPECT_FALSE(registry->lendPairingKey());

    // A new window starts from its own budget; what was lent under the old one counts for nothing.
    registry->openPairing("654321", std::nullopt, 1, false);
    again[1].settle(TryOutcome::rejected);
    EXPECT_EQ(registry->pairingWindow()->wrongTriesLeft, 1);
    auto loan = registry->lendPairingKey();
    ASSERT_TRUE(loan);
    EXPECT_EQ(loan->secret(), PreSharedKey::fromSecret("654321").key());
    EXPECT_FALSE(registry->lendPairingKey());
    again.clear();
    EXPECT_FALSE(registry->lendPairingKey());
    registry->closePairing();
    loan->settle(TryOutcome::rejected);
    EXPECT_FALSE(registry->lendPairingKey());
}

TEST_F(DeviceRegistryTest, AWindowExpiresOnTheOwnersQueue) {
    const PairingWindow window = registry->openNewPairing(false);
    EXPECT_EQ(std::tuple(window.code.size(), window.wrongTriesLeft, window.expires),
              std::tuple(6u, 5, std::optional(Date(700'000'120))));
    queue->advance(119s);
    EXPECT_EQ(registry->pairingWindow(), window);
    const int before = publishedChanges();

    LogCapture log;
    queue->advance(1s);
    EXPECT_FALSE(registry->pairingWindow());
    EXPECT_TRUE(listenerIdentities().empty());
    EXPECT_EQ(publishedChanges(), before + 1);
    EXPECT_TRUE(log.contains("pairing expired"));

    // The timer of a replaced window leaves its successor alone.
    registry->openPairing("111111", 60s, 5, false);
    registry->openPairing("222222", std::nullopt, 5, false);
    queue->advance(1h);
    EXPECT_EQ(registry->pairingWindow()->code, "222222");
    registry->closePairing();
    EXPECT_TRUE(log.contains("pairing closed"));
}

TEST_F(DeviceRegistryTest, OpensACarriedOverCodeOnlyWhileNoDeviceIsPaired) {
    ASSERT_TRUE(keychain().write("12345", "pairing-code"));
    EXPECT_FALSE(makeRegistry()->pairingWindow()); // not six characters

    ASSERT_TRUE(keychain().write("654321", "pairing-code"));
    registry = makeRegistry();
    EXPECT_EQ(
        registry->pairingWindow(),
        (PairingWindow{.code = "654321", .expires = std::nullopt, .wrongTriesLeft = 20, .reusable = false}));
    queue->advance(24h);
    ASSERT_TRUE(registry->pairingWindow());
    ASSERT_FALSE(failureOf(pair("ipad-1")));
    EXPECT_EQ(keychain().read("pairing-code"), std::nullopt);

    ASSERT_TRUE(keychain().write("654321", "pairing-code"));
    EXPECT_FALSE(makeRegistry()->pairingWindow());
}

// A carried-over code put away, by hand or by a new window in its place, is gone for good: it must not
// come back at the next start with its tries renewed. Nor may one that waited unseen behind paired
// devices come back once they are all removed.
TEST_F(DeviceRegistryTest, ACarriedOverCodePutAwayNeverComesBack) {
    ASSERT_TRUE(keychain().write("654321", "pairing-code"));
    registry = makeRegistry();
    ASSERT_TRUE(registry->pairingWindow());
    registry->closePairing();
    EXPECT_FALSE(makeRegistry()->pairingWindow());

    ASSERT_TRUE(keychain().write("654321", "pairing-code"));
    registry = makeRegistry();
    registry->openPairing("111111", std::nullopt, 5, false);
    EXPECT_FALSE(makeRegistry()->pairingWindow());

    ASSERT_FALSE(failureOf(pair("ipad-1")));
    ASSERT_TRUE(keychain().write("654321", "pairing-code"));
    registry = makeRegistry();
    EXPECT_FALSE(registry->pairingWindow());
    ASSERT_TRUE(registry->remove(std::nullopt));
    EXPECT_FALSE(makeRegistry()->pairingWindow());
}

TEST_F(DeviceRegistryTest, RemovesOneDeviceOrAllWithTheirKeys) {
    registry->openPairing("123456", std::nullopt, 5, true);
    for (const char* id : {"a", "b", "c"}) {
        ASSERT_FALSE(failureOf(pair(id)));
    }
    registry->closePairing();
    EXPECT_TRUE(registry->remove("b"));
    EXPECT_TRUE(registry->remove("unknown"));
    EXPECT_EQ(listenerIdentities(), (std::vector<std::string>{"a", "c"}));
    EXPECT_TRUE(registry->remove(std::nullopt));
    EXPECT_TRUE(listenerIdentities().empty());
    EXPECT_TRUE(makeRegistry()->devices().empty());
}

TEST_F(DeviceRegistryTest, AFailedSaveKeepsWhatIsStored) {
    registry->openPairing("123456", std::nullopt, 5, true);
    ASSERT_FALSE(failureOf(pair("ipad-1")));
    const auto stored = keychain().read("paired-devices-v1");

    // The secrets folder becomes a plain file, so every write fails.
    std::filesystem::rename(temporary / "keychain", temporary / "aside");
    TemporaryFolder::writeFile(temporary / "keychain", "");
    EXPECT_FALSE(registry->remove(std::nullopt));
    EXPECT_EQ(failureOf(pair("ipad-2")), Failure::notSaved);
    EXPECT_EQ(registry->setDevicePolicy("ipad-1", 300s, true), DeviceRegistry::UpdateResult::notSaved);
    ASSERT_EQ(registry->devices().size(), 1u);
    EXPECT_FALSE(registry->devices()[0].curtain);

    std::filesystem::remove(temporary / "keychain");
    std::filesystem::rename(temporary / "aside", temporary / "keychain");
    EXPECT_EQ(keychain().read("paired-devices-v1"), stored);
    EXPECT_EQ(makeRegistry()->devices(), registry->devices());
}

TEST_F(DeviceRegistryTest, UpdatesKeepIdentityAndNeverReviveARemovedDevice) {
    registry->openPairing("123456", std::nullopt, 5, false);
    ASSERT_FALSE(failureOf(pair("ipad-1")));
    const SecretBytes key = registry->device("ipad-1")->key;

    EXPECT_EQ(registry->setDevicePolicy("ipad-1", 300s, true), DeviceRegistry::UpdateResult::updated);
    EXPECT_EQ(registry->update("ipad-1",
                               [](PairedDevice& changed) {
                                   changed.id = "other";
                                   changed.key = SecretBytes(Bytes(32, 7));
                                   changed.lastConnected = Date(5);
                               }),
              DeviceRegistry::UpdateResult::updated);
    const auto device = makeRegistry()->device("ipad-1");
    ASSERT_TRUE(device);
    EXPECT_EQ(std::tuple(device->idleTimeout, device->curtain, device->lastConnected, device->key),
              std::tuple(std::optional(300.0), true, std::optional(Date(5)), key));

    EXPECT_EQ(registry->setDevicePolicy("ipad-1", 0s, false), DeviceRegistry::UpdateResult::updated);
    EXPECT_EQ(registry->device("ipad-1")->idleTimeout, std::nullopt);

    ASSERT_TRUE(registry->remove("ipad-1"));
    EXPECT_EQ(registry->update("ipad-1", [](PairedDevice& late) { late.lastConnected = Date(9); }),
              DeviceRegistry::UpdateResult::notFound);
    EXPECT_TRUE(makeRegistry()->devices().empty());
}

TEST_F(DeviceRegistryTest, AwayAccessEndsAfterTheLifetimeOrNever) {
    EXPECT_EQ(DeviceRegistry::awayLifetime(0), std::nullopt);
    EXPECT_EQ(DeviceRegistry::awayLifetime(1), 24h);
    EXPECT_EQ(DeviceRegistry::awayLifetime(30), 30 * 24h);

    PairedDevice device{.id = "ipad-1", .pairedAt = Date(1000)};
    EXPECT_EQ(registry->awayExpiry(device), Date(1000 + 30 * 86'400)); // the default of 30 days
    registry->setAwayLifetime(DeviceRegistry::awayLifetime(0));
    EXPECT_EQ(registry->awayExpiry(device), std::nullopt);
    registry->setAwayLifetime(1h);
    EXPECT_EQ(registry->awayExpiry(device), Date(1000 + 86'400));
    device.lastAtHome = Date(5000);
    registry->setAwayLifetime(DeviceRegistry::awayLifetime(7));
    EXPECT_EQ(registry->awayExpiry(device), Date(5000 + 7 * 86'400));
}

// A stored list of one device that a later start cannot read, or cannot use.
class DeviceRegistryStoredListTest : public DeviceRegistryTest {
protected:
    void SetUp() override {
        registry->openPairing("123456", std::nullopt, 5, /*reusable=*/true);
        ASSERT_FALSE(failureOf(pair("ipad-1")));
        stored = TemporaryFolder::readFile(listFile());
        ASSERT_TRUE(keychain().write("654321", "pairing-code"));
    }

    static std::string listName() {
        return *GenericPasswordStore::itemName(PairedDeviceStore::keychainService,
                                               PairedDeviceStore::devicesAccount);
    }
    std::filesystem::path listFile(std::string_view suffix = "") const {
        return temporary / "keychain" / (listName() + std::string(suffix));
    }

    // A new start pairs again once its own window is open.
    std::optional<Failure> pairAfterStart(const std::string& id) {
        registry->openPairing("123456", std::nullopt, 5, /*reusable=*/true);
        return failureOf(pair(id));
    }

    std::vector<std::string> storedIDs() {
        std::vector<std::string> ids;
        for (const auto& device : makeRegistry()->devices()) {
            ids.push_back(device.id);
        }
        return ids;
    }

    std::string stored;
};

TEST_F(DeviceRegistryStoredListTest, AListThatCannotBeReadNowIsNeverSavedOver) {
    {
        const auto fault = SystemCallFaults::failOpening(listName(), EMFILE);
        LogCapture log;
        registry = makeRegistry();
        EXPECT_TRUE(registry->devices().empty());
        // The list may hold devices: the carried-over code must not open as if none were paired.
        EXPECT_FALSE(registry->pairingWindow());
        EXPECT_EQ(pairAfterStart("ipad-2"), Failure::notSaved);
        EXPECT_FALSE(registry->remove(std::nullopt));
        EXPECT_EQ(registry->setDevicePolicy("ipad-1", 300s, true), DeviceRegistry::UpdateResult::notSaved);
        EXPECT_TRUE(log.contains("cannot be read"));
        EXPECT_EQ(TemporaryFolder::readFile(listFile()), stored);
    }
    // Readable again: the next change starts from the stored list.
    ASSERT_EQ(failureOf(pair("ipad-2")), std::nullopt);
    EXPECT_EQ(storedIDs(), (std::vector<std::string>{"ipad-1", "ipad-2"}));
}

// Nothing but a change would read such a list again: its devices would be turned away for the whole
// run. It is read again on its own, more and more seldom, until it can be.
TEST_F(DeviceRegistryStoredListTest, AListThatCannotBeReadNowIsReadAgainUntilItIs) {
    {
        const auto fault = SystemCallFaults::failOpening(listName(), EIO);
        registry = makeRegistry();
        queue->advance(DeviceRegistry::unreadListFirstRetry * 3);
        EXPECT_TRUE(registry->devices().empty());
        EXPECT_FALSE(registry->lendDeviceKey("ipad-1"));
    }
    const int before = publishedChanges();
    queue->advance(DeviceRegistry::unreadListLongestRetry);
    ASSERT_EQ(registry->devices().size(), 1u);
    EXPECT_TRUE(registry->lendDeviceKey("ipad-1"));
    EXPECT_GT(publishedChanges(), before);
    EXPECT_EQ(queue->pendingCount(), 0u);
}

TEST_F(DeviceRegistryStoredListTest, AnUnusableListIsKeptAsideAndTheNextStartsEmpty) {
    const auto unusable = std::vector<std::function<void()>>{
        [&] { TemporaryFolder::writeFile(listFile(), "[{\"id\":"); },
        [&] { TemporaryFolder::writeFile(listFile(), "{\"id\":\"ipad-1\"}"); },
        [&] { TemporaryFolder::writeFile(listFile(), "[\"\xFF\"]"); },
        [&] { std::filesystem::resize_file(listFile(), StoreFolder::maxFileBytes + 1); },
        [&] {
            std::filesystem::remove(listFile());
            std::filesystem::create_directory(listFile());
        },
    };
    for (std::size_t kind = 0; kind < unusable.size(); ++kind) {
        SCOPED_TRACE(kind);
        TemporaryFolder::writeFile(listFile(), stored);
        unusable[kind]();
        const auto before = std::filesystem::status(listFile()).type();
        LogCapture log;
        registry = makeRegistry();
        EXPECT_TRUE(registry->devices().empty());
        EXPECT_FALSE(registry->pairingWindow());
        EXPECT_TRUE(log.contains("kept as " + listName() + "-unreadable"));
        EXPECT_EQ(std::filesystem::status(listFile("-unreadable")).type(), before);
        EXPECT_FALSE(std::filesystem::exists(listFile()));

        EXPECT_EQ(pairAfterStart("ipad-2"), std::nullopt);
        EXPECT_EQ(storedIDs(), std::vector<std::string>{"ipad-2"});
        std::filesystem::remove_all(listFile("-unreadable"));
    }
}

TEST_F(DeviceRegistryStoredListTest, AnUnusableListThatCannotBeMovedStaysUntilItIs) {
    TemporaryFolder::writeFile(listFile(), "not a list");
    {
        const auto fault = SystemCallFaults::failRenaming(listName(), EPERM);
        registry = makeRegistry();
        EXPECT_TRUE(registry->devices().empty());
        EXPECT_FALSE(registry->pairingWindow());
        EXPECT_EQ(pairAfterStart("ipad-2"), Failure::notSaved);
        EXPECT_EQ(TemporaryFolder::readFile(listFile()), "not a list");
    }
    EXPECT_EQ(failureOf(pair("ipad-2")), std::nullopt);
    EXPECT_EQ(TemporaryFolder::readFile(listFile("-unreadable")), "not a list");
    EXPECT_EQ(storedIDs(), std::vector<std::string>{"ipad-2"});
}

// The registry called from several threads at once, with the secrets store writing to disk.
class DeviceRegistryThreadsTest : public DeviceRegistryTest {
protected:
    // Holds the thread that puts a new list of devices in place, as a slow disk would.
    static SystemCallFaults::Hold holdSavingTheList() {
        return SystemCallFaults::holdRenamingOnto(*GenericPasswordStore::itemName(
            PairedDeviceStore::keychainService, PairedDeviceStore::devicesAccount));
    }
};

TEST_F(DeviceRegistryThreadsTest, ChangesFromSeveralThreadsLeaveTheLastListStored) {
    registry->openPairing("123456", std::nullopt, 5, /*reusable=*/true);
    const std::vector<std::string> ids{"a", "b", "c", "d"};
    for (const auto& id : ids) {
        ASSERT_FALSE(failureOf(pair(id)));
    }
    constexpr int rounds = 20;
    std::vector<std::thread> threads;
    for (const auto& id : ids) {
        threads.emplace_back([&, id] {
            for (int i = 1; i <= rounds; ++i) {
                EXPECT_EQ(registry->update(id, [&](PairedDevice& device) { device.lastConnected = Date(i); }),
                          DeviceRegistry::UpdateResult::updated);
            }
        });
    }
    threads.emplace_back([&] {
        for (int i = 0; i < rounds / 2; ++i) {
            EXPECT_FALSE(failureOf(pair("comes-and-goes")));
            EXPECT_TRUE(registry->remove("comes-and-goes"));
        }
    });
    for (auto& thread : threads) {
        thread.join();
    }

    const auto devices = registry->devices();
    ASSERT_EQ(devices.size(), ids.size());
    for (const auto& device : devices) {
        EXPECT_EQ(device.lastConnected, Date(rounds)) << device.id;
    }
    EXPECT_EQ(keychain().read("paired-devices-v1"), PairedDeviceStore::encode(devices));
    EXPECT_EQ(makeRegistry()->devices(), devices);
}

// Readers and handshakes take `lock`: none of them waits for the disk.
TEST_F(DeviceRegistryThreadsTest, ReadersAndHandshakesGoOnWhileTheListIsSaved) {
    registry->openPairing("123456", std::nullopt, 5, /*reusable=*/true);
    ASSERT_FALSE(failureOf(pair("ipad-1")));

    const auto hold = holdSavingTheList();
    DeviceRegistry::UpdateResult result{};
    std::thread changer([&] { result = registry->setDevicePolicy("ipad-1", 300s, true); });
    ASSERT_TRUE(hold.waitUntilHeld());
    // What is read meanwhile is what is stored.
    EXPECT_FALSE(registry->device("ipad-1")->curtain);
    EXPECT_EQ(listenerIdentities(), (std::vector<std::string>{"ipad-1", "velm-psk-v1"}));
    auto loan = registry->lendPairingKey();
    EXPECT_TRUE(loan);
    loan.reset();
    registry->closePairing();
    hold.release();
    changer.join();

    EXPECT_FALSE(hold.outlastedLimit()) << "a reader waited for the save";
    EXPECT_EQ(result, DeviceRegistry::UpdateResult::updated);
    EXPECT_EQ(registry->device("ipad-1")->curtain, true);
    EXPECT_FALSE(registry->pairingWindow());
}

TEST_F(DeviceRegistryThreadsTest, APairingWaitsForItsSaveAndIsRefusedWhenItFails) {
    registry->openPairing("123456", std::nullopt, 5, /*reusable=*/false);
    std::optional<std::variant<PairResponse, Failure>> result;
    {
        const auto hold = holdSavingTheList();
        std::thread pairing([&] { result = pair("ipad-1"); });
        ASSERT_TRUE(hold.waitUntilHeld());
        EXPECT_TRUE(registry->devices().empty()) << "a device is in memory before it is stored";
        EXPECT_EQ(listenerIdentities(), std::vector<std::string>{"velm-psk-v1"});
        hold.release(EIO);
        pairing.join();
        EXPECT_FALSE(hold.outlastedLimit()) << "a reader waited for the save";
    }
    ASSERT_TRUE(result);
    EXPECT_EQ(failureOf(*result), Failure::notSaved);
    EXPECT_TRUE(registry->devices().empty());
    EXPECT_EQ(keychain().read("paired-devices-v1"), std::nullopt);

    // The window stays for the device to try again, and closes once it has paired.
    ASSERT_TRUE(registry->pairingWindow());
    ASSERT_FALSE(failureOf(pair("ipad-1")));
    EXPECT_FALSE(registry->pairingWindow());
    EXPECT_EQ(makeRegistry()->devices(), registry->devices());

    // A window opened while a device's pairing is saved is not the one it paired in: it stays.
    registry->openPairing("123456", std::nullopt, 5, /*reusable=*/false);
    {
        const auto hold = holdSavingTheList();
        std::thread pairing([&] { result = pair("ipad-2"); });
        ASSERT_TRUE(hold.waitUntilHeld());
        registry->openPairing("654321", std::nullopt, 5, /*reusable=*/false);
        hold.release();
        pairing.join();
    }
    EXPECT_FALSE(failureOf(*result));
    EXPECT_EQ(registry->devices().size(), 2u);
    ASSERT_TRUE(registry->pairingWindow());
    EXPECT_EQ(registry->pairingWindow()->code, "654321");
}

// Every wrong code spends exactly one try however many handshakes ask at once: a try is taken in
// the same step as the key is lent, and never more than are left.
TEST_F(DeviceRegistryThreadsTest, ParallelLoansSpendTheTriesExactlyOnce) {
    constexpr int tries = 40;
    std::vector<int> reported;
    registry->setOnWrongCode([&](int left) { reported.push_back(left); });
    registry->openPairing("123456", std::nullopt, tries, false);
    std::atomic<int> wrong{0};
    std::vector<std::thread> handshakes;
    for (int t = 0; t < 8; ++t) {
        handshakes.emplace_back([&, t] {
            for (int i = t;; ++i) {
                auto loan = registry->lendPairingKey();
                if (!loan) {
                    if (!registry->pairingWindow()) {
                        return;
                    }
                    std::this_thread::yield();
                    continue;
                }
                if (i % 3 == 0) {
                    ++wrong;
                    loan->settle(TryOutcome::rejected);
                } else {
                    loan->settle(i % 3 == 1 ? TryOutcome::unused : TryOutcome::admitted);
                }
            }
        });
    }
    for (auto& handshake : handshakes) {
        handshake.join();
    }

    EXPECT_EQ(wrong.load(), tries);
    EXPECT_FALSE(registry->pairingWindow());
    queue->runUntilIdle();
    std::vector<int> expected(tries);
    std::iota(expected.begin(), expected.end(), 0);
    std::sort(reported.begin(), reported.end());
    EXPECT_EQ(reported, expected);
}

} // namespace
} // namespace velm
