#include "Velm_Host/StateReport.h"
#include "Velm_Host/model/DisplaySession.h"
#include "Velm_Host/model/LocalAddresses.h"

#include <gtest/gtest.h>
#include <limits>
#include <map>

namespace velm {
namespace {

TEST(LocalAddressesTest, ListsReachableIpv4AddressesWithThePort) {
    const auto v4 = [](const char* text, bool up = true) {
        return InterfaceAddress{
            .name = "eth0", .isUp = up, .address = *IpAddress::parse(text), .netmask = {}};
    };
    const std::vector interfaces{v4("127.0.0.1"),   v4("192.168.1.20"), v4("10.0.0.2", false),
                                 v4("169.254.3.4"), v4("100.64.0.1"),   v4("100.128.0.1"),
                                 v4("::1")};
    EXPECT_TRUE(localAddresses(HostListener::State::stopped(), interfaces).empty());
    EXPECT_EQ(localAddresses(HostListener::State::advertising(50123), interfaces),
              (std::vector<LocalAddress>{
                  {"192.168.1.20:50123", false}, {"100.64.0.1:50123", true}, {"100.128.0.1:50123", false}}));
}

TEST(DisplaySessionTest, TellsWaylandFromItsEnvironmentAndCoversOnlyX11) {
    struct Case {
        std::map<std::string, std::string> environment;
        bool hasDisplay;
        bool isWayland;
    };
    const std::vector<Case> cases{
        {{}, false, false},
        {{{"DISPLAY", ":0"}, {"XDG_SESSION_TYPE", "x11"}}, true, false},
        {{{"DISPLAY", ":0"}, {"XDG_SESSION_TYPE", "wayland"}}, true, true},
        {{{"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", "wayland-0"}}, true, true},
        {{{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"XDG_SESSION_TYPE", "tty"}}, false, false},
        {{{"XDG_SESSION_TYPE", "wayland"}}, false, true},
    };
    for (const auto& each : cases) {
        const auto session = DisplaySession::fromEnvironment([&](const char* name) -> const char* {
            const auto found = each.environment.find(name);
            return found == each.environment.end() ? nullptr : found->second.c_str();
        });
        EXPECT_EQ(std::pair(session.hasDisplay, session.isWayland),
                  std::pair(each.hasDisplay, each.isWayland));
        EXPECT_EQ(session.curtainCanCover(), each.hasDisplay && !each.isWayland);
    }
}

TEST(StateReportTest, TellsWhatAPersonNeedsToKnowOnce) {
    StateReport report;
    HostModel::State state;
    state.listenerState = HostListener::State::advertising(5000);
    state.pairingWindow = PairingWindow{.code = "123456", .expires = Date(1119.5), .wrongTriesLeft = 5};
    state.connected.emplace();
    state.connected->deviceID = "ipad";
    state.connected->deviceName = "iPad";
    state.connected->from = "192.168.1.9";
    EXPECT_EQ(report.update(state, Date(1000)),
              (std::vector<std::string>{"listening on port 5000", "pairing code 123 456, 120 s left",
                                        "session started: iPad from 192.168.1.9"}));
    EXPECT_TRUE(report.update(state, Date(1000)).empty());

    // The listener starting again on its port, with new keys, is no news.
    state.listenerState = HostListener::State::starting();
    state.pairingWindow.reset();
    state.connected->deviceID = "iphone";
    state.connected->deviceName = "iPhone";
    state.connected->from.reset();
    EXPECT_EQ(report.update(state, Date(1000)),
              (std::vector<std::string>{"pairing window closed", "session ended: iPad",
                                        "session started: iPhone"}));
    state.listenerState = HostListener::State::advertising(5000);
    EXPECT_TRUE(report.update(state, Date(1000)).empty());
    state.listenerState = HostListener::State::stopped();
    EXPECT_EQ(report.update(state, Date(1000)), std::vector<std::string>{"not listening"});
}

// Told when devices stop finding the host and when they find it again; the first registration and a
// loss for the same reason again (each start publishes anew) are no news.
TEST(StateReportTest, TellsWhetherDevicesFindTheHost) {
    using Advert = ServicePublisher::State;
    StateReport report;
    HostModel::State state;
    state.listenerState = HostListener::State::advertising(5000);
    report.update(state, Date(0));
    const auto told = [&](std::optional<Advert> advert) {
        state.advertisement = std::move(advert);
        return report.update(state, Date(0));
    };
    EXPECT_TRUE(told(Advert::registered("Office")).empty());
    const std::string noDaemon = "the Avahi daemon is not running";
    EXPECT_EQ(
        told(Advert::unavailable(noDaemon)),
        std::vector<std::string>{"not found on the network: the Avahi daemon is not running; a device can "
                                 "still connect by this computer's address and port 5000"});
    EXPECT_TRUE(told(Advert::unavailable(noDaemon)).empty());
    EXPECT_EQ(told(Advert::failed("Local name collision")),
              std::vector<std::string>{"not found on the network: Local name collision; a device can still "
                                       "connect by this computer's address and port 5000"});
    EXPECT_EQ(told(Advert::registered("Office #2")),
              std::vector<std::string>{"now found on the network as \"Office #2\""});
    EXPECT_TRUE(told(Advert::registered("Office #2")).empty());
}

// Names come from devices: no name may break a line, or start one of its own.
TEST(StateReportTest, TellsEachNoticeOnOneLine) {
    const std::vector<std::pair<HostNotice, std::string>> cases{
        {HostNotice::DevicePaired{"Anna's iPad"}, "paired: Anna's iPad"},
        {HostNotice::DevicePaired{"iPad\npairing code 000 000"}, "paired: iPad pairing code 000 000"},
        {HostNotice::WrongPairingCode{4}, "wrong pairing code, 4 tries left"},
        {HostNotice::WrongPairingCode{1}, "wrong pairing code, 1 try left"},
        {HostNotice::WrongPairingCode{0}, "wrong pairing code, no tries left"},
        {HostNotice::SessionRefused{"iPad\x1b[2J", "device not paired"},
         "session refused: iPad [2J (device not paired)"},
        {HostNotice::DevicePaired{"iPad\u009b2J\u0085next\u2028line \u00e9"},
         "paired: iPad 2J next line \u00e9"},
        {HostNotice::FileReceived{"notes.txt", 1, "/root/Downloads"},
         "file received: notes.txt (1 byte) in /root/Downloads"},
        {HostNotice::FileReceived{"photo.jpg", 2'400'000, "/home/anna/Downloads"},
         "file received: photo.jpg (2.4 MB) in /home/anna/Downloads"},
    };
    for (const auto& [notice, line] : cases) {
        EXPECT_EQ(StateReport::line(notice), line);
    }
    EXPECT_EQ(StateReport::size(999), "999 bytes");
    EXPECT_EQ(StateReport::size(999'960), "1.0 MB");
    EXPECT_EQ(StateReport::size(std::numeric_limits<std::uint64_t>::max()), "18.4 EB");
}

} // namespace
} // namespace velm
