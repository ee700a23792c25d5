#include "platform/file/ReadableFile.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace velm {
namespace {

using test::TemporaryFolder;

TEST(ReadableFileTest, FillsTheBufferUntilTheFileEnds) {
    TemporaryFolder folder;
    TemporaryFolder::writeFile(folder / "data", "0123456789");
    auto file = ReadableFile::open(folder / "data");
    ASSERT_TRUE(file);
    Bytes buffer(4);
    EXPECT_EQ(file->read(buffer), 4u);
    EXPECT_EQ(toString(buffer), "0123");
    buffer.assign(8, 0);
    EXPECT_EQ(file->read(buffer), 6u);
    EXPECT_EQ(toString(ByteView(buffer).first(6)), "456789");
    EXPECT_EQ(file->read(buffer), 0u);
    file->close();
    EXPECT_EQ(file->read(buffer), std::nullopt);
}

// A pipe without a writer would block the open or every read: it is refused at once.
TEST(ReadableFileTest, RefusesAnythingButARegularFile) {
    TemporaryFolder folder;
    ASSERT_EQ(mkfifo((folder / "pipe").c_str(), 0600), 0);
    EXPECT_FALSE(ReadableFile::open(folder / "pipe"));
    EXPECT_FALSE(ReadableFile::open(folder.path()));
    EXPECT_FALSE(ReadableFile::open(folder / "missing"));
}

} // namespace
} // namespace velm
