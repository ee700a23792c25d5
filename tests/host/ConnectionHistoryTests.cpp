#include "Velm_Host/core/ConnectionHistory.h"
#include "protocol/ChannelFrame.h"
#include "protocol/ControlMessage.h"
#include "tests/support/QueueClock.h"
#include "tests/support/SystemCallFaults.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>
#include <thread>

namespace velm {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using Kind = ConnectionRecord::Kind;
using Ending = ConnectionRecord::Ending;

constexpr double historyNow = 700'000'000;

json record(const char* id, double started, std::optional<double> ended) {
    json value = {{"id", id},        {"kind", "session"},  {"deviceID", "ipad-1"}, {"deviceName", "iPad"},
                  {"route", "home"}, {"started", started}, {"forwardSecret", true}};
    if (ended) {
        value["ended"] = *ended;
        value["ending"] = "disconnected";
    }
    return value;
}

class ConnectionHistoryTest : public ::testing::Test {
protected:
    std::shared_ptr<ConnectionHistory> makeHistory() {
        auto made = ConnectionHistory::make(defaults, mainQueue,
                                            {.now = test::queueClock(mainQueue, Date(historyNow))});
        made->setOnChange([this] { ++changes; });
        return made;
    }

    // The log as the settings hold it now.
    ConnectionLog stored() const {
        return ConnectionLog::fromStoredForm(toBytes(defaults->jsonValue("connectionHistory")->dump()));
    }

