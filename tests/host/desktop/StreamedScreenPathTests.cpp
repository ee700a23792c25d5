#include "Velm_Host/x11/X11HostDesktop.h"
#include "platform/x11/X11ScreenList.h"
#include "tests/host/model/ModelHarness.h"
#include "tests/support/X11TestDesktop.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

const std::string sideName = "velm-path-side";

// A paired device streams a 640 × 480 screen that stands beside the main one, through the model and the
// session desktop on the sandbox's display; its pointer lands where the desktop has that screen.
class StreamedScreenPathTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string reason;
        x11 = test::X11TestDesktop::open(reason);
        if (!x11) {
            GTEST_SKIP() << reason;
        }
        ASSERT_TRUE(place(100, 50));
        host = std::make_unique<test::ModelHarness>(
            X11HostDesktop::make(X11ScreenList::make(queue), queue, nullptr, nullptr));
        host->start();
    }

    // Virtual monitors outlive their client.
    void TearDown() override {
        if (x11) {
            test::X11TestDesktop::run("xrandr --delmonitor " + sideName);
        }
    }

    // The side screen, its top-left corner at (x, y).
    static bool place(int x, int y) {
        test::X11TestDesktop::run("xrandr --delmonitor " + sideName);
        return test::X11TestDesktop::run("xrandr --setmonitor " + sideName + " 640/100x480/100+" +
                                         std::to_string(x) + "+" + std::to_string(y) + " none");
    }

    bool pointerReaches(ScreenPoint point) {
        return host->pumpUntil([&] { return x11->pointerPosition() == point; });
    }

    std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>("desktop");
    std::unique_ptr<test::X11TestDesktop> x11;
    std::unique_ptr<test::ModelHarness> host;
};

// As when the screen before it is unplugged and the desktop laid out anew, the streamed screen moves.
TEST_F(StreamedScreenPathTest, ThePointerFollowsTheStreamedScreenWhenItMoves) {
    const auto client = host->connect("SIDE", host->pairDevice("SIDE"));
    ASSERT_TRUE(client);
    const auto displays = client->hostHello().value().displays;
    const auto side = std::find_if(displays.begin(), displays.end(),
                                   [](const DisplayInfo& display) { return display.name == sideName; });
    ASSERT_NE(side, displays.end());
    StreamRequest request;
    request.displayID = side->id;
    client->send(ControlMessage::configureStream(request));
    client->send(InputEvent::pointerMove(0.5f, 0.5f));
    ASSERT_TRUE(pointerReaches({100 + 320, 50 + 240}));

    const auto changes = [&] {
        std::vector<std::vector<DisplayInfo>> lists;
        for (const auto& message : client->received()) {
            if (const auto* changed = message.get<ControlMessage::DisplaysChanged>()) {
                lists.push_back(changed->displays);
            }
        }
        return lists;
    };
    const auto before = changes().size();
    ASSERT_TRUE(place(700, 300));
    // A recheck of the screens may see the side screen gone before another sees it in its new place.
    ASSERT_TRUE(host->pumpUntil([&] {
        const auto lists = changes();
        return lists.size() > before && lists.back() == displays;
    }));
    client->send(InputEvent::pointerMove(0.5f, 0.5f));
    EXPECT_TRUE(pointerReaches({700 + 320, 300 + 240}));
}

} // namespace
} // namespace velm
