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

    // The device's latest list of screens holds the side screen; its number there.
    static std::optional<std::uint32_t> sideIn(const std::vector<DisplayInfo>& displays) {
        const auto side = std::find_if(displays.begin(), displays.end(),
                                       [](const DisplayInfo& display) { return display.name == sideName; });
        return side != displays.end() ? std::optional(side->id) : std::nullopt;
    }

    bool pointerReaches(ScreenPoint point) {
        return host->pumpUntil([&] { return x11->pointerPosition() == point; });
    }

    std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>("desktop");
    std::unique_ptr<test::X11TestDesktop> x11;
    std::unique_ptr<test::ModelHarness> host;
};

// The screen before it is unplugged and the desktop laid out anew: the side screen moves while it streams.
TEST_F(StreamedScreenPathTest, ThePointerFollowsTheStreamedScreenWhenItMoves) {
    const auto key = host->pairDevice("SIDE");
    const auto client = host->connect("SIDE", key);
    ASSERT_TRUE(client);
    const auto side = sideIn(client->hostHello().value().displays);
    ASSERT_TRUE(side);
    StreamRequest request;
    request.displayID = side;
    client->send(ControlMessage::configureStream(request));
    ASSERT_TRUE(
        host->pumpUntil([&] { return client->hasReceived(test::isMessage<ControlMessage::StreamStarted>); }));
    client->send(InputEvent::pointerMove(0.5f, 0.5f));
    ASSERT_TRUE(pointerReaches({100 + 320, 50 + 240}));

    ASSERT_TRUE(place(700, 300));
    // Each recheck of the screens may see the side screen gone, or already back in its new place.
    ASSERT_TRUE(host->pumpUntil([&] {
        const auto received = client->received();
        const auto latest = std::find_if(received.rbegin(), received.rend(),
                                         test::isMessage<ControlMessage::DisplaysChanged>);
        return latest != received.rend() &&
               sideIn(latest->get<ControlMessage::DisplaysChanged>()->displays) == side;
    }));
    client->send(InputEvent::pointerMove(0.5f, 0.5f));
    EXPECT_TRUE(pointerReaches({700 + 320, 300 + 240}));
}

} // namespace
} // namespace velm
