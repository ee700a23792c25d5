#include "Velm_Host/model/X11HostDesktop.h"
#include "platform/dispatch/ManualQueue.h"
#include "platform/x11/X11ScreenList.h"
#include "tests/support/FakeAccessibility.h"
#include "tests/support/X11DesktopTest.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

// What the host's desktop gives each session on the sandbox's display, with an accessibility tree of
// the test's own.
class HostDesktopTest : public test::X11DesktopTest {
protected:
    void SetUp() override {
        X11DesktopTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        auto& window = tree->add(nullptr, "AXWindow", {0, 0, 1920, 1080});
        tree->add(&window, "AXButton", {300, 300, 40, 20});
    }

    // Where the pointer went after a tap 10 points left of the button.
    static std::optional<SessionDesktop::PointerFraction>
    tapBesideTheButton(InputSink& input, const std::shared_ptr<Queue>& queue) {
        std::vector<SessionDesktop::PointerFraction> reports;
        input.setOnPointerPosition([&](SessionDesktop::PointerFraction at) { reports.push_back(at); });
        input.start(queue);
        // A screen whose fractions of these points are exact in the wire's 32-bit floats.
        input.setScreen(SessionDesktop::Area{0, 0, 1024, 512});
        input.handle(InputEvent::pointerMove(290.0f / 1024, 310.0f / 512));
        input.handle(InputEvent::tap(PointerButton::left(), 20));
        input.releaseAll();
        return reports.size() == 2 ? std::optional(reports[1]) : std::nullopt;
    }

    std::shared_ptr<test::FakeAccessibility> tree = std::make_shared<test::FakeAccessibility>();
    std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>("main");
};

// With the tree a tap beside a control lands on it and the focus is watched; without it neither.
TEST_F(HostDesktopTest, TapsBesideAControlLandOnItAndTheFocusIsWatchedOnlyWithTheTree) {
    for (const bool withTree : {true, false}) {
        SCOPED_TRACE(withTree);
        const auto host =
            X11HostDesktop::make(X11ScreenList::make(queue), queue, nullptr, withTree ? tree : nullptr);
        EXPECT_EQ(host->sessionTextFocus() != nullptr, withTree);
        const auto tapped = tapBesideTheButton(*host->sessionInput(), queue);
        ASSERT_TRUE(tapped);
        EXPECT_EQ(std::pair(tapped->x, tapped->y), std::pair((withTree ? 303.0 : 290.0) / 1024, 310.0 / 512));
    }
}

} // namespace
} // namespace velm
