#include "tests/support/TemporaryFolder.h"
#include "transport/keys/KeychainStore.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

using test::TemporaryFolder;

class KeychainStoreTest : public ::testing::Test {
protected:
    std::filesystem::path folder() const { return temporary / "keychain"; }
    KeychainStore store(std::string service = "pellam.Velm.Host") const {
        return KeychainStore(std::move(service), GenericPasswordStore(folder()));
    }
    std::filesystem::path itemFile(std::string_view account) const {
        return folder() / *GenericPasswordStore::itemName("pellam.Velm.Host", account);
    }

    TemporaryFolder temporary;
};

TEST_F(KeychainStoreTest, ReadsWritesAndDeletesItems) {
    auto keychain = store();
    EXPECT_EQ(keychain.read("paired-devices-v1"), std::nullopt);
    EXPECT_TRUE(keychain.write(std::nullopt, "paired-devices-v1"));

    ASSERT_TRUE(keychain.write("a", "paired-devices-v1"));
    ASSERT_TRUE(keychain.write("", "paired-devices-v1"));
    EXPECT_EQ(keychain.read("paired-devices-v1"), "");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder()), {}), 1);

    EXPECT_TRUE(keychain.write(std::nullopt, "paired-devices-v1"));
    EXPECT_EQ(keychain.read("paired-devices-v1"), std::nullopt);
}

TEST_F(KeychainStoreTest, ServicesAndAccountsAreSeparate) {
    auto host = store("pellam.Velm.Host");
    auto other = store("pellam.Velm.Other");
    ASSERT_TRUE(host.write("host secret", "pairing-code"));
    ASSERT_TRUE(other.write("other secret", "pairing-code"));
    EXPECT_EQ(host.read("pairing-code"), "host secret");
    // Concatenated, these two pairs would spell the same name.
    ASSERT_TRUE(store("ab").write("one", "c"));
    ASSERT_TRUE(store("a").write("two", "bc"));

    EXPECT_EQ(store("ab").read("c"), "one");
    EXPECT_EQ(store("a").read("bc"), "two");
    EXPECT_TRUE(other.write(std::nullopt, "pairing-code"));
    EXPECT_EQ(host.read("pairing-code"), "host secret");
}

TEST_F(KeychainStoreTest, ItemsAreFilesWithHexNames) {
    ASSERT_TRUE(store("s/").write("secret", "a.b"));
    EXPECT_EQ(TemporaryFolder::readFile(folder() / "732f-612e62"), "secret");
    EXPECT_FALSE(store().write("x", std::string(200, 'a')));
}

// All paired devices share one item, so a failed write must not take the old list with it.
TEST_F(KeychainStoreTest, FailedWriteKeepsTheOldValue) {
    auto keychain = store();
    ASSERT_TRUE(keychain.write("[device one, device two]", "paired-devices-v1"));
    auto temporaryName = itemFile("paired-devices-v1").string() + ".tmp";
    std::filesystem::create_directories(std::filesystem::path(temporaryName) / "in-the-way");

    EXPECT_FALSE(keychain.write("[device one, device two, device three]", "paired-devices-v1"));
    EXPECT_EQ(keychain.read("paired-devices-v1"), "[device one, device two]");
}

TEST_F(KeychainStoreTest, FailedDeleteIsReported) {
    auto keychain = store();
    ASSERT_TRUE(keychain.write("123456", "pairing-code"));
    std::filesystem::remove(itemFile("pairing-code"));
    std::filesystem::create_directories(itemFile("pairing-code") / "in-the-way");
    EXPECT_FALSE(keychain.write(std::nullopt, "pairing-code"));
}

TEST_F(KeychainStoreTest, RefusesTextThatIsNotUtf8AndLinkedFolders) {
    auto keychain = store();
    EXPECT_FALSE(keychain.write("bad \xC3", "pairing-code"));
    EXPECT_EQ(keychain.read("pairing-code"), std::nullopt);

    ASSERT_TRUE(keychain.write("good", "pairing-code"));
    TemporaryFolder::writeFile(itemFile("pairing-code"), "bad \xFF");
    EXPECT_EQ(keychain.read("pairing-code"), std::nullopt);

    std::filesystem::create_directory_symlink(folder(), temporary / "linked");
    KeychainStore linked("pellam.Velm.Host", GenericPasswordStore(temporary / "linked"));
    EXPECT_EQ(linked.read("paired-devices-v1"), std::nullopt);
    EXPECT_FALSE(linked.write("x", "paired-devices-v1"));
}

} // namespace
} // namespace velm
