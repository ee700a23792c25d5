#include "platform/file/Folder.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <vector>

namespace velm {
namespace {

using test::TemporaryFolder;

class FolderTest : public ::testing::Test {
protected:
    TemporaryFolder temporary;
    Folder folder = *Folder::open(temporary.path());
};

TEST_F(FolderTest, CreatesPrivateFilesOnlyUnderNewNames) {
    auto file = folder.createExclusive("new");
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->write(toBytes("abc")));
    ASSERT_TRUE(file->sync());
    ASSERT_TRUE(file->close());
    EXPECT_EQ(TemporaryFolder::readFile(temporary / "new"), "abc");
    struct stat info {};
    ASSERT_EQ(stat((temporary / "new").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    EXPECT_FALSE(folder.createExclusive("new"));
    EXPECT_EQ(errno, EEXIST);
    // A link is never followed, not even to create its target.
    std::filesystem::create_symlink(temporary / "target", temporary / "link");
    EXPECT_FALSE(folder.createExclusive("link"));
    EXPECT_FALSE(std::filesystem::exists(temporary / "target"));
}

TEST_F(FolderTest, RefusesAnythingButASingleName) {
    for (const std::string& name :
         std::vector<std::string>{"", ".", "..", "../escape", "a/b", std::string("a\0b", 3)}) {
        EXPECT_FALSE(folder.createExclusive(name)) << name;
        EXPECT_TRUE(folder.contains(name)) << name;
        EXPECT_FALSE(folder.remove(name)) << name;
        EXPECT_EQ(folder.moveWithoutReplacing(name, "x"), Folder::MoveResult::failed) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(temporary.path().parent_path() / "escape"));
}

TEST_F(FolderTest, MovesWithoutReplacing) {
    TemporaryFolder::writeFile(temporary / "from", "new");
    TemporaryFolder::writeFile(temporary / "to", "old");
    EXPECT_EQ(folder.moveWithoutReplacing("from", "to"), Folder::MoveResult::taken);
    EXPECT_EQ(TemporaryFolder::readFile(temporary / "to"), "old");
    std::filesystem::create_symlink(temporary / "nowhere", temporary / "dangling");
    EXPECT_TRUE(folder.contains("dangling"));
    EXPECT_EQ(folder.moveWithoutReplacing("from", "dangling"), Folder::MoveResult::taken);

    EXPECT_FALSE(folder.contains("free"));
    EXPECT_EQ(folder.moveWithoutReplacing("from", "free"), Folder::MoveResult::moved);
    EXPECT_EQ(TemporaryFolder::readFile(temporary / "free"), "new");
    EXPECT_FALSE(folder.contains("from"));
    EXPECT_EQ(folder.moveWithoutReplacing("from", "other"), Folder::MoveResult::failed);

    EXPECT_TRUE(folder.remove("free"));
    EXPECT_TRUE(folder.remove("free"));
}

} // namespace
} // namespace velm
