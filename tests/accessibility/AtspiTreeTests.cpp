#include "Velm_Host/input/TapTargetFinder.h"
#include "Velm_Host/input/TextFocusMonitor.h"
#include "platform/accessibility/AccessibilityStatus.h"
#include "platform/accessibility/AccessibleTree.h"
#include "platform/accessibility/AtspiAccessibility.h"
#include "platform/accessibility/AtspiTree.h"
#include "tests/programs/AccessibleWindowLayout.h"
#include "tests/support/AccessibilityBus.h"
#include "tests/support/AccessibleDesktop.h"
#include "tests/support/Blocking.h"
#include "tests/support/X11TestDesktop.h"

#include <csignal>
#include <cstdlib>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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

// libatspi stays with the bus it first found, and each desktop brings a bus of its own: one desktop
// per process, as ctest runs the tests.
std::unique_ptr<test::AccessibleDesktop> startDesktop(std::string& reason,
                                                      const std::vector<std::string>& arguments = {}) {
    static bool started = false;
    if (std::exchange(started, true)) {
        reason = "another accessible window ran in this process; run this test on its own";
        return nullptr;
    }
    return test::AccessibleDesktop::start(VELM_ACCESSIBLE_WINDOW, reason, arguments);
}

// A real Qt window under Xvfb, read through the accessibility bus. libatspi stays with the bus it
// first found, so the bus and the window serve every test of the process.
class AtspiTreeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { desktop = startDesktop(reason).release(); }
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

// Asks the shared accessibility thread one question of its tree.
template <typename Answer> std::optional<Answer> ask(std::function<Answer(AtspiTree&)> question) {
    auto answer = std::make_shared<std::promise<Answer>>();
    auto future = answer->get_future();
    AtspiAccessibility::shared()->visit([answer, question](AccessibleTree& tree) {
        answer->set_value(question(dynamic_cast<AtspiTree&>(tree)));
    });
    return future.wait_for(2s) == std::future_status::ready ? std::optional(future.get()) : std::nullopt;
}

// Whether the test window took the focus and shows on the accessibility bus, the element at `where`
// with its role.
::testing::AssertionResult windowIsUp(const ScreenRect& where, const std::string& role) {
    if (!Blocking::waitUntil([] {
            return test::X11TestDesktop::run(
                "xdotool getwindowfocus getwindowname | grep -q 'velm accessible window'");
        })) {
        return ::testing::AssertionFailure() << "the window never took the focus";
    }
    if (!Blocking::waitUntil([&] {
            // By value: a question that outlives its wait still runs on the accessibility thread.
            return ask<std::optional<std::string>>([where](AtspiTree& tree) {
                       const auto element = tree.elementAt(centre(where));
                       return element ? tree.role(*element) : std::nullopt;
                   }) == role;
        })) {
        return ::testing::AssertionFailure() << "the window never showed on the accessibility bus";
    }
    return ::testing::AssertionSuccess();
}

// A window crowded with hundreds of labels, which holds the focus before this process listens for
// announcements of it: its focused line edit can only be found by searching the window.
TEST(AtspiTreeSearchTest, FindsTheFocusInACrowdedWindowAskingOnlyForChildrenItVisits) {
    std::string reason;
    const auto desktop = startDesktop(reason, {Layout::crowdedArgument});
    if (!desktop) {
        GTEST_SKIP() << reason;
    }
    ASSERT_TRUE(windowIsUp(Layout::crowdedField, "AXTextField"));

    const auto found = ask<std::pair<std::optional<ScreenRect>, int>>([](AtspiTree& tree) {
        const auto focused = tree.focusedElement();
        return std::pair(focused ? tree.frame(*focused) : std::nullopt, tree.searchedChildren());
    });
    ASSERT_TRUE(found);
    EXPECT_EQ(found->first, Layout::crowdedField);
    if (found->second == 0) {
        // On a busy machine the window can announce its focus only once this process listens.
        GTEST_SKIP() << "the focus was announced, so nothing was searched";
    }
    EXPECT_GT(found->second, Layout::labelsPerPanel) << "found by searching, past the first panel";
    EXPECT_LT(found->second, AtspiTree::maxSearchedElements) << "children asked for";
}

