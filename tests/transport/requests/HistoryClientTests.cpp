#include "platform/dispatch/ManualQueue.h"
#include "tests/support/EventLog.h"
#include "tests/support/Pump.h"
#include "tests/support/RawTls.h"
#include "tests/support/ScriptedHost.h"
#include "transport/keys/AwaySignature.h"
#include "transport/keys/HelloProof.h"
#include "transport/requests/HistoryClient.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

using Result = HistoryClient::Result;
using test::EventLog;
using test::ScriptedHost;

const std::string deviceID = "device-history";
const Bytes key(32, 0x17);
constexpr auto timeout = std::chrono::seconds(5);

ConnectionRecord record() {
    ConnectionRecord record;
    record.id = Uuid::random();
    record.kind = ConnectionRecord::Kind::file;
    record.deviceID = deviceID;
    record.deviceName = "Ada's iPad";
    record.started = Date(800'000'000);
    return record;
}

class HistoryClientTest : public ::testing::Test {
protected:
    Result fetch(const Endpoint& endpoint, AwaySigner signer = {}) {
        HistoryClient::make(endpoint, deviceID, key, std::move(signer), timeout)
            ->start("Ada's iPad", queue, false,
                    [results = results](Result result) { results->push(result); });
        EXPECT_TRUE(results->waitForCount(1));
        return results->values().empty() ? Result(Result::Unreachable{}) : results->values().front();
    }

    std::shared_ptr<Queue> queue = Queue::make("history client");
    std::shared_ptr<EventLog<Result>> results = std::make_shared<EventLog<Result>>();
    std::vector<ConnectionRecord> records{record(), record()};
};

// The request proves the device on this very session and carries the away signature of its binding.
TEST_F(HistoryClientTest, ReturnsTheRecordsToAProvenRequest) {
    std::optional<Bytes> hostBinding;
    ScriptedHost host(
        {*PreSharedKey::forDevice(deviceID, key)},
        ScriptedHost::answering([&](ScriptedHost::Connection& connection, const ControlMessage&) {
            hostBinding = connection.channel->sessionBinding();
            connection.channel->send(ControlMessage::history(records));
        }));
    auto signedBinding = std::make_shared<EventLog<Bytes>>();
    const Bytes signature(64, 0x33);
    const auto signer = [signedBinding, signature](ByteView binding) -> std::optional<Bytes> {
        signedBinding->push(Bytes(binding.begin(), binding.end()));
        return signature;
    };
    EXPECT_EQ(fetch(host.endpoint(), signer), Result(Result::Records{records}));

    ASSERT_TRUE(host.waitForReceived(1));
    const auto received = host.received();
    const auto* request = received[0].get<ControlMessage::RequestHistory>();
    ASSERT_TRUE(request && hostBinding && request->hello.proof);
    EXPECT_TRUE(isValidHelloProof(*request->hello.proof, key, *hostBinding));
    EXPECT_EQ(request->hello.awaySignature, signature);
    EXPECT_EQ(signedBinding->values(), std::vector<Bytes>{*hostBinding});
}

// A goodbye is a refusal with its reason; a close before asking is unreachable, after it unanswered.
TEST_F(HistoryClientTest, GoodbyesAndCloses) {
    const auto answer = [](std::function<void(ControlChannel&)> act) {
        return ScriptedHost::answering(
            [act](auto& connection, const ControlMessage&) { act(*connection.channel); });
    };
    const struct {
        Bytes hostKey;
        ScriptedHost::Script script;
        Result expected;
    } cases[] = {
        {key, answer([](auto& c) { c.send(ControlMessage::bye(ByeReason::notPaired)); }),
         Result::Refused{ByeReason::notPaired}},
        {key, answer([](auto& c) { c.cancel(); }), Result::Unanswered{}},
        {Bytes(32, 0x18), {}, Result::Unreachable{}},
    };
    for (const auto& test : cases) {
        ScriptedHost host({*PreSharedKey::forDevice(deviceID, test.hostKey)}, test.script);
        results = std::make_shared<EventLog<Result>>();
        EXPECT_EQ(fetch(host.endpoint()), test.expected);
    }
}

// Over a channel that is already ready the client asks at once; a silent host leaves it
// unanswered at the time-out, and a history arriving later changes nothing.
TEST_F(HistoryClientTest, AsksAtOnceOverAReadyChannelAndTimesOutUnanswered) {
    std::vector<ScriptedHost::Connection*> asked;
    ScriptedHost host({*PreSharedKey::forDevice(deviceID, key)},
                      ScriptedHost::answering([&](ScriptedHost::Connection& connection,
                                                  const ControlMessage&) { asked.push_back(&connection); }));
    const auto manual = std::make_shared<ManualQueue>();
    auto channel = ControlChannel::outgoing(host.endpoint(), *PreSharedKey::forDevice(deviceID, key));
    bool ready = false;
    channel->setOnEvent(
        [&](ControlChannel::Event event) { ready = ready || event.get<ControlChannel::Event::Ready>(); });
    channel->start(manual);
    ASSERT_TRUE(test::pumpUntil(*manual, [&] { return ready; }));

    std::vector<Result> seen;
    HistoryClient::make(channel, deviceID, key, {}, timeout)
        ->start("Ada's iPad", manual, true, [&](Result result) { seen.push_back(result); });
    ASSERT_TRUE(test::pumpUntil(*manual, [&] { return host.received().size() == 1; }));
    manual->advance(timeout - std::chrono::milliseconds(1));
    EXPECT_TRUE(seen.empty());
    manual->advance(std::chrono::milliseconds(1));
    EXPECT_EQ(seen, std::vector<Result>{Result::Unanswered{}});

    host.queue()->post([&] { asked.front()->channel->send(ControlMessage::history(records)); });
    ASSERT_TRUE(host.waitForClosed(1));
    channel.reset();
    EXPECT_TRUE(test::pumpUntilReleased(manual));
    EXPECT_EQ(seen.size(), 1u);
}

TEST_F(HistoryClientTest, ConnectionThatNeverBecomesReadyIsUnreachable) {
    test::RawListener silent; // takes the connection and never says a word
    const auto manual = std::make_shared<ManualQueue>();
    std::vector<Result> seen;
    const auto endpoint = Endpoint::hostPort("127.0.0.1", silent.port());
    HistoryClient::make(endpoint, deviceID, key, {}, std::chrono::seconds(2))
        ->start("Ada's iPad", manual, false, [&](Result result) { seen.push_back(result); });
    manual->runUntilIdle();
    manual->advance(std::chrono::seconds(2));
    EXPECT_EQ(seen, std::vector<Result>{Result::Unreachable{}});
    EXPECT_TRUE(test::pumpUntilReleased(manual));
}

} // namespace
} // namespace velm
