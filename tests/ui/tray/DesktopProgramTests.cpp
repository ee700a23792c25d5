#include "Velm_Host/model/DisplaySession.h"
#include "tests/host/model/HostProgram.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace velm {
namespace {

// velm-host started with --pair on the sandbox's X display, as on an X11 session and as on a Wayland
// one, where it drives only XWayland: said at start, and a device is told there is no curtain to raise.
// Either way the listener's start is logged once, although the pairing window starts it again.
TEST(DesktopProgram, OnWaylandSaysWhatItCannotReachAndOffersNoCurtain) {
    if (std::getenv("VELM_TEST_X11") == nullptr) {
        GTEST_SKIP() << "no X display; scripts/x11-sandbox.sh runs one";
    }
    for (const bool wayland : {false, true}) {
        SCOPED_TRACE(wayland ? "Wayland" : "X11");
        std::vector<std::string> changes{std::string("DISPLAY=") + std::getenv("DISPLAY"),
                                         "QT_QPA_PLATFORM=xcb"};
        if (const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
            changes.push_back(std::string("DBUS_SESSION_BUS_ADDRESS=") + bus);
        }
        if (wayland) {
            changes.push_back("WAYLAND_DISPLAY=wayland-0");
        }
        test::HostProgram host(VELM_HOST_PROGRAM, {"--pair"}, changes);
        ASSERT_TRUE(host.child && host.awaitPairing());
        EXPECT_EQ(host.said(DisplaySession::waylandNotice).size(), wayland ? 1u : 0u);

        const auto key = host.pair(host.code);
        ASSERT_TRUE(key);
        const auto client = host.openSession("test-ipad", *key);
        ASSERT_TRUE(client && client->hostHello() && client->hostHello()->curtain);
        EXPECT_EQ(client->hostHello()->curtain->available, !wayland);

        EXPECT_EQ(host.child->terminate(std::chrono::seconds(10)), 0);
        host.awaitLine("not listening");
        if (test::HostProgram::logsToStandardError()) {
            EXPECT_EQ(host.said("velm info [host] listening on port").size(), 1u);
            EXPECT_EQ(host.said("velm warning [host] " + std::string(DisplaySession::waylandNotice)).size(),
                      wayland ? 1u : 0u);
        }
    }
}

} // namespace
} // namespace velm
