#include "Velm_Host/away/AwayVisits.h"
#include "platform/dbus/DbusNotifications.h"
#include "tests/support/Blocking.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/EventLog.h"
#include "tests/support/LogCapture.h"
#include "tests/support/PrivateSessionBus.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

using nlohmann::json;

// Notices of away visits through a notification server on a private session bus: a small program
// (Debian's /usr/bin/python3 has the D-Bus bindings) that prints each call it receives and plays the
// user pressing buttons.
class AwayNoticesTest : public ::testing::Test {
protected:
    void SetUp() override {
        bus = test::PrivateSessionBus::start();
        if (!bus) {
            GTEST_SKIP() << "no dbus-daemon to run a private session bus";
        }
    }

    std::unique_ptr<test::ChildProcess> startServer(const char* actions = "--actions") {
        auto server = test::ChildProcess::start({"/usr/bin/python3",
                                                 VELM_TEST_SUPPORT_DIR "/fake_notification_server.py",
                                                 bus->address(), actions},
                                                {}, test::ChildProcess::Output::piped);
        const bool started = server && server->readLine() == "ready";
        EXPECT_TRUE(started) << "the fake notification server did not start";
        return started ? std::move(server) : nullptr;
    }

    // The next call the server received, as {"method": ..., and its arguments}.
    static json nextCall(test::ChildProcess& server) {
        const auto line = server.readLine();
        return line ? json::parse(*line, nullptr, false) : json();
    }

    // "invoke": the user pressed a button of a notice; "spoof": another client on the bus sends that.
    static bool press(test::ChildProcess& server, const char* how, std::uint32_t id, const char* key) {
        return server.writeLine(std::string(how) + " " + std::to_string(id) + " " + key) &&
               server.readLine() == "done";
    }

    std::shared_ptr<AwayVisits> makeVisits(std::shared_ptr<BusConnection> connection) {
        notifications = DbusNotifications::make(std::move(connection), queue, "Velm Host");
        auto made = AwayVisits::make(nullptr, notifications, queue);
        made->setOnDisconnect([this](const std::string& id) { pressed.push("disconnect " + id); });
        made->setOnRemoveDevice([this](const std::string& id) { pressed.push("remove " + id); });
        return made;
    }

    std::optional<bool> noticesAllowedAfterAsking(const std::shared_ptr<AwayVisits>& visits) {
        auto answers = std::make_shared<test::EventLog<Notifications::Check>>();
        notifications->checkSupport([answers](Notifications::Check check) { answers->push(check); });
        if (!answers->waitForCount(1)) {
            return std::nullopt;
        }
        visits->requestNotices(answers->values()[0]);
        return visits->noticesAllowed();
    }

    std::unique_ptr<test::PrivateSessionBus> bus;
    const std::shared_ptr<Queue> queue = Queue::make("main");
    std::shared_ptr<DbusNotifications> notifications;
    test::EventLog<std::string> pressed;
};

TEST_F(AwayNoticesTest, ANoticeWhoseButtonsDisconnectOrRemoveWhileItsVisitLasts) {
    const auto server = startServer();
    ASSERT_NE(server, nullptr);
    LogCapture log;
    const auto visits = makeVisits(BusConnection::open(bus->address()));
    EXPECT_EQ(noticesAllowedAfterAsking(visits), true);
    EXPECT_EQ(nextCall(*server).value("method", ""), "GetCapabilities");

    const auto session = visits->sessionStarted("pad", "Ada's iPad", "198.51.100.4", Date::now());
    const json call = nextCall(*server);
    ASSERT_TRUE(call.is_object());
    EXPECT_EQ(call["app_name"], "Velm Host");
    EXPECT_EQ(call["summary"], "Ada's iPad connected from away");
    EXPECT_EQ(call["body"],
              "From 198.51.100.4. Not you? Remove the device: its key stops working everywhere.");
    EXPECT_EQ(call["actions"], json::array({"disconnect", "Disconnect", "remove-device", "Remove Device"}));
    EXPECT_EQ(call["hints"]["category"], "away-session");
    EXPECT_TRUE(log.contains("away: away session: Ada's iPad from 198.51.100.4"));
    const std::uint32_t id = call.value("id", 0u);

    ASSERT_TRUE(press(*server, "invoke", id, "disconnect"));
    ASSERT_TRUE(press(*server, "spoof", id, "disconnect"));
    ASSERT_TRUE(press(*server, "invoke", id, "default"));
    ASSERT_TRUE(press(*server, "invoke", id, "remove-device"));
    ASSERT_TRUE(pressed.waitForCount(2));
    EXPECT_EQ(pressed.values(), (std::vector<std::string>{"disconnect pad", "remove pad"}));

    // Once the visit ends its notice goes, and a late press does nothing.
    visits->sessionEnded(session, Date::now());
    EXPECT_EQ(nextCall(*server), (json{{"method", "CloseNotification"}, {"id", id}}));
    ASSERT_TRUE(press(*server, "invoke", id, "disconnect"));
    visits->sessionStarted("phone", "Ada's iPhone", std::nullopt, Date::now());
    ASSERT_TRUE(press(*server, "invoke", nextCall(*server).value("id", 0u), "disconnect"));
    ASSERT_TRUE(pressed.waitForCount(3));
    EXPECT_EQ(pressed.values().back(), "disconnect phone");
    EXPECT_EQ(pressed.values().size(), 3u);
}

TEST_F(AwayNoticesTest, WithoutAServerOrItsButtonsNoticesAreNotAllowed) {
    LogCapture log;
    {
        const auto visits = makeVisits(BusConnection::open(bus->address()));
        EXPECT_EQ(noticesAllowedAfterAsking(visits), false);
        visits->sessionStarted("pad", "Ada's iPad", std::nullopt, Date::now());
        EXPECT_TRUE(Blocking::waitUntil([&] { return log.contains("away notice not shown"); }));
        EXPECT_TRUE(log.contains("away session: Ada's iPad from ?"));
        EXPECT_EQ(visits->visits().size(), 1u) << "the visit is kept all the same";
    }
    EXPECT_EQ(noticesAllowedAfterAsking(makeVisits(nullptr)), false);
    const auto server = startServer("--no-actions");
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(noticesAllowedAfterAsking(makeVisits(BusConnection::open(bus->address()))), false);
    EXPECT_TRUE(log.contains("away notices: allowed (a server without buttons)"));

    // A bus that goes away fails what is asked of it, without hanging.
    const auto visits = makeVisits(BusConnection::open(bus->address()));
    bus.reset();
    EXPECT_EQ(noticesAllowedAfterAsking(visits), false);
}

} // namespace
} // namespace velm
