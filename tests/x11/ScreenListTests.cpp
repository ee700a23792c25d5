#include "platform/dispatch/ManualQueue.h"
#include "platform/x11/RandrMonitors.h"
#include "platform/x11/X11ScreenList.h"
#include "tests/support/Blocking.h"
#include "tests/support/X11DesktopTest.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace velm {
namespace {

class ScreenListTest : public test::X11DesktopTest {
protected:
    // Virtual monitors outlive their client, so each test removes its own.
    void TearDown() override {
        if (desktop) {
            test::X11TestDesktop::run("xrandr --delmonitor velm-test-left");
            test::X11TestDesktop::run("xrandr --delmonitor velm-test-off");
            test::X11TestDesktop::run("xrandr --delmonitor " + longName);
        }
    }

    std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>();
    // 210 bytes of two-byte letters after the prefix: any X client may name a monitor so.
    const std::string longName = "velm-test-" + [] {
        std::string letters;
        for (int i = 0; i < 100; ++i) {
            letters += "\u00e9";
        }
        return letters;
    }();
};

const Monitor* named(const std::vector<Monitor>& monitors, const std::string& name) {
    const auto found =
        std::find_if(monitors.begin(), monitors.end(), [&](const Monitor& m) { return m.name == name; });
    return found == monitors.end() ? nullptr : &*found;
}

TEST_F(ScreenListTest, ListsTheServersScreenAsTheMainOne) {
    const auto list = X11ScreenList::make(queue);
    const auto monitors = list->monitors();
    ASSERT_EQ(monitors.size(), 1u);
    const Monitor& screen = monitors[0];
    EXPECT_EQ(
        std::tuple(screen.name, screen.id, screen.frame, screen.isMain, screen.isBuiltIn),
        std::tuple("screen", RandrMonitors::idForName("screen"), ScreenRect{0, 0, 1920, 1080}, true, false));
    EXPECT_FALSE(screen.vendor) << "Xvfb has no EDID";
}

TEST_F(ScreenListTest, ReportsAMonitorAddedAndRemovedKeepingTheOthersNumbers) {
    const auto list = X11ScreenList::make(queue);
    const auto before = list->monitors();
    std::vector<std::vector<Monitor>> changes;
    list->setOnChange([&](std::vector<Monitor> monitors) { changes.push_back(std::move(monitors)); });
    list->startWatching();
    queue->runUntilIdle();

    ASSERT_TRUE(test::X11TestDesktop::run("xrandr --setmonitor velm-test-left 640/100x480/100+100+50 none"));
    const auto reported = [&](std::size_t count) {
        return Blocking::waitUntil([&] {
            queue->advance(X11ScreenList::defaultRecheckInterval);
            return changes.size() >= count;
        });
    };
    ASSERT_TRUE(reported(1));
    const auto& added = changes.back();
    ASSERT_EQ(added.size(), 2u);
    const Monitor* left = named(added, "velm-test-left");
    ASSERT_TRUE(left);
    EXPECT_EQ(left->frame, (ScreenRect{100, 50, 640, 480}));
    EXPECT_FALSE(left->isMain) << "a monitor backed by an output is main when none is primary";
    EXPECT_FALSE(left->refreshRate);
    const Monitor* screen = named(added, "screen");
    ASSERT_TRUE(screen);
    EXPECT_EQ(std::pair(screen->isMain, screen->id), std::pair(true, before[0].id));
    EXPECT_EQ(list->monitors(), added);

    ASSERT_TRUE(test::X11TestDesktop::run("xrandr --delmonitor velm-test-left"));
    ASSERT_TRUE(reported(2));
    EXPECT_EQ(changes.back(), before);
}

// Names travel to the device in the host's hello: a long one is cut, on a character boundary.
TEST_F(ScreenListTest, CutsALongMonitorNameOnACharacterBoundary) {
    ASSERT_TRUE(test::X11TestDesktop::run("xrandr --setmonitor " + longName + " 640/100x480/100+0+0 none"));
    const auto list = X11ScreenList::make(queue);
    const auto monitors = list->monitors();
    ASSERT_EQ(monitors.size(), 2u);
    const Monitor& named = monitors[0].name == "screen" ? monitors[1] : monitors[0];
    EXPECT_EQ(named.name, longName.substr(0, 64));
    EXPECT_EQ(named.id, RandrMonitors::idForName(longName)) << "the number still tells monitors apart";
}

// A monitor may be placed past the screen's edge; what lies off the screen cannot be streamed.
TEST_F(ScreenListTest, ListsOnlyThePartOfAMonitorThatLiesOnTheScreen) {
    ASSERT_TRUE(
        test::X11TestDesktop::run("xrandr --setmonitor velm-test-left 640/100x480/100+1600+800 none"));
    ASSERT_TRUE(test::X11TestDesktop::run("xrandr --setmonitor velm-test-off 640/100x480/100+2000+0 none"));
    const auto monitors = X11ScreenList::make(queue)->monitors();
    const Monitor* partly = named(monitors, "velm-test-left");
    ASSERT_TRUE(partly);
    EXPECT_EQ(partly->frame, (ScreenRect{1600, 800, 320, 280}));
    EXPECT_FALSE(named(monitors, "velm-test-off"));
}

TEST_F(ScreenListTest, ReportsNothingOnceWatchingStopped) {
    const auto list = X11ScreenList::make(queue);
    int changes = 0;
    list->setOnChange([&](std::vector<Monitor>) { ++changes; });
    list->startWatching();
    list->stopWatching();
    queue->runUntilIdle();
    ASSERT_TRUE(test::X11TestDesktop::run("xrandr --setmonitor velm-test-left 640/100x480/100+0+0 none"));
    queue->advance(X11ScreenList::defaultRecheckInterval * 3);
    EXPECT_EQ(queue->pendingCount(), 0u);
    EXPECT_EQ(changes, 0);
}

} // namespace
} // namespace velm
