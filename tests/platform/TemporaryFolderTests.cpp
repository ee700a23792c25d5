#include "tests/support/TemporaryFolder.h"

#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace velm {
namespace {

using test::TemporaryFolder;

// The tests' own temporary folders go again, also those of a death test's child, which leaves through
// exit() without running its fixture's destructors.
class TemporaryFolderTest : public ::testing::Test {
protected:
    // Temporary folders are made in `folder` while `use` runs.
    void makingIn(const std::filesystem::path& folder, const std::function<void()>& use) {
        const char* before = std::getenv("TMPDIR");
        const std::optional<std::string> caller = before ? std::optional<std::string>(before) : std::nullopt;
        setenv("TMPDIR", folder.c_str(), 1);
        use();
        if (caller) {
            setenv("TMPDIR", caller->c_str(), 1);
        } else {
            unsetenv("TMPDIR");
        }
    }
};

TEST_F(TemporaryFolderTest, AChildThatExitsLeavesNoFolderBehind) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TemporaryFolder outer;
    makingIn(outer.path(), [] {
        EXPECT_EXIT(
            {
                TemporaryFolder made;
                TemporaryFolder::writeFile(made / "file", "contents");
                std::exit(0);
            },
            ::testing::ExitedWithCode(0), "");
    });
    EXPECT_TRUE(std::filesystem::is_empty(outer.path()));
}

TEST_F(TemporaryFolderTest, AForkedChildLeavesItsParentsFoldersAlone) {
    GTEST_FLAG_SET(death_test_style, "fast");
    TemporaryFolder folder;
    EXPECT_EXIT(std::exit(0), ::testing::ExitedWithCode(0), "");
    EXPECT_TRUE(std::filesystem::exists(folder.path()));
}

} // namespace
} // namespace velm