    test::TemporaryFolder temporary;
    std::shared_ptr<DefaultsStore> defaults = std::make_shared<DefaultsStore>(temporary.path());
    std::shared_ptr<ManualQueue> mainQueue = std::make_shared<ManualQueue>("main");
    const ConnectionHistory::Peer peer{.deviceID = "ipad-1",
                                       .deviceName = "iPad",
                                       .route = ConnectionRecord::Route::home,
                                       .from = "192.0.2.7",
                                       .forwardSecret = true};
    int changes = 0;
};

// At start-up: damaged records dropped, records left open closed as interrupted, old ones pruned,
// and the result saved at once.
TEST_F(ConnectionHistoryTest, LoadsRepairsPrunesAndSaves) {
    json damaged = record("00000000-0000-0000-0000-000000000002", historyNow - 50, historyNow - 40);
    damaged.erase("forwardSecret");
    ASSERT_TRUE(defaults->setJson(
        "connectionHistory",
        {{"records",
          {record("00000000-0000-0000-0000-000000000001", historyNow - 100, std::nullopt), damaged,
           record("00000000-0000-0000-0000-000000000003", historyNow - 200, historyNow - 150),
           record("00000000-0000-0000-0000-000000000004", historyNow - 8'000'000,
                  historyNow - 7'776'001)}}}));

    const auto history = makeHistory();
    const auto records = history->log().records;
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(std::tuple(records[0].id.string(), records[0].ended, records[0].ending, records[1].ending),
              std::tuple("00000000-0000-0000-0000-000000000001", Date(historyNow - 100), Ending::interrupted,
                         Ending::disconnected));
    EXPECT_EQ(DefaultsStore(temporary.path()).jsonValue("connectionHistory"),
              defaults->jsonValue("connectionHistory"));
    EXPECT_EQ(stored(), history->log());
}

TEST_F(ConnectionHistoryTest, SavesEveryChangeAndPublishesOnTheMainQueue) {
    const auto history = makeHistory();
    const Uuid session = history->begin(Kind::session, peer);
    EXPECT_EQ(changes, 0);
    mainQueue->advance(30s);
    const Uuid file = history->begin(Kind::file, peer);
    history->recordRefusal(ConnectionRecord::Refusal::keyDidNotMatch, peer);
    EXPECT_TRUE(history->end(file, Ending::disconnected));
    EXPECT_FALSE(history->end(file, Ending::disconnected));
    mainQueue->runUntilIdle();
    EXPECT_EQ(changes, 4);

    const auto log = history->log();
    ASSERT_EQ(log.records.size(), 3u);
    EXPECT_EQ(log.records[0].kind, Kind::refused);
    EXPECT_EQ(log.records[1].ended, Date(historyNow + 30));
    EXPECT_TRUE(log.records[2].id == session && log.records[2].isOpen());
    EXPECT_EQ(stored(), log);
}

// The views and a device asking for the history read it while a session's change is on its way to a
// slow disk: they see the change at once and never wait for the save.
TEST_F(ConnectionHistoryTest, ReadersGoOnWhileAChangeIsSaved) {
    const auto history = makeHistory();
    const Uuid session = history->begin(Kind::session, peer);
    const auto hold = test::SystemCallFaults::holdRenamingOnto("defaults.json");
    std::thread ender([&] { history->end(session, Ending::disconnected); });
    ASSERT_TRUE(hold.waitUntilHeld());
    const auto seen = history->log();
    hold.release();
    ender.join();

    EXPECT_FALSE(hold.outlastedLimit()) << "a reader waited for the save";
    ASSERT_EQ(seen.records.size(), 1u);
    EXPECT_EQ(seen.records[0].ending, Ending::disconnected);
    EXPECT_EQ(stored(), history->log());
}

// Clearing keeps what still runs, so its end is recorded and whatever waits for that end hears of it.
TEST_F(ConnectionHistoryTest, ClearingKeepsRunningRecords) {
    const auto history = makeHistory();
    const Uuid running = history->begin(Kind::session, peer);
    const Uuid done = history->begin(Kind::file, peer);
    history->end(done, Ending::disconnected);
    history->clear();
    ASSERT_EQ(history->log().records.size(), 1u);
    EXPECT_TRUE(history->end(running, Ending::endedHere));
    EXPECT_EQ(stored().records.at(0).ending, Ending::endedHere);
}

TEST_F(ConnectionHistoryTest, KeepsDeviceTextsShort) {
    const auto history = makeHistory();
    ConnectionHistory::Peer chatty = peer;
    chatty.deviceName = std::string(100'000, 'n');
    chatty.from = std::string(300, 'f') + "\xFF";
    history->recordRefusal(ConnectionRecord::Refusal::deviceBoundKeyMissing, chatty);
    const auto log = history->log();
    const auto& record = log.records.at(0);
    EXPECT_EQ(record.deviceName.size(), ConnectionHistory::maxTextBytes);
    EXPECT_EQ(record.from, std::string(256, 'f'));
}

// Any program of the user can write the settings: stored texts are kept as short as new ones, so that
// the history still fits the one message that answers a device asking for it.
TEST_F(ConnectionHistoryTest, KeepsStoredTextsShortToo) {
    json records = json::array();
    for (int index = 0; index < 500; ++index) {
        json stored = record(Uuid::random().string().c_str(), historyNow - 100, historyNow - 50);
        stored["deviceID"] = std::string(4'000, 'i');
        stored["deviceName"] = std::string(4'000, 'n');
        stored["from"] = std::string(4'000, 'f');
        records.push_back(std::move(stored));
    }
    ASSERT_TRUE(defaults->setJson("connectionHistory", {{"records", records}}));

    const auto log = makeHistory()->log();
    ASSERT_EQ(log.records.size(), 500u);
    const auto& first = log.records.front();
    EXPECT_EQ(std::tuple(first.deviceID.size(), first.deviceName.size(), first.from->size()),
              std::tuple(ConnectionHistory::maxTextBytes, ConnectionHistory::maxTextBytes,
                         ConnectionHistory::maxTextBytes));
    const auto answer = ControlMessage::history(log.records).jsonEncoded();
    ASSERT_TRUE(answer);
    EXPECT_LE(answer->size(), ChannelFrame::maxPayloadLength);
    EXPECT_EQ(stored(), log);
}

// A settings file that cannot be read at start (no descriptors left) reads as no history; the first
// record saved once it can be read again goes beside what it holds, not over it.
TEST_F(ConnectionHistoryTest, AHistoryThatCouldNotBeReadAtStartIsKeptWhenItCanBe) {
    ASSERT_TRUE(defaults->setJson(
        "connectionHistory",
        {{"records",
          {record("00000000-0000-0000-0000-000000000001", historyNow - 100, std::nullopt),
           record("00000000-0000-0000-0000-000000000003", historyNow - 200, historyNow - 150)}}}));
    std::shared_ptr<ConnectionHistory> history;
    Uuid first;
    {
        const auto fault = test::SystemCallFaults::failOpening("defaults.json", EMFILE);
        defaults = std::make_shared<DefaultsStore>(temporary.path());
        history = makeHistory();
        EXPECT_TRUE(history->log().records.empty());
        first = history->begin(Kind::session, peer);
    }
    EXPECT_EQ(DefaultsStore(temporary.path()).jsonValue("connectionHistory")->at("records").size(), 2u)
        << "nothing is written while the stored history is not in hand";
    history->end(first, Ending::disconnected);
    const auto records = history->log().records;
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(
        std::tuple(records[0].id, records[1].id.string(), records[1].ending, records[2].ending),
        std::tuple(first, "00000000-0000-0000-0000-000000000001", Ending::interrupted, Ending::disconnected));
    EXPECT_EQ(stored(), history->log());
}

} // namespace
} // namespace velm
