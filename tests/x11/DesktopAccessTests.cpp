#include "platform/x11/X11DesktopAccess.h"
#include "tests/support/X11TestDesktop.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace velm {
namespace {

TEST(DesktopAccessTest, GrantsBothOnADisplayThatAcceptsXTestAndReads) {
    std::string reason;
    const auto desktop = test::X11TestDesktop::open(reason);
    if (!desktop) {
        GTEST_SKIP() << reason;
    }
    EXPECT_EQ(X11DesktopAccess::check(), (DesktopAccess{.screenReading = true, .inputInjection = true}));
}

TEST(DesktopAccessTest, GrantsNothingWithoutADisplay) {
    unsetenv("DISPLAY");
    EXPECT_EQ(X11DesktopAccess::check(), DesktopAccess{});
}

} // namespace
} // namespace velm
