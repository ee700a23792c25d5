#include "Velm_Host/ui/DeviceCardLines.h"
#include "Velm_Host/ui/DeviceCardsState.h"

#include <cmath>
#include <gtest/gtest.h>

namespace velm {
namespace {

using Away = DeviceCardLines::AwayLine;

const Date shownAt(818'337'600);  // 2026-12-07 12:00 UTC
const Date january5(820'832'400); // 2027-01-05 09:00 UTC
constexpr double dayLength = 86400;

PairedDevice pairedDevice(std::string id,
                          Date pairedAt = Date(shownAt.secondsSinceReferenceDate() - 3 * dayLength)) {
    PairedDevice made;
    made.id = std::move(id);
    made.name = made.id;
    made.pairedAt = pairedAt;
    return made;
}

HostSession::Snapshot live(std::string id) {
    HostSession::Snapshot snapshot;
    snapshot.deviceID = std::move(id);
    return snapshot;
}

class CardLinesTest : public ::testing::Test {
protected:
    DateTexts dates{"en_US", "UTC"};
};

TEST(CardLines, LiveTextTellsTheStreamPausedOrJustConnected) {
    auto session = live("ipad");
    EXPECT_EQ(DeviceCardLines::liveText(session), "Connected");
    session.isAway = true;
    EXPECT_EQ(DeviceCardLines::liveText(session), "Connected from elsewhere");
    session.stream = StreamDescription{};
    session.stream->pixelWidth = 2732;
    session.stream->pixelHeight = 2048;
    session.stream->fps = 60;
    EXPECT_EQ(DeviceCardLines::liveText(session), "2732 × 2048 · 60 FPS · away");
    session.stream->isTestPattern = true;
    session.isAway = false;
    EXPECT_EQ(DeviceCardLines::liveText(session), "2732 × 2048 · 60 FPS · test");
    session.isPaused = true;
    EXPECT_EQ(DeviceCardLines::liveText(session), "Paused while Velm is in the background");
}

TEST_F(CardLinesTest, DatesTextTellsThePairingUntilTheFirstConnection) {
    auto ipad = pairedDevice("ipad");
    EXPECT_EQ(DeviceCardLines::datesText(ipad, shownAt, dates), "Paired 3 days ago");
    ipad.lastConnected = Date(shownAt.secondsSinceReferenceDate() - dayLength);
    EXPECT_EQ(DeviceCardLines::datesText(ipad, shownAt, dates), "Last connected yesterday");
    ipad.lastConnected = Date(shownAt.secondsSinceReferenceDate() - 2.5 * 3600);
    EXPECT_EQ(DeviceCardLines::datesText(ipad, shownAt, dates), "Last connected 2 hours ago");
    ipad.lastConnected = Date(shownAt.secondsSinceReferenceDate() - 0.4);
    EXPECT_EQ(DeviceCardLines::datesText(ipad, shownAt, dates), "Last connected now");
    ipad.lastConnected = Date(shownAt.secondsSinceReferenceDate() - 40 * dayLength);
    EXPECT_EQ(DeviceCardLines::datesText(ipad, shownAt, dates), "Last connected last month");
}

// The clock was set back since, or the devices came from another computer.
TEST_F(CardLinesTest, DatesAheadOfTheClockHaveJustHappened) {
    auto ipad = pairedDevice("ipad", Date(shownAt.secondsSinceReferenceDate() + 2 * dayLength));
    EXPECT_EQ(DeviceCardLines::datesText(ipad, shownAt, dates), "Paired now");
    ipad.lastConnected = Date(shownAt.secondsSinceReferenceDate() + 3 * 3600);
    EXPECT_EQ(DeviceCardLines::datesText(ipad, shownAt, dates), "Last connected now");
}

TEST_F(CardLinesTest, AwayTextNeedsBothAccessesAndWarnsWhatKeepsTheDeviceOut) {
    DeviceCardsState state;
    state.allowRemoteAccess = true;
    state.allowAwayAccess = true;
    auto keyless = pairedDevice("keyless");
    auto keyed = pairedDevice("keyed");
    keyed.awayPublicKey = Bytes(65, 4);

    struct Case {
        const char* name;
        bool remote, away, withoutKey;
        std::optional<Date> end;
        const PairedDevice& device;
        std::optional<Away> expected;
    };
    const Case cases[] = {
        {"remote access off", false, true, true, january5, keyless, std::nullopt},
        {"away access off", true, false, true, january5, keyless, std::nullopt},
        {"no key, allowed", true, true, true, january5, keyless, Away{"No away key yet", true}},
        {"no key, not allowed", true, true, false, std::nullopt, keyless, Away{"Needs away key", true}},
        {"access lasts always", true, true, true, std::nullopt, keyed, std::nullopt},
        {"ends later", true, true, true, january5, keyed, Away{"Away until Jan 5", false}},
        {"ends now", true, true, true, shownAt, keyed, Away{"Away access lapsed: connect at home", true}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        state.allowRemoteAccess = c.remote;
        state.allowAwayAccess = c.away;
        state.allowsAwayWithoutDeviceKey = c.withoutKey;
        state.awayEnds.clear();
        if (c.end) {
            state.awayEnds[c.device.id] = *c.end;
        }
        EXPECT_EQ(DeviceCardLines::awayText(c.device, state, shownAt, dates), c.expected);
    }
}

TEST(CardLines, PolicyTextShowsTheTimeOutAndACurtainThatWouldCoverSomething) {
    auto ipad = pairedDevice("ipad");
    EXPECT_EQ(DeviceCardLines::policyText(ipad, true), "Never disconnected for being idle");
    ipad.idleTimeout = 900;
    ipad.curtain = true;
    EXPECT_EQ(DeviceCardLines::policyText(ipad, true), "Disconnects after 15 min idle · curtain");
    EXPECT_EQ(DeviceCardLines::policyText(ipad, false), "Disconnects after 15 min idle");
    ipad.idleTimeout = 0;
    ipad.curtain = false;
    EXPECT_EQ(DeviceCardLines::policyText(ipad, true), "Never disconnected for being idle");
}

TEST(CardLines, IdleTimeOutsReadInWholeHoursMinutesOrSecondsNeverAsNone) {
    const std::pair<std::optional<double>, const char*> cases[] = {
        {std::nullopt, "Never"}, {0.0, "Never"},         {-60.0, "Never"},
        {std::nan(""), "Never"}, {0.5, "1 s"},           {30.0, "30 s"},
        {59.5, "1 min"},         {60.0, "1 min"},        {900.0, "15 min"},
        {3599.0, "59 min"},      {3600.0, "1 h"},        {5400.0, "1 h"},
        {14400.0, "4 h"},        {1e300, "1000000000 h"}};
    for (const auto& [seconds, text] : cases) {
        EXPECT_EQ(DeviceCardLines::idleTimeoutText(seconds), text) << seconds.value_or(-1);
    }
    EXPECT_EQ(DeviceCardLines::idleTimeoutChoice(std::nullopt), 0u);
    EXPECT_EQ(DeviceCardLines::idleTimeoutChoice(-1.0), 0u);
    EXPECT_EQ(DeviceCardLines::idleTimeoutChoice(3600.0), 3u);
    EXPECT_EQ(DeviceCardLines::idleTimeoutChoice(1000.0), std::nullopt);
}

TEST(CardsState, TheLiveDeviceComesFirstAndColoursFollowThePairingOrder) {
    DeviceCardsState state;
    state.devices = {pairedDevice("b", Date(300)), pairedDevice("a", Date(100)), pairedDevice("c", Date(300)),
                     pairedDevice("d", Date(200))};
    auto ids = [&] {
        std::string order;
        for (const PairedDevice* listed : state.ordered()) {
            order += listed->id;
        }
        return order;
    };
    EXPECT_EQ(ids(), "bacd");
    state.live = live("c");
    EXPECT_EQ(ids(), "cbad");
    state.live = live("gone");
    EXPECT_EQ(ids(), "bacd");

    EXPECT_EQ(state.placeholderIndex("a"), 0);
    EXPECT_EQ(state.placeholderIndex("d"), 1);
    EXPECT_EQ(state.placeholderIndex("b"), 2);
    EXPECT_EQ(state.placeholderIndex("c"), 3);
    EXPECT_EQ(state.placeholderIndex("unknown"), 0);
}

TEST(CardsState, TextsAreWorkedOutAgainEachTickOrWhenAwayAccessLapses) {
    using std::chrono::milliseconds;
    DeviceCardsState state;
    const milliseconds tick(30'000);
    EXPECT_EQ(state.refreshDelay(shownAt, tick), tick);
    state.awayEnds["past"] = Date(shownAt.secondsSinceReferenceDate() - 5);
    state.awayEnds["far"] = january5;
    EXPECT_EQ(state.refreshDelay(shownAt, tick), tick);
    state.awayEnds["soon"] = Date(shownAt.secondsSinceReferenceDate() + 5.0004);
    EXPECT_EQ(state.refreshDelay(shownAt, tick), milliseconds(5001));
    state.awayEnds["very soon"] = Date(shownAt.secondsSinceReferenceDate() + 1e-7);
    EXPECT_EQ(state.refreshDelay(shownAt, tick), milliseconds(1));
    EXPECT_EQ(state.refreshDelay(shownAt, milliseconds(-5)), milliseconds(1));
}

} // namespace
} // namespace velm
