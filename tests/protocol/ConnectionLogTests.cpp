#include "ProtocolTesting.h"
#include "protocol/ConnectionLog.h"
#include "protocol/json/Json.h"
#include "protocol/json/JsonCheck.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velm {
namespace {

using test::replaced;

using Kind = ConnectionRecord::Kind;
using Route = ConnectionRecord::Route;
using Ending = ConnectionRecord::Ending;
using Refusal = ConnectionRecord::Refusal;

Date dateAt(double secondsAfterStart) {
    return Date(788918400 + secondsAfterStart); // 2026-01-01 00:00:00 UTC
}

// Begins a connection of the device "ipad" without an address.
Uuid begin(ConnectionLog& log, double time, Kind kind = Kind::session, Route route = Route::home) {
    return log.begin(kind, "ipad", "n", route, std::nullopt, true, dateAt(time));
}

// A log whose device "ipad" had one home session from 0 s to 100 s that ended as given.
ConnectionLog endedSession(Ending ending = Ending::disconnected) {
    ConnectionLog log;
    const Uuid id =
        log.begin(Kind::session, "ipad", "Old name", Route::home, "192.168.1.20", true, dateAt(0));
    log.end(id, ending, dateAt(100));
    return log;
}

ConnectionRecord closedRecord(Kind kind, double endedAfterStart, std::string deviceID = "d") {
    ConnectionRecord made;
    made.id = Uuid::random();
    made.kind = kind;
    made.deviceID = std::move(deviceID);
    made.deviceName = "n";
    made.started = dateAt(endedAfterStart - 1);
    made.ended = dateAt(endedAfterStart);
    made.ending = Ending::disconnected;
    return made;
}

TEST(ConnectionLogBegin, ReopensTheDevicesSessionThatEndedWithinTheWindow) {
    ConnectionLog log = endedSession();
    const Uuid id = log.records[0].id;
    // Ending a closed record, or one the log does not hold, changes nothing.
    const ConnectionLog before = log;
    log.end(id, Ending::hostQuit, dateAt(120));
    log.end(Uuid::random(), Ending::hostQuit, dateAt(120));
    EXPECT_EQ(log, before);

    ConnectionRecord reopened = log.records[0];
    reopened.deviceName = "New name";
    reopened.ended.reset();
    reopened.ending.reset();
    reopened.forwardSecret = false;
    EXPECT_EQ(log.begin(Kind::session, "ipad", "New name", Route::home, std::nullopt, false, dateAt(159.9)),
              id);
    EXPECT_EQ(log.records, std::vector{reopened});

    // An end that lies after the new start counts as within the window too; a new address replaces the
    // old one, and forward secrecy once lost stays lost.
    log.end(id, Ending::connectionLost, dateAt(300));
    EXPECT_EQ(log.begin(Kind::session, "ipad", "n", Route::home, "10.0.0.9", true, dateAt(250)), id);
    EXPECT_EQ(log.records[0].from, "10.0.0.9");
    EXPECT_FALSE(log.records[0].forwardSecret);
}

// A clock set back (by hand, or at boot from a saved time before the network corrects it) puts the last
// end after the new start; by as much as the window, nobody can tell how long the device was away, so
// the sessions are not joined: the old one keeps its own length and ending.
TEST(ConnectionLogBegin, DoesNotReopenASessionThatEndsFarAfterTheNewStart) {
    ConnectionLog log = endedSession();
    const ConnectionRecord ended = log.records[0];
    const Uuid id = begin(log, 100 - ConnectionLog::reopenWindow);
    ASSERT_EQ(log.records.size(), 2u);
    EXPECT_NE(id, ended.id);
    EXPECT_EQ(log.records[1], ended);
    EXPECT_EQ(log.records[0].started, dateAt(100 - ConnectionLog::reopenWindow));

    ConnectionLog dayBehind = endedSession();
    begin(dayBehind, 100 - 86400);
    EXPECT_EQ(dayBehind.records.size(), 2u);
}

TEST(ConnectionLogBegin, OpensANewRecordAtTheWindowsEndAfterIdlenessOrOnAnotherRoute) {
    const struct {
        Ending ending;
        Route route;
        double gap;
    } cases[] = {{Ending::disconnected, Route::home, ConnectionLog::reopenWindow},
                 {Ending::idleTimeout, Route::home, 1},
                 {Ending::disconnected, Route::door, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.gap);
        ConnectionLog log = endedSession(c.ending);
        const ConnectionRecord ended = log.records[0];
        const Uuid id = begin(log, 100 + c.gap, Kind::session, c.route);
        ASSERT_EQ(log.records.size(), 2u);
        EXPECT_EQ(log.records[0].id, id);
        EXPECT_EQ(log.records[0].started, dateAt(100 + c.gap));
        EXPECT_EQ(log.records[1], ended);
    }
}

TEST(ConnectionLogBegin, NeverReopensAnOpenRecordAFileRecordARefusalOrAnOlderSession) {
    ConnectionLog log;
    EXPECT_NE(begin(log, 0), begin(log, 1));
    const Uuid file = begin(log, 2, Kind::file);
    log.end(file, Ending::disconnected, dateAt(3));
    EXPECT_NE(begin(log, 4, Kind::file), file);

    // A refusal is closed from birth, without an ending.
    ConnectionLog refused;
    refused.recordRefusal(Refusal::keyDidNotMatch, "ipad", "n", Route::door, "203.0.113.7", false, dateAt(0));
    EXPECT_EQ(refused.records[0].ended, dateAt(0));
    EXPECT_FALSE(refused.records[0].ending.has_value());
    begin(refused, 1);
    EXPECT_EQ(refused.records.size(), 2u);

    // The newest session of the device ended long ago; an older one that ended recently stays closed.
    ConnectionLog older;
    older.records = {closedRecord(Kind::file, 510, "ipad"), closedRecord(Kind::session, 0, "ipad"),
                     closedRecord(Kind::session, 500, "ipad")};
    begin(older, 520);
    EXPECT_EQ(older.records.size(), 4u);
    EXPECT_FALSE(older.records[3].isOpen());
}

TEST(ConnectionLogPrune, DropsClosedRecordsPastNinetyDaysAndAllButTheNewestFiveHundredOnInsert) {
    const double now = 800 * 86400;
    ConnectionLog log;
    log.records = {closedRecord(Kind::session, now - ConnectionLog::maximumAge),
                   closedRecord(Kind::file, now - ConnectionLog::maximumAge - 1),
                   closedRecord(Kind::session, 0)};
    log.records[2].ended.reset();
    log.records[2].ending.reset();
    const ConnectionLog before = log;

    log.prune(dateAt(now));
    EXPECT_EQ(log.records, (std::vector{before.records[0], before.records[2]}));

    ConnectionLog full;
    for (int i = 0; i < 500; ++i) {
        full.records.push_back(closedRecord(Kind::session, 1000 - i));
    }
    full.records.back().ended.reset(); // the oldest is open and goes all the same
    const Uuid dropped = full.records.back().id;

    const Uuid id = begin(full, 2000, Kind::file);
    ASSERT_EQ(full.records.size(), ConnectionLog::maximumRecords);
    EXPECT_EQ(full.records.front().id, id);
    EXPECT_NE(full.records.back().id, dropped);
}

TEST(ConnectionLogCloseOpenRecords, ClosesEachOpenRecordAtItsOwnStartAsInterrupted) {
    ConnectionLog log;
    begin(log, 10);
    begin(log, 20, Kind::file);
    log.records.push_back(closedRecord(Kind::session, 5));
    ConnectionLog expected = log;
    for (const std::size_t i : {0u, 1u}) {
        expected.records[i].ended = expected.records[i].started;
        expected.records[i].ending = Ending::interrupted;
    }

    log.closeOpenRecords();
    EXPECT_EQ(log, expected);
}

constexpr std::string_view refusedJson =
    R"({"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","kind":"refused","deviceID":"d","deviceName":"n",)"
    R"("route":"door","from":"203.0.113.7","started":788918400.5,"ended":788918400.5,)"
    R"("refusal":"keyDidNotMatch","forwardSecret":false})";

constexpr std::string_view openJson =
    R"({"id":"0B4A3C1E-5D6F-4E70-8192-A3B4C5D6E7F8","kind":"session","deviceID":"d","deviceName":"n",)"
    R"("route":"home","started":788918400,"forwardSecret":true})";

std::string withRecords(std::initializer_list<std::string_view> records) {
    std::string json = R"({"records":[)";
    for (const std::string_view record : records) {
        json += std::string(record) + ",";
    }
    json.back() = ']';
    return json + "}";
}

TEST(ConnectionLogStoredForm, WritesEachRecordInItsFormAndReadsBackOnlyTheRecordsItCan) {
    ConnectionLog log;
    log.records = {Json::decode<ConnectionRecord>(refusedJson), Json::decode<ConnectionRecord>(openJson)};
    EXPECT_EQ(toString(*log.storedForm()), withRecords({refusedJson, openJson}));

    const std::string newerEnding =
        replaced(refusedJson, R"("refusal":"keyDidNotMatch")", R"("ending":"vanished")");
    const std::string noForwardSecret = replaced(openJson, R"(,"forwardSecret":true)", "");
    const std::string badId = replaced(openJson, "0B4A3C1E", "0B4A3C1");
    const std::string stored =
        withRecords({newerEnding, refusedJson, noForwardSecret, "null", "[]", badId, openJson, R"("x")"});
    EXPECT_EQ(ConnectionLog::fromStoredForm(toBytes(stored)), log);
    // The message form stays all or nothing.
    EXPECT_FALSE(Json::tryDecode<ConnectionLog>(stored).has_value());
    EXPECT_FALSE(Json::tryDecode<ConnectionLog>(withRecords({noForwardSecret})).has_value());
}

// Records are sorted out without an exception each; the check must agree with the decoder on
// every kind of damage, or a record would be dropped that reads, or one read that does not.
TEST(ConnectionLogStoredForm, TellsReadableRecordsAsTheDecoderDoes) {
    // Each key is dropped (the first variant) or given each of these values.
    const auto values = nlohmann::json::parse(R"([null, true, 0, 1, -1, 1.5, 1e300, "", "home", "session",
        "keyDidNotMatch", "E621E1F8-C36C-495A-93FC-0C247A3E6E5F", [], {}])");
    std::size_t checked = 0;
    for (const std::string_view base : {refusedJson, openJson}) {
        const auto record = nlohmann::json::parse(base);
        for (const auto& [key, value] : record.items()) {
            for (std::size_t i = 0; i <= values.size(); ++i) {
                nlohmann::json damaged = record;
                if (i == 0) {
                    damaged.erase(key);
                } else {
                    damaged[key] = values[i - 1];
                }
                const std::string text = damaged.dump();
                const bool decodes = Json::tryDecode<ConnectionRecord>(text).has_value();
                EXPECT_EQ(JsonCheck<ConnectionRecord>::fits(damaged), decodes) << text;
                EXPECT_EQ(ConnectionLog::fromStoredForm(toBytes(withRecords({text}))).records.size(),
                          decodes ? 1u : 0u);
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 200u);
    EXPECT_FALSE(JsonCheck<ConnectionRecord>::fits(nlohmann::json::array()));
}

// A stored history that is mostly damage costs memory for what is kept, not for every entry of it:
// a settings file of a few megabytes holds millions of entries.
TEST(ConnectionLogStoredForm, MakesRoomOnlyForWhatItKeeps) {
    std::string stored = R"({"records":[)";
    for (int i = 0; i < 100'000; ++i) {
        stored += "0,";
    }
    stored += std::string(openJson) + "]}";
    const ConnectionLog log = ConnectionLog::fromStoredForm(toBytes(stored));
    EXPECT_EQ(log.records.size(), 1u);
    EXPECT_LE(log.records.capacity(), ConnectionLog::maximumRecords);
}

TEST(ConnectionLogStoredForm, NestedDeeperThanAnyRecordReadsAsEmpty) {
    const std::string deep =
        withRecords({openJson, std::string(Json::maxDepth, '[') + std::string(Json::maxDepth, ']')});
    EXPECT_TRUE(ConnectionLog::fromStoredForm(toBytes(deep)).records.empty());
}

TEST(ConnectionLogStoredForm, ThatIsNoLogAtAllReadsAsEmpty) {
    for (const std::string_view stored :
         {"", "{", "[]", "{}", R"({"records":null})", R"({"records":{}})", R"({"entries":[]})"}) {
        EXPECT_TRUE(ConnectionLog::fromStoredForm(toBytes(stored)).records.empty()) << stored;
    }
}

TEST(ConnectionLogStoredForm, CannotBeWrittenWithADateJsonCannotCarry) {
    ConnectionLog log;
    log.begin(Kind::session, "d", "n", Route::home, std::nullopt, true, Date(std::nan("")));
    EXPECT_FALSE(log.storedForm().has_value());
}

} // namespace
} // namespace velm
