#include "platform/store/StoreFolder.h"
#include "tests/support/SystemCallFaults.h"
#include "tests/support/TemporaryFolder.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velm {
namespace {

using Status = StoreFolder::ReadResult::Status;
using test::TemporaryFolder;

constexpr uid_t otherUser = 4242;

mode_t modeOf(const std::filesystem::path& path) {
    struct stat info {};
    EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

class StoreFolderTest : public ::testing::Test {
protected:
    TemporaryFolder temporary;
    std::filesystem::path path = temporary / "a" / "b";
    StoreFolder folder{path};

    std::string readText(std::string_view name) {
        auto result = folder.read(name);
        EXPECT_EQ(result.status, Status::found);
        return toString(result.contents);
    }

    // A second file moved aside to the same name takes the next free one, and neither is lost.
    void movesTwoAsideOneAfterTheOther() {
        ASSERT_TRUE(folder.replace("item", toBytes("first")));
        EXPECT_EQ(folder.moveAside("item", "item.bad"), "item.bad");
        ASSERT_TRUE(folder.replace("item", toBytes("second")));
        EXPECT_EQ(folder.moveAside("item", "item.bad"), "item.bad-2");
        EXPECT_EQ(readText("item.bad"), "first");
        EXPECT_EQ(readText("item.bad-2"), "second");
    }
};

TEST_F(StoreFolderTest, ReplacesReadsAndRemovesPrivateFilesAndKeepsThemPrivate) {
    EXPECT_EQ(folder.read("item").status, Status::missing);
    EXPECT_TRUE(folder.remove("item"));

    ASSERT_TRUE(folder.replace("item", toBytes("one")));
    EXPECT_EQ((std::vector{modeOf(temporary / "a"), modeOf(path), modeOf(path / "item")}),
              (std::vector<mode_t>{0700, 0700, 0600}));
    ASSERT_TRUE(folder.replace("item", toBytes("two")));
    EXPECT_EQ(readText("item"), "two");
    ASSERT_TRUE(folder.replace("empty", {}));
    EXPECT_EQ(readText("empty"), "");
    EXPECT_FALSE(std::filesystem::exists(path / "item.tmp"));

    EXPECT_TRUE(folder.remove("item"));
    EXPECT_EQ(folder.read("item").status, Status::missing);
    EXPECT_TRUE(folder.remove("item"));

    // Loose permissions are tightened on the next read.
    ASSERT_EQ(chmod(path.c_str(), 0755), 0);
    ASSERT_EQ(chmod((path / "empty").c_str(), 0644), 0);
    EXPECT_EQ(readText("empty"), "");
    EXPECT_EQ(std::pair(modeOf(path), modeOf(path / "empty")), (std::pair<mode_t, mode_t>(0700, 0600)));
}

// A writer killed before its rename leaves "<name>.tmp" behind, complete or not.
TEST_F(StoreFolderTest, LeftoverTemporaryFileNeitherShowsNorBlocks) {
    ASSERT_TRUE(folder.replace("item", toBytes("old")));
    TemporaryFolder::writeFile(path / "item.tmp", "half of the ne");
    EXPECT_EQ(readText("item"), "old");
    ASSERT_TRUE(folder.replace("item", toBytes("new")));
    EXPECT_EQ(readText("item"), "new");

    // Planted as a link, the temporary name must not lead the write elsewhere.
    TemporaryFolder::writeFile(temporary / "outside", "untouched");
    std::filesystem::create_symlink(temporary / "outside", path / "item.tmp");
    ASSERT_TRUE(folder.replace("item", toBytes("newer")));
    EXPECT_EQ(readText("item"), "newer");
    EXPECT_EQ(TemporaryFolder::readFile(temporary / "outside"), "untouched");
}

// A change whose folder could not be synced may be undone by a power cut: it is no success.
TEST_F(StoreFolderTest, ReportsAFailedFolderSyncAsAFailedChange) {
    ASSERT_TRUE(folder.replace("item", toBytes("old")));
    ASSERT_TRUE(folder.replace("other", toBytes("x")));
    const auto fault = test::SystemCallFaults::failFolderSync();
    EXPECT_FALSE(folder.replace("item", toBytes("new")));
    EXPECT_FALSE(folder.remove("other"));
    EXPECT_EQ(folder.moveAside("item", "item.aside"), std::nullopt);
    // Nothing to sync when there was nothing to remove.
    EXPECT_TRUE(folder.remove("never-there"));
}

TEST_F(StoreFolderTest, SyncsAFolderItMadeIntoItsParent) {
    const auto fault = test::SystemCallFaults::failFolderSync("a");
    EXPECT_FALSE(folder.replace("item", toBytes("one"))); // making a/b must sync a
    // Once the folder exists, its parent has nothing more to sync.
    EXPECT_TRUE(folder.replace("item", toBytes("two")));
}

// A secret whose replacement was interrupted must not stay on disk in the temporary file.
TEST_F(StoreFolderTest, RemovingAnItemRemovesItsLeftoverTemporaryFile) {
    ASSERT_TRUE(folder.replace("item", toBytes("old")));
    TemporaryFolder::writeFile(path / "item.tmp", "new secret");
    TemporaryFolder::writeFile(path / "gone.tmp", "new secret");
    for (const char* name : {"item", "gone"}) {
        EXPECT_TRUE(folder.remove(name));
        EXPECT_FALSE(std::filesystem::exists(path / (std::string(name) + ".tmp"))) << name;
    }
}

// NFS takes a writer's flock as a write lock on the server, which a folder, open only for reading, cannot
// hold: writers there still take turns, and their changes are made.
TEST_F(StoreFolderTest, WritesWhereAFolderCannotBeLocked) {
    const auto fault = test::SystemCallFaults::failLockingReadOnly(EBADF);
    ASSERT_TRUE(folder.replace("item", toBytes("one")));
    ASSERT_TRUE(folder.replace("item", toBytes("two")));
    EXPECT_EQ(readText("item"), "two");
    EXPECT_EQ(folder.moveAside("item", "item.bad"), "item.bad");
    EXPECT_TRUE(folder.remove("item.bad"));
    EXPECT_EQ(folder.read("item.bad").status, Status::missing);

    StoreFolder autostart(temporary / "autostart", StoreFolder::Kind::sharedFolder);
    EXPECT_TRUE(autostart.replace("entry", toBytes("x")));
}

TEST_F(StoreFolderTest, TellsAnOpenThatMayPassFromAnItemThatCannotBeTrusted) {
    ASSERT_TRUE(folder.replace("item", toBytes("one")));
    {
        const auto fault = test::SystemCallFaults::failOpening("item", EMFILE);
        EXPECT_EQ(folder.read("item").status, Status::unavailable);
    }
    EXPECT_EQ(readText("item"), "one");
}

TEST_F(StoreFolderTest, AReadThatFailsHalfWayGivesNothingAndMayBeTriedAgain) {
    const std::string secret(64, 's');
    ASSERT_TRUE(folder.replace("item", toBytes(secret)));
    {
        const auto fault = test::SystemCallFaults::failReadingAfter("item", 16, EIO);
        const auto result = folder.read("item");
        EXPECT_EQ(result.status, Status::unavailable);
        EXPECT_TRUE(result.contents.empty());
    }
    EXPECT_EQ(readText("item"), secret);
}

TEST_F(StoreFolderTest, RefusesLinksAndOtherOwners) {
    ASSERT_TRUE(folder.replace("item", toBytes("secret")));

    StoreFolder linked(temporary / "link");
    std::filesystem::create_directory_symlink(path, temporary / "link");
    EXPECT_EQ(linked.read("item").status, Status::failed);
    EXPECT_FALSE(linked.replace("item", toBytes("x")));
    EXPECT_FALSE(linked.remove("item"));
    EXPECT_EQ(readText("item"), "secret");

    std::filesystem::create_symlink(path / "item", path / "alias");
    EXPECT_EQ(folder.read("alias").status, Status::failed);

    if (geteuid() != 0) {
        GTEST_SKIP() << "changing owners needs root";
    }
    ASSERT_EQ(chown((path / "item").c_str(), otherUser, otherUser), 0);
    EXPECT_EQ(folder.read("item").status, Status::failed);

    ASSERT_EQ(chown(path.c_str(), otherUser, otherUser), 0);
    EXPECT_FALSE(folder.replace("other", toBytes("x")));
    EXPECT_FALSE(folder.remove("item"));
    EXPECT_EQ(folder.read("item").status, Status::failed);
}

TEST_F(StoreFolderTest, RefusesOversizedAndSpecialFiles) {
    ASSERT_TRUE(folder.replace("item", toBytes("x")));
    ASSERT_EQ(truncate((path / "item").c_str(), StoreFolder::maxFileBytes + 1), 0);
    EXPECT_EQ(folder.read("item").status, Status::failed);
    ASSERT_EQ(truncate((path / "item").c_str(), StoreFolder::maxFileBytes), 0);
    EXPECT_EQ(folder.read("item").contents.size(), StoreFolder::maxFileBytes);
    EXPECT_FALSE(folder.replace("item", Bytes(StoreFolder::maxFileBytes + 1)));

    ASSERT_EQ(mkfifo((path / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(folder.read("fifo").status, Status::failed); // and does not block
}

TEST_F(StoreFolderTest, MovesAsideWithoutReplacing) {
    movesTwoAsideOneAfterTheOther();
    EXPECT_EQ(folder.moveAside("item", "item.bad"), std::nullopt);
}

// A home folder on NFS cannot rename without replacing: a damaged file must still go aside.
TEST_F(StoreFolderTest, MovesAsideWhereTheFileSystemCannotRenameWithoutReplacing) {
    const auto fault = test::SystemCallFaults::failMovesWithoutReplacing(EINVAL, 0);
    movesTwoAsideOneAfterTheOther();
    EXPECT_EQ(folder.read("item").status, Status::missing);
}

} // namespace
} // namespace velm
