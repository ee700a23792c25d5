#include "Velm_Host/input/TapTargetFinder.h"
#include "Velm_Host/input/TextFocusMonitor.h"
#include "platform/accessibility/AccessibilityStatus.h"
#include "platform/accessibility/AccessibleTree.h"
#include "platform/accessibility/AtspiAccessibility.h"
#include "tests/programs/AccessibleWindowLayout.h"
#include "tests/support/AccessibilityBus.h"
#include "tests/support/AccessibleDesktop.h"
#include "tests/support/Blocking.h"
#include "tests/support/X11TestDesktop.h"

#include <cstdlib>
#include <future>
#include <gtest/gtest.h>
#include <mutex>

namespace velm {
namespace {

namespace Layout = test::AccessibleWindowLayout;
using namespace std::chrono_literals;

ScreenPoint centre(const ScreenRect& rect) {
    return {rect.x + rect.width / 2, rect.y + rect.height / 2};
}

Rect toRect(const ScreenRect& rect) {
    return {{double(rect.x), double(rect.y)}, {double(rect.width), double(rect.height)}};
}

// A real Qt window under Xvfb, read through the accessibility bus. libatspi stays with the bus it
// first found, so the bus and the window serve every test of the process.
class AtspiTreeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        desktop = test::AccessibleDesktop::start(VELM_ACCESSIBLE_WINDOW, reason).release();
    }
    static void TearDownTestSuite() {
        delete desktop;
        desktop = nullptr;
    }

    void SetUp() override {
        if (!desktop) {
            GTEST_SKIP() << reason;
        }
        ASSERT_TRUE(Blocking::waitUntil([this] { return roleAt(centre(Layout::button)) == "AXButton"; }))
            << "the window's button never showed on the accessibility bus";
    }

    std::optional<std::string> roleAt(ScreenPoint point) {
        auto answer = std::make_shared<std::promise<std::optional<std::string>>>();
        auto role = answer->get_future();
        accessibility->visit([answer, point](AccessibleTree& tree) {
            const auto element = tree.elementAt(point);
            answer->set_value(element ? tree.role(*element) : std::nullopt);
        });
        return role.wait_for(2s) == std::future_status::ready ? role.get() : std::nullopt;
    }

    // A click of the user's mouse, which also moves the keyboard focus in the window.
    static void click(ScreenPoint point) {
        ASSERT_TRUE(test::X11TestDesktop::run("xdotool mousemove --sync " + std::to_string(point.x) + " " +
                                              std::to_string(point.y) + " click 1"));
    }

    static inline test::AccessibleDesktop* desktop = nullptr;
    static inline std::string reason;
    std::shared_ptr<Accessibility> accessibility = AtspiAccessibility::shared();
};

TEST_F(AtspiTreeTest, ATapBesideAButtonIsMovedOntoIt) {
    // The time allowed for lookups is the unit tests' to check; a loaded machine must not cut this
    // search short.
    TapTargetFinder finder(accessibility, [] { return TapTargetFinder::Clock::time_point(); });
    const double middle = Layout::button.y + Layout::button.height / 2.0;
    const Rect screen{{0, 0}, {1920, 1080}};

    EXPECT_EQ(finder.find({Layout::button.x - 10.0, middle}, 20, screen),
              (Point{Layout::button.x + 3.0, middle}));
    EXPECT_EQ(finder.find({double(centre(Layout::button).x), middle}, 20, screen), std::nullopt);
}

TEST_F(AtspiTreeTest, ALineEditTakesTextWithItsFrameAndAButtonDoesNot) {
    struct Seen {
        std::mutex lock;
        std::optional<bool> takesText;
        std::optional<Rect> area;
    };
    auto seen = std::make_shared<Seen>();
    auto monitor = TextFocusMonitor::make(accessibility);
    monitor->setOnChange([seen](bool takesText) {
        std::lock_guard guard(seen->lock);
        seen->takesText = takesText;
    });
    monitor->setOnAreaChange([seen](std::optional<Rect> area) {
        std::lock_guard guard(seen->lock);
        seen->area = area;
    });
    const auto shows = [seen](bool takesText, std::optional<Rect> area) {
        return Blocking::waitUntil([&] {
            std::lock_guard guard(seen->lock);
            return seen->takesText == takesText && seen->area == area;
        });
    };
    monitor->start();

    click(centre(Layout::button));
    EXPECT_TRUE(shows(false, std::nullopt));
    click(centre(Layout::field));
    EXPECT_TRUE(shows(true, toRect(Layout::field)));
    click(centre(Layout::button));
    EXPECT_TRUE(shows(false, std::nullopt));
    click(centre(Layout::comboBox));
    EXPECT_TRUE(shows(true, toRect(Layout::comboBox)));

    monitor->stop();
}

// The desktop's switch, on buses of the test's own: it needs no display and no window.
TEST(AccessibilitySwitchTest, IsTurnedOnOnce) {
    std::string reason;
    const auto bus = test::AccessibilityBus::start(reason);
    if (!bus) {
        GTEST_SKIP() << reason;
    }
    const char* before = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const std::optional<std::string> caller = before ? std::optional<std::string>(before) : std::nullopt;
    setenv("DBUS_SESSION_BUS_ADDRESS", bus->sessionAddress().c_str(), 1);

    EXPECT_EQ(AccessibilityStatus::turnOn(2s), AccessibilityWake::turnedOn);
    EXPECT_EQ(AccessibilityStatus::turnOn(2s), AccessibilityWake::alreadyOn);

    if (caller) {
        setenv("DBUS_SESSION_BUS_ADDRESS", caller->c_str(), 1);
    } else {
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
}

} // namespace
} // namespace velm
