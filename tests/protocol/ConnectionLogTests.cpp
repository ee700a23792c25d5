#include "protocol/ConnectionLog.h"
#include "protocol/json/Json.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>

namespace velm {
namespace {

using Kind = ConnectionRecord::Kind;
using Route = ConnectionRecord::Route;
using Ending = ConnectionRecord::Ending;
using Refusal = ConnectionRecord::Refusal;

constexpr double start = 788918400; // 2026-01-01 00:00:00 UTC
constexpr double day = 86400;

Date at(double secondsAfterStart) {
    return Date(start + secondsAfterStart);
}

// A log whose device "ipad" had one home session from 0 s to 100 s that ended as given.
struct EndedSession {
    ConnectionLog log;
    Uuid id;

    explicit EndedSession(Ending ending = Ending::disconnected) {
        id = log.begin(Kind::session, "ipad", "Old name", Route::home, "192.168.1.20", true, at(0));
        log.end(id, ending, at(100));
    }
};

ConnectionRecord closedRecord(Kind kind, double endedAfterStart) {
    return ConnectionRecord{.id = Uuid::random(),
                            .kind = kind,
                            .deviceID = "d",
                            .deviceName = "n",
                            .route = Route::home,
                            .from = std::nullopt,
                            .started = at(endedAfterStart - 1),
                            .ended = at(endedAfterStart),
                            .ending = Ending::disconnected,
                            .refusal = std::nullopt,
                            .forwardSecret = false};
}

TEST(ConnectionLogBegin, ReopensTheDevicesSessionThatEndedWithinTheWindow) {
    EndedSession history;
    const Uuid id =
        history.log.begin(Kind::session, "ipad", "New name", Route::home, std::nullopt, true, at(159.9));

    EXPECT_EQ(id, history.id);
    ASSERT_EQ(history.log.records.size(), 1u);
    const ConnectionRecord& record = history.log.records[0];
    EXPECT_TRUE(record.isOpen());
    EXPECT_EQ(record.started, at(0));
    EXPECT_EQ(record.deviceName, "New name");
    EXPECT_EQ(record.from, "192.168.1.20");

    // An end that lies after the new start counts as within the window too.
    history.log.end(id, Ending::connectionLost, at(300));
    EXPECT_EQ(history.log.begin(Kind::session, "ipad", "n", Route::home, "10.0.0.9", true, at(250)), id);
    EXPECT_EQ(history.log.records[0].from, "10.0.0.9");
}

TEST(ConnectionLogBegin, OpensANewRecordAtTheWindowsEndAfterIdlenessOrOnAnotherRoute) {
    const auto opensNew = [](Ending ending, Route route, double gap) {
        EndedSession history(ending);
        const Uuid id =
            history.log.begin(Kind::session, "ipad", "n", route, std::nullopt, true, at(100 + gap));
        EXPECT_NE(id, history.id);
        ASSERT_EQ(history.log.records.size(), 2u);
        EXPECT_EQ(history.log.records[0].id, id);
        EXPECT_EQ(history.log.records[0].started, at(100 + gap));
        EXPECT_EQ(history.log.records[1].ended, at(100));
        EXPECT_EQ(history.log.records[1].ending, ending);
    };
    opensNew(Ending::disconnected, Route::home, ConnectionLog::reopenWindow);
    opensNew(Ending::idleTimeout, Route::home, 1);
    opensNew(Ending::disconnected, Route::door, 1);
}

TEST(ConnectionLogBegin, NeverReopensAnOpenRecordAFileRecordARefusalOrAnOlderSession) {
    ConnectionLog log;
    const Uuid first = log.begin(Kind::session, "ipad", "n", Route::home, std::nullopt, true, at(0));
    const Uuid second = log.begin(Kind::session, "ipad", "n", Route::home, std::nullopt, true, at(1));
    EXPECT_NE(first, second);

    const Uuid file = log.begin(Kind::file, "ipad", "n", Route::home, std::nullopt, true, at(2));
    log.end(file, Ending::disconnected, at(3));
    EXPECT_NE(log.begin(Kind::file, "ipad", "n", Route::home, std::nullopt, true, at(4)), file);

    ConnectionLog refused;
    refused.recordRefusal(Refusal::keyDidNotMatch, "ipad", "n", Route::home, std::nullopt, false, at(0));
    refused.begin(Kind::session, "ipad", "n", Route::home, std::nullopt, true, at(1));
    EXPECT_EQ(refused.records.size(), 2u);

    // The newest session of the device ended long ago; an older one that ended recently stays closed.
    ConnectionLog older;
    older.records = {closedRecord(Kind::session, 0), closedRecord(Kind::session, 500)};
    older.records[0].deviceID = older.records[1].deviceID = "ipad";
    older.records.insert(older.records.begin(), closedRecord(Kind::file, 510));
    older.records[0].deviceID = "ipad";
    older.begin(Kind::session, "ipad", "n", Route::home, std::nullopt, true, at(520));
    EXPECT_EQ(older.records.size(), 4u);
    EXPECT_FALSE(older.records[3].isOpen());
}

TEST(ConnectionLogBegin, KeepsForwardSecrecyOnlyWhileEveryJoinedConnectionHadIt) {
    EndedSession history;
    history.log.begin(Kind::session, "ipad", "n", Route::home, std::nullopt, false, at(110));
    history.log.end(history.id, Ending::disconnected, at(120));
    history.log.begin(Kind::session, "ipad", "n", Route::home, std::nullopt, true, at(130));
    EXPECT_EQ(history.log.records.size(), 1u);
    EXPECT_FALSE(history.log.records[0].forwardSecret);
}

TEST(ConnectionLogEnd, ClosesOnlyAnOpenRecordWithThatId) {
    EndedSession history;
    history.log.end(history.id, Ending::hostQuit, at(200));
    history.log.end(Uuid::random(), Ending::hostQuit, at(200));
    EXPECT_EQ(history.log.records[0].ended, at(100));
    EXPECT_EQ(history.log.records[0].ending, Ending::disconnected);
}

TEST(ConnectionLogRefusal, IsClosedFromBirthWithoutAnEnding) {
    ConnectionLog log;
    log.begin(Kind::session, "other", "n", Route::home, std::nullopt, true, at(0));
    log.recordRefusal(Refusal::deviceBoundKeyMissing, "ipad", "Ada's iPad", Route::door, "203.0.113.7", false,
                      at(5));
    ASSERT_EQ(log.records.size(), 2u);
    const ConnectionRecord& record = log.records[0];
    EXPECT_EQ(record.kind, Kind::refused);
    EXPECT_EQ(record.ended, at(5));
    EXPECT_FALSE(record.ending.has_value());
}

TEST(ConnectionLogPrune, DropsClosedRecordsPastNinetyDaysButKeepsOpenOnes) {
    const double now = 800 * day;
    ConnectionLog log;
    log.records = {closedRecord(Kind::session, now - ConnectionLog::maximumAge),
                   closedRecord(Kind::file, now - ConnectionLog::maximumAge - 1),
                   closedRecord(Kind::refused, now - 10), closedRecord(Kind::session, 0)};
    log.records[3].ended.reset();
    log.records[3].ending.reset();
    const ConnectionLog before = log;

    log.prune(at(now));
    ASSERT_EQ(log.records.size(), 3u);
    EXPECT_EQ(log.records[0], before.records[0]);
    EXPECT_EQ(log.records[1], before.records[2]);
    EXPECT_EQ(log.records[2], before.records[3]);
}

TEST(ConnectionLogPrune, KeepsTheNewestFiveHundredWhenARecordIsInserted) {
    ConnectionLog log;
    for (int i = 0; i < 500; ++i) {
        log.records.push_back(closedRecord(Kind::session, 1000 - i));
    }
    log.records.back().ended.reset(); // the oldest is open and goes all the same
    const Uuid dropped = log.records.back().id;

    const Uuid id = log.begin(Kind::file, "ipad", "n", Route::home, std::nullopt, true, at(2000));
    ASSERT_EQ(log.records.size(), ConnectionLog::maximumRecords);
    EXPECT_EQ(log.records.front().id, id);
    EXPECT_NE(log.records.back().id, dropped);

    log.recordRefusal(Refusal::keyDidNotMatch, "ipad", "n", Route::home, std::nullopt, true, at(2001));
    EXPECT_EQ(log.records.size(), ConnectionLog::maximumRecords);
}

TEST(ConnectionLogPrune, DoesNotRunOnReopenOrEnd) {
    EndedSession history;
    for (int i = 0; i < 600; ++i) {
        history.log.records.push_back(closedRecord(Kind::file, -200 * day));
    }
    history.log.begin(Kind::session, "ipad", "n", Route::home, std::nullopt, true, at(110));
    history.log.end(history.id, Ending::disconnected, at(120));
    EXPECT_EQ(history.log.records.size(), 601u);
}

TEST(ConnectionLogCloseOpenRecords, ClosesEachOpenRecordAtItsOwnStartAsInterrupted) {
    ConnectionLog log;
    log.begin(Kind::session, "a", "n", Route::home, std::nullopt, true, at(10));
    log.begin(Kind::file, "b", "n", Route::home, std::nullopt, true, at(20));
    log.records.push_back(closedRecord(Kind::session, 5));
    const ConnectionRecord closed = log.records[2];

    log.closeOpenRecords();
    EXPECT_EQ(log.records[0].ended, at(20));
    EXPECT_EQ(log.records[0].ending, Ending::interrupted);
    EXPECT_EQ(log.records[1].ended, at(10));
    EXPECT_EQ(log.records[1].ending, Ending::interrupted);
    EXPECT_EQ(log.records[2], closed);
}

constexpr std::string_view refusedJson =
    R"({"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","kind":"refused","deviceID":"d","deviceName":"n",)"
    R"("route":"door","started":788918400.5,"ended":788918400.5,"refusal":"keyDidNotMatch","forwardSecret":false})";

constexpr std::string_view openJson =
    R"({"id":"0B4A3C1E-5D6F-4E70-8192-A3B4C5D6E7F8","kind":"session","deviceID":"d","deviceName":"n",)"
    R"("route":"home","started":788918400,"forwardSecret":true})";

TEST(ConnectionRecordJson, WritesFieldNamesUpperCaseIdsAndLeavesAbsentFieldsOut) {
    ConnectionLog log;
    log.records = {Json::decode<ConnectionRecord>(refusedJson), Json::decode<ConnectionRecord>(openJson)};
    EXPECT_EQ(toString(*log.storedForm()),
              "{\"records\":[" + std::string(refusedJson) + "," + std::string(openJson) + "]}");
    EXPECT_EQ(ConnectionLog::fromStoredForm(*log.storedForm()), log);
}

TEST(ConnectionRecordJson, ReadsMissingOrNullOptionalsAsAbsentAndAnEndWithoutEndingAsClosed) {
    const auto record = Json::decode<ConnectionRecord>(
        R"({"id":"e621e1f8-c36c-495a-93fc-0c247a3e6e5f","kind":"session","deviceID":"d","deviceName":"n",)"
        R"("route":"elsewhere","from":null,"started":1,"ended":2,"ending":null,"forwardSecret":true})");
    EXPECT_FALSE(record.from.has_value());
    EXPECT_FALSE(record.ending.has_value());
    EXPECT_FALSE(record.isOpen());
    EXPECT_EQ(record.id.string(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
}

std::string withRecords(std::initializer_list<std::string_view> records) {
    std::string json = R"({"records":[)";
    for (const std::string_view record : records) {
        json += std::string(record) + ",";
    }
    json.back() = ']';
    return json + "}";
}

std::string replaced(std::string_view json, std::string_view from, std::string_view to) {
    std::string text(json);
    text.replace(text.find(from), from.size(), to);
    return text;
}

TEST(ConnectionLogStoredForm, DropsOnlyTheRecordsItCannotRead) {
    const std::string newerEnding =
        replaced(refusedJson, R"("refusal":"keyDidNotMatch")", R"("ending":"vanished")");
    const std::string noForwardSecret = replaced(openJson, R"(,"forwardSecret":true)", "");
    const std::string badId = replaced(openJson, "0B4A3C1E", "0B4A3C1");
    const std::string stored =
        withRecords({newerEnding, refusedJson, noForwardSecret, "null", "[]", badId, openJson, R"("x")"});

    // The message form stays all or nothing.
    EXPECT_FALSE(Json::tryDecode<ConnectionLog>(stored).has_value());
    EXPECT_FALSE(Json::tryDecode<ConnectionLog>(withRecords({noForwardSecret})).has_value());

    const ConnectionLog log = ConnectionLog::fromStoredForm(toBytes(stored));
    ASSERT_EQ(log.records.size(), 2u);
    EXPECT_EQ(log.records[0], Json::decode<ConnectionRecord>(refusedJson));
    EXPECT_EQ(log.records[1], Json::decode<ConnectionRecord>(openJson));
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
