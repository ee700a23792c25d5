#include "platform/dispatch/ManualQueue.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11TraySelection.h"
#include "tests/support/Pump.h"
#include "tests/support/X11DesktopTest.h"

#include <gtest/gtest.h>
#include <vector>

namespace velm {
namespace {

// A selection of the test's own stands for the tray's, so that a tray running on the sandbox's display
// changes nothing here: the test plays the tray manager taking it and going in each way a tray can go.
class TraySelectionTest : public test::X11DesktopTest {
protected:
    static constexpr const char* selection = "_VELM_TEST_SYSTEM_TRAY_S0";

    // A tray manager's window owning the selection, on a connection of its own.
    struct Manager {
        std::unique_ptr<X11Connection> connection = X11Connection::open();
        Window window = 0;

        Manager() {
            window = XCreateSimpleWindow(connection->display(), connection->root(), 0, 0, 1, 1, 0, 0, 0);
            XSetSelectionOwner(connection->display(), connection->atom(selection), window, CurrentTime);
            XSync(connection->display(), False);
        }
        void destroyWindow() {
            XDestroyWindow(connection->display(), window);
            XSync(connection->display(), False);
        }
    };

    std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>();
};

TEST_F(TraySelectionTest, FollowsATrayManagerComingAndGoing) {
    const auto tray = X11TraySelection::make(queue, selection);
    std::vector<bool> changes;
    tray->setOnChange([&] { changes.push_back(tray->isOwned()); });
    EXPECT_FALSE(tray->isOwned());
    const auto heard = [&](std::vector<bool> expected) {
        return test::pumpUntil(*queue, [&] { return changes.size() >= expected.size(); }) &&
               changes == expected;
    };

    auto manager = std::make_unique<Manager>();
    ASSERT_TRUE(heard({true}));
    manager->destroyWindow();
    ASSERT_TRUE(heard({true, false}));

    // A tray that is killed takes its connection, and with it its window, along.
    manager = std::make_unique<Manager>();
    ASSERT_TRUE(heard({true, false, true}));
    manager.reset();
    EXPECT_TRUE(heard({true, false, true, false}));
}

TEST_F(TraySelectionTest, ATrayAlreadyRunningCountsFromTheStart) {
    const Manager manager;
    EXPECT_TRUE(X11TraySelection::make(queue, selection)->isOwned());
}

} // namespace
} // namespace velm
