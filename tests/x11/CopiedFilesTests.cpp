#include "platform/x11/CopiedFiles.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

using Paths = std::vector<std::string>;

TEST(CopiedFiles, DecodesLocalFileUrisAndSkipsCommentsAndOtherHosts) {
    EXPECT_EQ(CopiedFiles::paths("# comment\r\nfile:///home/a/My%20File.txt\r\nfile://localhost/tmp/b\r\n"
                                 "file://elsewhere/c\r\nhttp://example.com/d\r\nfile:///e%2",
                                 false),
              (Paths{"/home/a/My File.txt", "/tmp/b"}));
    EXPECT_EQ(CopiedFiles::paths("file:///x%00y\nfile:///ok", false), (Paths{"/ok"}));
}

TEST(CopiedFiles, ReadsTheGnomeFormAfterItsOperationLine) {
    EXPECT_EQ(CopiedFiles::paths("copy\nfile:///a\nfile:///b", true), (Paths{"/a", "/b"}));
    EXPECT_EQ(CopiedFiles::paths("file:///a\nfile:///b", true), (Paths{"/b"}));
}

TEST(CopiedFiles, LooksAtNoMoreThanTheFirstTwentyItems) {
    std::string list;
    for (int item = 0; item < 30; ++item) {
        list += item % 2 == 0 ? "file:///f" + std::to_string(item) + "\n" : "mailto:x\n";
    }
    const auto paths = CopiedFiles::paths(list, false);
    ASSERT_EQ(paths.size(), 10u);
    EXPECT_EQ(paths.back(), "/f18");
}

} // namespace
} // namespace velm
