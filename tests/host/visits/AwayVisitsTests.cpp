#include "Velm_Host/away/AwayVisits.h"
#include "platform/dispatch/ManualQueue.h"
#include "tests/support/SystemCallFaults.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

using nlohmann::json;

constexpr double t0 = 700'000'000;

// The visits' own rules, kept in a settings file; notices are the other suite's business.
class AwayVisitsTest : public ::testing::Test {
protected:
    // A fresh start of the host on the same settings file.
    std::shared_ptr<AwayVisits> restart() {
        defaults = std::make_shared<DefaultsStore>(temporary.path());
        return AwayVisits::make(defaults, nullptr, queue);
    }

    test::TemporaryFolder temporary;
    std::shared_ptr<DefaultsStore> defaults;
    const std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>("main");
    std::shared_ptr<AwayVisits> visits = restart();
};

// Visits that could not be read at start (no descriptors left) are not written over by the first visit
// of this run: both are kept once the settings can be read.
TEST_F(AwayVisitsTest, VisitsThatCouldNotBeReadAtStartAreKeptWhenTheyCanBe) {
    visits->sessionEnded(visits->sessionStarted("pad", "Ada's iPad", std::nullopt, Date(t0)), Date(t0 + 30));
    {
        const auto fault = test::SystemCallFaults::failOpening("defaults.json", EMFILE);
        visits = restart();
        EXPECT_TRUE(visits->visits().empty());
        visits->sessionStarted("phone", "Ada's iPhone", std::nullopt, Date(t0 + 4000));
    }
    EXPECT_EQ(DefaultsStore(temporary.path()).jsonValue("awayVisits")->size(), 1u)
        << "nothing is written while the stored visits are not in hand";
    visits->sessionStarted("watch", "Ada's Watch", std::nullopt, Date(t0 + 5000));
    const auto kept = visits->visits();
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(std::tuple(kept[0].deviceID, kept[1].deviceID, kept[2].deviceID),
              std::tuple("watch", "phone", "pad"));
    EXPECT_EQ(DefaultsStore(temporary.path()).jsonValue("awayVisits")->size(), 3u);
}

TEST_F(AwayVisitsTest, KeptAcrossRestartsWithOpenVisitsClosedAtTheirStart) {
    const auto pad = visits->sessionStarted("pad", "Ada's iPad", "198.51.100.4", Date(t0));
    visits->sessionEnded(pad, Date(t0 + 30));
    visits->sessionStarted("phone", "Ada's iPhone", std::nullopt, Date(t0 + 40));
    const std::vector<AwayVisit> before = visits->visits();

    const json stored = *defaults->jsonValue("awayVisits");
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0].size(), 4u) << "an open visit without a from text has only the required keys";
    EXPECT_EQ(stored[1]["from"], "198.51.100.4");
    EXPECT_EQ(stored[1]["ended"], t0 + 30);

    visits = restart();
    std::vector<AwayVisit> expected = before;
    expected[0].ended = Date(t0 + 40);
    EXPECT_EQ(visits->visits(), expected);
}

TEST_F(AwayVisitsTest, AReconnectWithinTenMinutesContinuesTheVisit) {
    auto session = visits->sessionStarted("pad", "Ada's iPad", "198.51.100.4", Date(t0));
    visits->sessionEnded(session, Date(t0 + 60));
    session = visits->sessionStarted("pad", "renamed", std::nullopt, Date(t0 + 60 + 300));
    ASSERT_EQ(visits->visits().size(), 1u);
    AwayVisit visit = visits->visits()[0];
    // The from text is kept when the new session gives none.
    EXPECT_EQ(std::tuple(visit.isOpen(), visit.started, visit.deviceName, visit.from),
              std::tuple(true, Date(t0), "Ada's iPad", "198.51.100.4"));

    visits->sessionEnded(session, Date(t0 + 1000));
    visits->sessionStarted("pad", "Ada's iPad", "203.0.113.9", Date(t0 + 1000 + AwayVisits::reopenSeconds));
    ASSERT_EQ(visits->visits().size(), 2u);
    EXPECT_NE(visits->visits()[0].id, visit.id);
    EXPECT_EQ(visits->visits()[0].started, Date(t0 + 1600));
}

