#include "Velm_Host/ui/HistoryText.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace velm {
namespace {

using Kind = ConnectionRecord::Kind;
using Ending = ConnectionRecord::Ending;
using Refusal = ConnectionRecord::Refusal;
using Route = ConnectionRecord::Route;

// 2025-01-06 12:00 UTC, a Monday.
constexpr Date monday(757857600);
constexpr double hour = 3600;
constexpr double secondsPerDay = 24 * hour;
// ICU writes the space before AM and PM as a narrow no-break space.
const std::string nnbsp = "\u202f";

HistoryDates usDates(std::string zone = "UTC") {
    return HistoryDates({.locale = "en_US", .timeZone = std::move(zone), .now = [] { return monday; }});
}

Date ago(double seconds) {
    return Date(monday.secondsSinceReferenceDate() - seconds);
}

TEST(HistoryDates, NamesTodayAndYesterdayAndWritesOlderDatesInFull) {
    const HistoryDates dates = usDates();
    EXPECT_EQ(dates.startText(ago(3 * hour)), "Today, 9:00" + nnbsp + "AM");
    EXPECT_EQ(dates.startText(ago(12 * hour + 60)), "Yesterday, 11:59" + nnbsp + "PM");
    EXPECT_EQ(dates.startText(ago(2 * secondsPerDay - 3 * hour - 240)), "Jan 4, 2025, 3:04" + nnbsp + "PM");
    // A start in the future (a clock set back) is no today.
    EXPECT_EQ(dates.startText(ago(-secondsPerDay)), "Jan 7, 2025, 12:00" + nnbsp + "PM");
    // 01:00 UTC on Monday is still Sunday evening in New York.
    EXPECT_EQ(dates.startText(ago(11 * hour)), "Today, 1:00" + nnbsp + "AM");
    EXPECT_EQ(usDates("America/New_York").startText(ago(11 * hour)), "Yesterday, 8:00" + nnbsp + "PM");
    // Today ends at the zone's midnight.
    EXPECT_EQ(dates.secondsUntilTomorrow(), 12 * hour);
    EXPECT_EQ(usDates("America/New_York").secondsUntilTomorrow(), 17 * hour);
}

TEST(HistoryDates, OtherLocalesAndDatesNoCalendarCanShow) {
    const HistoryDates german({.locale = "de_DE", .timeZone = "UTC", .now = [] { return monday; }});
    EXPECT_EQ(german.startText(ago(hour)), "Heute, 11:00");
    EXPECT_EQ(german.startText(ago(5 * secondsPerDay)), "01.01.2025, 12:00");
    const HistoryDates dates = usDates();
    for (const double bad :
         {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(), 1e16}) {
        EXPECT_EQ(dates.startText(Date(bad)), "") << bad;
    }
}

TEST(HistoryText, MinutesText) {
    const double seconds[] = {30,           0,    119, 120, 59 * 60 + 59, 3600, 2 * 3600 + 5 * 60 + 59, -600,
                              std::nan(""), 1e300};
    const char* const texts[] = {"1 min",     "1 min",     "1 min", "2 min", "59 min",
                                 "1 h 0 min", "2 h 5 min", "1 min", "1 min", "16666666666 h 40 min"};
    for (std::size_t i = 0; i < std::size(seconds); ++i) {
        EXPECT_EQ(HistoryText::minutesText(seconds[i]), texts[i]) << seconds[i];
    }
}

ConnectionRecord record(Kind kind, double startedAgo, std::optional<double> length = std::nullopt,
                        std::optional<Ending> ending = std::nullopt) {
    ConnectionRecord made;
    made.kind = kind;
    made.deviceID = "d1";
    made.deviceName = "Studio iPad";
    made.started = Date(monday.secondsSinceReferenceDate() - startedAgo);
    if (length) {
        made.ended = Date(made.started.secondsSinceReferenceDate() + *length);
        made.ending = ending;
    }
    made.forwardSecret = true;
    return made;
}

TEST(HistoryText, TitlesAndIconsByKind) {
    EXPECT_EQ(HistoryText::title(record(Kind::session, 0)), "Studio iPad");
    EXPECT_EQ(HistoryText::title(record(Kind::file, 0)), "Studio iPad: a file");
    EXPECT_EQ(HistoryText::title(record(Kind::refused, 0)), "Studio iPad: turned away");
    EXPECT_EQ(HistoryText::icon(record(Kind::session, 0)), RowIcon::running);
    EXPECT_EQ(HistoryText::icon(record(Kind::session, 60, 30, Ending::disconnected)), RowIcon::session);
    EXPECT_EQ(HistoryText::icon(record(Kind::file, 60, 30, Ending::disconnected)), RowIcon::file);
    EXPECT_EQ(HistoryText::icon(record(Kind::refused, 60, 0)), RowIcon::refused);
}

TEST(HistoryText, Captions) {
    const HistoryDates dates = usDates();
    const std::string nineAM = "Today, 9:00" + nnbsp + "AM";

    ConnectionRecord running = record(Kind::session, 3 * hour);
    running.route = Route::door;
    running.from = "203.0.113.9";
    EXPECT_EQ(HistoryText::caption(running, dates), nineAM + " · from away (203.0.113.9) · connected now");
    running.forwardSecret = false;
    EXPECT_EQ(HistoryText::caption(running, dates),
              nineAM + " · from away (203.0.113.9) · connected now · not forward secret");

    const std::pair<ConnectionRecord, std::string> cases[] = {
        {record(Kind::session, 3 * hour, 3600, Ending::idleTimeout),
         nineAM + " · at home · 1 h 0 min · timed out, idle"},
        {record(Kind::session, 3 * hour, 59 * 60 + 59, Ending::replaced),
         nineAM + " · at home · 59 min · replaced by a newer session"},
        {record(Kind::session, 3 * hour, 30, Ending::endedHere),
         nineAM + " · at home · 1 min · ended from this computer"},
        {record(Kind::file, 3 * hour, 5, Ending::disconnected), nineAM + " · at home"},
        {record(Kind::file, 3 * hour, 5, Ending::connectionLost), nineAM + " · at home · connection lost"},
        {record(Kind::file, 3 * hour), nineAM + " · at home · connected now"},
    };
    for (const auto& [made, text] : cases) {
        EXPECT_EQ(HistoryText::caption(made, dates), text);
    }

    ConnectionRecord refused = record(Kind::refused, 3 * hour, 0);
    refused.route = Route::elsewhere;
    refused.refusal = Refusal::deviceBoundKeyMissing;
    refused.forwardSecret = false;
    EXPECT_EQ(HistoryText::caption(refused, dates), nineAM + " · by VPN or address · no away key signature")
        << "a refusal never says more";
    refused.refusal = Refusal::keyDidNotMatch;
    EXPECT_EQ(HistoryText::caption(refused, dates), nineAM + " · by VPN or address · its key didn't match");
}

} // namespace
} // namespace velm
