#include "platform/store/XdgDirs.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace velm {
namespace {

// Restores one environment variable at the end of a test.
class SavedVariable {
public:
    explicit SavedVariable(const char* name) : name_(name) {
        if (const char* value = std::getenv(name)) {
            saved_ = value;
        }
    }
    ~SavedVariable() {
        if (saved_) {
            setenv(name_, saved_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> saved_;
};

TEST(XdgDirsTest, UsesAbsoluteVariablesElseHomeFolders) {
    SavedVariable home("HOME"), config("XDG_CONFIG_HOME"), data("XDG_DATA_HOME");
    setenv("HOME", "/home/someone", 1);
    setenv("XDG_CONFIG_HOME", "/etc/elsewhere", 1);
    setenv("XDG_DATA_HOME", "relative/ignored", 1);
    EXPECT_EQ(XdgDirs::configHome(), "/etc/elsewhere");
    EXPECT_EQ(XdgDirs::dataHome(), "/home/someone/.local/share");

    unsetenv("XDG_CONFIG_HOME");
    setenv("XDG_DATA_HOME", "", 1);
    EXPECT_EQ(XdgDirs::configHome(), "/home/someone/.config");
    EXPECT_EQ(XdgDirs::dataHome(), "/home/someone/.local/share");

    unsetenv("HOME");
    EXPECT_TRUE(XdgDirs::home().is_absolute());
}

} // namespace
} // namespace velm