TEST_F(AwayVisitsTest, TheEndOfAReplacedSessionLeavesTheVisitOpen) {
    const auto first = visits->sessionStarted("pad", "Ada's iPad", "198.51.100.4", Date(t0));
    const auto second = visits->sessionStarted("pad", "Ada's iPad", "203.0.113.9", Date(t0 + 5));
    EXPECT_EQ(visits->visits()[0].from, "203.0.113.9");
    visits->sessionEnded(first, Date(t0 + 6));
    EXPECT_TRUE(visits->visits()[0].isOpen());
    visits->sessionEnded(second, Date(t0 + 9));
    EXPECT_EQ(visits->visits()[0].ended, Date(t0 + 9));

    // Ending again changes nothing and saves nothing.
    queue->runUntilIdle();
    int changes = 0;
    visits->setOnChange([&] { ++changes; });
    visits->sessionEnded(second, Date(t0 + 99));
    queue->runUntilIdle();
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(visits->visits()[0].ended, Date(t0 + 9));
}

TEST_F(AwayVisitsTest, AVisitEndingLaterThanTheNewSessionStartsIsNotContinued) {
    // A clock set back between the end of a session and the next one.
    auto session = visits->sessionStarted("pad", "Ada's iPad", "198.51.100.4", Date(t0));
    visits->sessionEnded(session, Date(t0 + 60));
    visits->sessionStarted("pad", "Ada's iPad", "203.0.113.9", Date(t0 - 3600));
    ASSERT_EQ(visits->visits().size(), 2u);
    EXPECT_EQ(visits->visits()[0].started, Date(t0 - 3600));

    // A stored end far ahead of any clock.
    ASSERT_TRUE(defaults->setJson("awayVisits", json::array({{{"id", Uuid::random().string()},
                                                              {"deviceID", "pad"},
                                                              {"deviceName", "Ada's iPad"},
                                                              {"started", t0 - 100},
                                                              {"ended", t0 + 1e9}}})));
    visits = restart();
    ASSERT_EQ(visits->visits().size(), 1u);
    visits->sessionStarted("pad", "Ada's iPad", std::nullopt, Date(t0));
    ASSERT_EQ(visits->visits().size(), 2u);
    EXPECT_TRUE(visits->visits()[0].isOpen());
}

TEST_F(AwayVisitsTest, KeepsTheTwentyNewest) {
    for (int device = 0; device < 21; ++device) {
        visits->sessionStarted("device-" + std::to_string(device), "iPad", std::nullopt, Date(t0 + device));
    }
    const std::vector<AwayVisit> kept = visits->visits();
    ASSERT_EQ(kept.size(), AwayVisits::maxVisits);
    EXPECT_EQ(kept.front().deviceID, "device-20");
    EXPECT_EQ(kept.back().deviceID, "device-1");
}

TEST_F(AwayVisitsTest, StoredDataIsCheckedBeforeUse) {
    ASSERT_TRUE(defaults->setJson("awayVisits", json::array({{{"id", "not a uuid"}}})));
    EXPECT_TRUE(restart()->visits().empty());

    json many = json::array();
    for (int i = 0; i < 30; ++i) {
        many.push_back({{"id", Uuid::random().string()},
                        {"deviceID", std::string(1000, 'd')},
                        {"deviceName", "iPad"},
                        {"started", t0 - i}});
    }
    ASSERT_TRUE(defaults->setJson("awayVisits", many));
    const std::vector<AwayVisit> loaded = restart()->visits();
    ASSERT_EQ(loaded.size(), AwayVisits::maxVisits);
    EXPECT_EQ(loaded[0].deviceID.size(), AwayVisits::maxTextBytes);
    EXPECT_EQ(loaded[0].ended, Date(t0));
}

// One damaged visit costs only itself: the others load, and the next save keeps them.
TEST_F(AwayVisitsTest, AVisitThatDoesNotReadLeavesTheOthersInPlace) {
    const auto visit = [](const std::string& deviceID, double started) {
        return json{{"id", Uuid::random().string()},
                    {"deviceID", deviceID},
                    {"deviceName", "iPad"},
                    {"started", started},
                    {"ended", started + 10}};
    };
    json damaged = visit("middle", t0 - 200);
    damaged["ended"] = "yesterday";
    json noName = visit("nameless", t0 - 300);
    noName.erase("deviceName");
    ASSERT_TRUE(defaults->setJson("awayVisits", json::array({visit("newest", t0 - 100), damaged, 7, noName,
                                                             visit("oldest", t0 - 400)})));
    visits = restart();
    auto deviceIDs = [&] {
        std::vector<std::string> ids;
        for (const AwayVisit& kept : visits->visits()) {
            ids.push_back(kept.deviceID);
        }
        return ids;
    };
    EXPECT_EQ(deviceIDs(), (std::vector<std::string>{"newest", "oldest"}));

    visits->sessionStarted("phone", "iPhone", std::nullopt, Date(t0));
    visits = restart();
    EXPECT_EQ(deviceIDs(), (std::vector<std::string>{"phone", "newest", "oldest"}));
}

} // namespace
} // namespace velm