// The application's extra windows each claim to be active and hold hundreds of labels, and come before
// the main window, whose button holds the focus: together, more than one search may walk through.
class AtspiTreeActiveWindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string reason;
        desktop = startDesktop(reason, {Layout::activeWindowsArgument});
        if (!desktop) {
            GTEST_SKIP() << reason;
        }
        ASSERT_TRUE(windowIsUp(Layout::button, "AXButton"));
    }

    std::unique_ptr<test::AccessibleDesktop> desktop;
};

TEST_F(AtspiTreeActiveWindowsTest, OneFocusSearchAsksForNoMoreChildrenThanItsBoundOverAllWindows) {
    const auto found = ask<std::pair<bool, int>>([](AtspiTree& tree) {
        const bool isFound = tree.focusedElement().has_value();
        return std::pair(isFound, tree.searchedChildren());
    });
    ASSERT_TRUE(found);
    if (found->second == 0) {
        GTEST_SKIP() << "the focus was announced, so nothing was searched";
    }
    EXPECT_LT(found->second, AtspiTree::maxSearchedElements) << "children asked for";
    EXPECT_FALSE(found->first) << "the focus lies past the bound, in the last window";
}

// A frozen application answers nothing: a question must not wait for each of its windows in turn.
TEST_F(AtspiTreeActiveWindowsTest, AFrozenApplicationCostsOneTimeOutPerQuestion) {
    ASSERT_EQ(kill(desktop->applicationPid(), SIGSTOP), 0);
    const auto answer = ask<std::pair<bool, int>>([](AtspiTree& tree) {
        // The main window's button, then a point in another window of the same application.
        const bool isFound = tree.elementAt(centre(Layout::button)).has_value() ||
                             tree.elementAt(centre(Layout::beside)).has_value();
        return std::pair(isFound, tree.timedOutCalls());
    });
    kill(desktop->applicationPid(), SIGCONT);
    ASSERT_TRUE(answer);
    EXPECT_FALSE(answer->first);
    EXPECT_EQ(answer->second, 1) << "messages that timed out";
}

// The session bus the process finds in its environment, for as long as it lives.
class SessionBusAddress {
public:
    explicit SessionBusAddress(const std::string& address) {
        if (const char* before = std::getenv(variable)) {
            caller_ = before;
        }
        setenv(variable, address.c_str(), 1);
    }
    ~SessionBusAddress() {
        if (caller_) {
            setenv(variable, caller_->c_str(), 1);
        } else {
            unsetenv(variable);
        }
    }

private:
    static constexpr const char* variable = "DBUS_SESSION_BUS_ADDRESS";
    std::optional<std::string> caller_;
};

// The desktop's switch, on buses of the test's own: it needs no display and no window.
TEST(AccessibilitySwitchTest, IsTurnedOnOnce) {
    std::string reason;
    const auto bus = test::AccessibilityBus::start(reason);
    if (!bus) {
        GTEST_SKIP() << reason;
    }
    const SessionBusAddress session(bus->sessionAddress());

    EXPECT_EQ(AccessibilityStatus::turnOn(2s), AccessibilityWake::turnedOn);
    EXPECT_EQ(AccessibilityStatus::turnOn(2s), AccessibilityWake::alreadyOn);
}

// A session bus that has stopped answering (here a frozen one) is given up on, not waited for.
TEST(AccessibilitySwitchTest, AFrozenSessionBusIsGivenUpOn) {
    const auto bus = test::PrivateSessionBus::start();
    if (!bus) {
        GTEST_SKIP() << "dbus-daemon cannot be started here";
    }
    const SessionBusAddress session(bus->address());
    ASSERT_EQ(kill(bus->pid(), SIGSTOP), 0);
    auto wake = std::async(std::launch::async, [] { return AccessibilityStatus::turnOn(1s); });
    const auto status = wake.wait_for(60s);
    kill(bus->pid(), SIGCONT);
    ASSERT_EQ(status, std::future_status::ready);
    EXPECT_EQ(wake.get(), AccessibilityWake::unavailable);
}

} // namespace
} // namespace velm
