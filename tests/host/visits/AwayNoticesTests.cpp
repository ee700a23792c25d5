#include "Velm_Host/away/AwayVisits.h"
#include "platform/dbus/DbusNotifications.h"
#include "platform/dispatch/ManualQueue.h"
#include "tests/support/Blocking.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/EventLog.h"
#include "tests/support/FakeNotifications.h"
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
    static bool dismiss(test::ChildProcess& server, std::uint32_t id) {
        return server.writeLine("dismiss " + std::to_string(id)) && server.readLine() == "done";
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

TEST_F(AwayNoticesTest, ANoticeWhoseButtonsDisconnectOrRemoveItsDeviceUntilDismissed) {
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
    EXPECT_EQ(call["expire_timeout"], 0) << "it stays until the user dismisses it";
    EXPECT_TRUE(log.contains("away: away session: Ada's iPad from 198.51.100.4"));
    const std::uint32_t id = call.value("id", 0u);

    ASSERT_TRUE(press(*server, "invoke", id, "disconnect"));
    ASSERT_TRUE(press(*server, "spoof", id, "disconnect"));
    ASSERT_TRUE(press(*server, "invoke", id, "default"));
    ASSERT_TRUE(press(*server, "invoke", id, "remove-device"));
    ASSERT_TRUE(pressed.waitForCount(2));
    EXPECT_EQ(pressed.values(), (std::vector<std::string>{"disconnect pad", "remove pad"}));

    // The notice outlives its visit and still names its device; only the user takes it away.
    visits->sessionEnded(session, Date::now());
    visits->sessionStarted("phone", "Ada's iPhone", std::nullopt, Date::now());
    const json next = nextCall(*server);
    EXPECT_EQ(next.value("method", ""), "Notify") << "nothing was withdrawn";
    ASSERT_TRUE(press(*server, "invoke", id, "remove-device"));
    ASSERT_TRUE(dismiss(*server, id));
    ASSERT_TRUE(press(*server, "invoke", id, "remove-device"));
    ASSERT_TRUE(press(*server, "invoke", next.value("id", 0u), "disconnect"));
    ASSERT_TRUE(pressed.waitForCount(4));
    EXPECT_EQ(pressed.values(),
              (std::vector<std::string>{"disconnect pad", "remove pad", "remove pad", "disconnect phone"}));
}

// A device names itself: well-formed text that the bus would still refuse is shown mended, not dropped.
TEST_F(AwayNoticesTest, ADeviceNameTheBusRefusesStillBringsItsNotice) {
    const auto server = startServer();
    ASSERT_NE(server, nullptr);
    const auto visits = makeVisits(BusConnection::open(bus->address()));
    EXPECT_EQ(noticesAllowedAfterAsking(visits), true);
    EXPECT_EQ(nextCall(*server).value("method", ""), "GetCapabilities");

    const std::pair<std::string, std::string> names[] = {{"Ada\uFFFF", "Ada\uFFFD"},
                                                         {"Ada\U0010FFFE", "Ada\uFFFD"},
                                                         {"Ada\uFDD0 iPad", "Ada\uFFFD iPad"},
                                                         {std::string("Ada\0s iPad", 10), "Ada\uFFFDs iPad"}};
    for (const auto& [name, shown] : names) {
        visits->sessionStarted("pad " + name, name, std::nullopt, Date::now());
        const json call = nextCall(*server);
        ASSERT_TRUE(call.is_object()) << "no notice for " << shown;
        EXPECT_EQ(call["summary"], shown + " connected from away");
    }
}

// A server that never reports closings fills the list of notices followed; the one that takes its place
// numbers its notices from the start again.
TEST_F(AwayNoticesTest, TheButtonsOfARestartedServerCountAfterAFullList) {
    auto server = startServer();
    ASSERT_NE(server, nullptr);
    notifications = DbusNotifications::make(BusConnection::open(bus->address()), queue, "Velm Host");
    const auto actions = std::make_shared<test::EventLog<std::uint32_t>>();
    notifications->setOnAction([actions](std::uint32_t id, const std::string&) { actions->push(id); });
    const auto shown = std::make_shared<test::EventLog<std::uint32_t>>();
    const auto show = [&](test::ChildProcess& to) {
        notifications->show(
            {.title = "Ada's iPad connected from away", .body = {}, .category = {}, .actions = {}},
            [shown](std::optional<std::uint32_t> id, const std::string&) { shown->push(id.value_or(0)); });
        return nextCall(to).value("id", 0u);
    };
    for (int notice = 0; notice < 300; ++notice) {
        ASSERT_NE(show(*server), 0u);
    }
    server.reset();
    server = startServer();
    ASSERT_NE(server, nullptr);
    const std::uint32_t id = show(*server);
    ASSERT_TRUE(shown->waitForCount(301));
    EXPECT_EQ(shown->values().back(), id);
    ASSERT_TRUE(press(*server, "invoke", id, "disconnect"));
    ASSERT_TRUE(actions->waitForCount(1));
    EXPECT_EQ(actions->values(), std::vector{id});
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

constexpr double noticeEpoch = 700'000'000;

// What the visits remember of their notices, against a server in memory on virtual time.
class AwayNoticeButtonsTest : public ::testing::Test {
protected:
    AwayNoticeButtonsTest() {
        visits->setOnDisconnect([this](const std::string& id) { pressed.push_back("disconnect " + id); });
        visits->setOnRemoveDevice([this](const std::string& id) { pressed.push_back("remove " + id); });
    }

    // The newest press, if there was one.
    std::optional<std::string> press(std::uint32_t id, const char* key) {
        pressed.clear();
        server->press(id, key);
        queue->runUntilIdle();
        return pressed.empty() ? std::nullopt : std::optional(pressed.back());
    }
    void startVisits(const std::string& prefix, std::size_t count) {
        for (std::size_t device = 0; device < count; ++device) {
            visits->sessionStarted(prefix + std::to_string(device), "iPad", std::nullopt,
                                   Date(noticeEpoch + 100 + static_cast<double>(device)));
        }
        queue->runUntilIdle();
    }

    const std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>("main");
    const std::shared_ptr<test::FakeNotifications> server = std::make_shared<test::FakeNotifications>(queue);
    const std::shared_ptr<AwayVisits> visits = AwayVisits::make(nullptr, server, queue);
    std::vector<std::string> pressed;
};

TEST_F(AwayNoticeButtonsTest, ANoticeOutlivesItsVisitAndActsOnTheDeviceItNamed) {
    // The visit ends before the server has even answered.
    const auto pad = visits->sessionStarted("pad", "Ada's iPad", std::nullopt, Date(noticeEpoch));
    visits->sessionEnded(pad, Date(noticeEpoch + 5));
    queue->runUntilIdle();
    ASSERT_EQ(server->onScreen().size(), 1u);
    EXPECT_EQ(press(1, "remove-device"), "remove pad");
    // Whether there is a session to end is for the handler to know.
    EXPECT_EQ(press(1, "disconnect"), "disconnect pad");
    EXPECT_EQ(press(1, "default"), std::nullopt);

    // A session continuing the visit brings no notice of its own: the first one must reach it.
    visits->sessionStarted("pad", "Ada's iPad", std::nullopt, Date(noticeEpoch + 60));
    queue->runUntilIdle();
    EXPECT_EQ(server->onScreen().size(), 1u);
    EXPECT_EQ(press(1, "disconnect"), "disconnect pad");

    // Visits that fall off the list leave their notices.
    startVisits("device-", AwayVisits::maxVisits);
    EXPECT_EQ(visits->visits().back().deviceID, "device-0");
    EXPECT_EQ(server->onScreen().size(), AwayVisits::maxVisits + 1);
    EXPECT_EQ(press(1, "remove-device"), "remove pad");
}

TEST_F(AwayNoticeButtonsTest, NoticesThatAreGoneAreForgottenAndTheRestBounded) {
    visits->sessionStarted("pad", "Ada's iPad", std::nullopt, Date(noticeEpoch));
    queue->runUntilIdle();
    // A server that starts afresh numbers from 1 again: the number now names the newer notice.
    server->restart();
    visits->sessionStarted("phone", "Ada's iPhone", std::nullopt, Date(noticeEpoch + 1));
    queue->runUntilIdle();
    EXPECT_EQ(press(1, "remove-device"), "remove phone");

    server->dismiss(1);
    queue->runUntilIdle();
    EXPECT_EQ(press(1, "remove-device"), std::nullopt);

    startVisits("device-", AwayVisits::maxNotices + 1);
    EXPECT_EQ(press(2, "remove-device"), std::nullopt) << "the oldest beyond the bound";
    EXPECT_EQ(press(3, "remove-device"), "remove device-1");
}

} // namespace
} // namespace velm
