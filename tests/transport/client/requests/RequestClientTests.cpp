#include "platform/dispatch/ManualQueue.h"
#include "tests/support/EventLog.h"
#include "tests/support/Pump.h"
#include "tests/support/RawTls.h"
#include "tests/support/ScriptedHost.h"
#include "transport/client/requests/GlimpseClient.h"
#include "transport/client/requests/HistoryClient.h"
#include "transport/client/requests/PairingClient.h"
#include "transport/keys/AwaySignature.h"
#include "transport/keys/HelloProof.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

using Outcome = PairingClient::Outcome;
using Result = HistoryClient::Result;
using test::EventLog;
using test::ScriptedHost;

const std::string historyDeviceID = "device-history";
const Bytes historyKey(32, 0x17);
const PreSharedKey psk = *PreSharedKey::forDevice(historyDeviceID, historyKey);
constexpr auto timeout = std::chrono::seconds(5);

ConnectionRecord record() {
    ConnectionRecord record;
    record.id = Uuid::random();
    record.kind = ConnectionRecord::Kind::file;
    record.deviceID = historyDeviceID;
    record.deviceName = "Ada's iPad";
    record.started = Date(800'000'000);
    return record;
}

class HistoryClientTest : public ::testing::Test {
protected:
    Result fetch(const Endpoint& endpoint, AwaySigner signer = {}) {
        HistoryClient::make(endpoint, historyDeviceID, historyKey, std::move(signer), timeout)
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
        {psk}, ScriptedHost::answering([&](ScriptedHost::Connection& connection, const ControlMessage&) {
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
    EXPECT_TRUE(isValidHelloProof(*request->hello.proof, historyKey, *hostBinding));
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
        {historyKey, answer([](auto& c) { c.send(ControlMessage::bye(ByeReason::notPaired)); }),
         Result::Refused{ByeReason::notPaired}},
        {historyKey, answer([](auto& c) { c.cancel(); }), Result::Unanswered{}},
        {Bytes(32, 0x18), {}, Result::Unreachable{}},
    };
    for (const auto& test : cases) {
        ScriptedHost host({*PreSharedKey::forDevice(historyDeviceID, test.hostKey)}, test.script);
        results = std::make_shared<EventLog<Result>>();
        EXPECT_EQ(fetch(host.endpoint()), test.expected);
    }
}

// Over a ready channel the client asks at once; silence is unanswered at the time-out, for good.
TEST_F(HistoryClientTest, AsksAtOnceOverAReadyChannelAndTimesOutUnanswered) {
    std::vector<ScriptedHost::Connection*> asked;
    ScriptedHost host({psk},
                      ScriptedHost::answering([&](ScriptedHost::Connection& connection,
                                                  const ControlMessage&) { asked.push_back(&connection); }));
    const auto manual = std::make_shared<ManualQueue>();
    auto channel = ControlChannel::outgoing(host.endpoint(), psk);
    bool ready = false;
    channel->setOnEvent(
        [&](ControlChannel::Event event) { ready = ready || event.get<ControlChannel::Event::Ready>(); });
    channel->start(manual);
    ASSERT_TRUE(test::pumpUntil(*manual, [&] { return ready; }));

    std::vector<Result> seen;
    HistoryClient::make(channel, historyDeviceID, historyKey, {}, timeout)
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
    HistoryClient::make(endpoint, historyDeviceID, historyKey, {}, std::chrono::seconds(2))
        ->start("Ada's iPad", manual, false, [&](Result result) { seen.push_back(result); });
    manual->runUntilIdle();
    manual->advance(std::chrono::seconds(2));
    EXPECT_EQ(seen, std::vector<Result>{Result::Unreachable{}});
    EXPECT_TRUE(test::pumpUntilReleased(manual));
}

std::optional<Bytes> glimpse(const Endpoint& endpoint) {
    auto images = std::make_shared<EventLog<std::optional<Bytes>>>();
    GlimpseClient::make(endpoint, historyDeviceID, historyKey)
        ->start("Ada's iPad", Queue::make("glimpse client"),
                [images](std::optional<Bytes> image) { images->push(std::move(image)); });
    EXPECT_TRUE(images->waitForCount(1));
    return images->values().empty() ? std::nullopt : images->values().front();
}

ScriptedHost::Script answeringWith(ControlMessage answer) {
    return ScriptedHost::answering(
        [answer](ScriptedHost::Connection& connection, const ControlMessage& message) {
            const auto* request = message.get<ControlMessage::RequestGlimpse>();
            const auto binding = connection.channel->sessionBinding();
            // Only a request that proves the device on this session is answered.
            if (request && request->hello.proof && binding &&
                isValidHelloProof(*request->hello.proof, historyKey, *binding)) {
                connection.channel->send(answer);
            }
        });
}

TEST(GlimpseClientTest, ReturnsTheImageAsSent) {
    const Bytes jpeg{0xff, 0xd8, 0xff, 0xe0, 0x00};
    ScriptedHost host({psk}, answeringWith(ControlMessage::glimpse(jpeg)));
    EXPECT_EQ(glimpse(host.endpoint()), jpeg);
    EXPECT_TRUE(host.waitForClosed(1));
}

TEST(GlimpseClientTest, EveryFailureIsNoImage) {
    for (const auto& answer :
         {ControlMessage::glimpse(std::nullopt), ControlMessage::bye(ByeReason::notPaired)}) {
        ScriptedHost host({psk}, answeringWith(answer));
        EXPECT_EQ(glimpse(host.endpoint()), std::nullopt) << answer.caseName();
    }
    ScriptedHost otherKey({*PreSharedKey::forDevice(historyDeviceID, Bytes(32, 0x30))}, {});
    EXPECT_EQ(glimpse(otherKey.endpoint()), std::nullopt);
}

TEST(GlimpseClientTest, ConnectionThatNeverBecomesReadyEndsAtTheTimeOut) {
    test::RawListener silent; // takes the connection and never says a word
    const auto manual = std::make_shared<ManualQueue>();
    std::vector<std::optional<Bytes>> images;
    GlimpseClient::make(Endpoint::hostPort("127.0.0.1", silent.port()), historyDeviceID, historyKey)
        ->start("Ada's iPad", manual,
                [&](std::optional<Bytes> image) { images.push_back(std::move(image)); });
    manual->runUntilIdle();
    manual->advance(GlimpseClient::timeout - std::chrono::milliseconds(1));
    EXPECT_TRUE(images.empty());
    manual->advance(std::chrono::milliseconds(1));
    EXPECT_EQ(images, std::vector<std::optional<Bytes>>{std::nullopt});
    EXPECT_TRUE(test::pumpUntilReleased(manual));
}

constexpr std::string_view code = "123456";
const std::string hostID = "5D3A3C6E-1B2F-4C55-9E0A-0D4C8C1F2A77";

enum class Answer { sealed, sealedForAnotherSession, unopenable, goodbye, hangUp, silence };

// The host's pairing answer: the device key sealed to the offer and this session, or a wrong one.
ScriptedHost::Script pairingHost(const SecretBytes& deviceKey, Answer answer) {
    return ScriptedHost::answering([deviceKey, answer](auto& connection, const ControlMessage& message) {
        const auto* request = message.get<ControlMessage::PairRequest>();
        ControlChannel& channel = *connection.channel;
        if (answer == Answer::goodbye) {
            channel.send(ControlMessage::bye(ByeReason::notPaired));
        } else if (answer == Answer::hangUp) {
            channel.cancel();
        } else if (request && answer != Answer::silence) {
            auto binding = *channel.sessionBinding();
            binding[0] ^= answer == Answer::sealedForAnotherSession ? 1 : 0;
            auto sealed = std::get<Pairing::SealedKey>(
                Pairing::sealKey(deviceKey, request->request.publicKey, binding));
            sealed.sealedKey.resize(answer == Answer::unopenable ? 27 : sealed.sealedKey.size());
            channel.send(
                ControlMessage::pairResponse(PairResponse{hostID, sealed.publicKey, sealed.sealedKey}));
        }
    });
}

class PairingClientTest : public ::testing::Test {
protected:
    Outcome pair(const Endpoint& endpoint, std::string_view typedCode = code) {
        auto client = PairingClient::make(endpoint, typedCode);
        client->start("device-7", "Ada's iPad", queue,
                      [outcomes = outcomes](Outcome outcome) { outcomes->push(std::move(outcome)); });
        client.reset(); // the client keeps itself alive until it has answered
        EXPECT_TRUE(outcomes->waitForCount(1));
        return outcomes->values().empty() ? Outcome(Outcome::Failed{}) : outcomes->values().front();
    }

    SecretBytes deviceKey = Pairing::newKey();
    std::shared_ptr<Queue> queue = Queue::make("pairing client");
    std::shared_ptr<EventLog<Outcome>> outcomes = std::make_shared<EventLog<Outcome>>();
};

TEST_F(PairingClientTest, PairsWithTheSealedDeviceKey) {
    ScriptedHost host({PreSharedKey::fromSecret(code)}, pairingHost(deviceKey, Answer::sealed));
    EXPECT_EQ(pair(host.endpoint()), Outcome(Outcome::Paired{deviceKey, hostID}));

    // The pairing request is the client's one and only message; the client then hangs up.
    ASSERT_TRUE(host.waitForClosed(1));
    const auto received = host.received();
    EXPECT_TRUE(received.size() == 1 && received[0].get<ControlMessage::PairRequest>());
    Blocking::drain(*queue);
    EXPECT_EQ(outcomes->values().size(), 1u);
}

// A wrong code or a goodbye is a rejected code; an answer that cannot be opened here is a failure.
TEST_F(PairingClientTest, RejectedAndUnopenableAnswers) {
    const struct {
        Answer answer;
        std::string_view typed;
        Outcome expected;
    } cases[] = {
        {Answer::goodbye, "654321", Outcome::CodeRejected{}},
        {Answer::goodbye, code, Outcome::CodeRejected{}},
        {Answer::sealedForAnotherSession, code, Outcome::Failed{}},
        {Answer::unopenable, code, Outcome::Failed{}},
        {Answer::hangUp, code, Outcome::Failed{}},
    };
    for (const auto& test : cases) {
        ScriptedHost host({PreSharedKey::fromSecret(code)}, pairingHost(deviceKey, test.answer));
        outcomes = std::make_shared<EventLog<Outcome>>();
        EXPECT_EQ(pair(host.endpoint(), test.typed), test.expected) << static_cast<int>(test.answer);
    }
}

TEST_F(PairingClientTest, NobodyListeningIsUnreachable) {
    const auto closedPort = test::RawListener().port();
    EXPECT_EQ(pair(Endpoint::hostPort("127.0.0.1", closedPort)), Outcome(Outcome::Unreachable{}));
}

// A host that never answers: unreachable at the time-out, whatever the connection's state, then nothing.
TEST_F(PairingClientTest, SilentHostTimesOut) {
    ScriptedHost host({PreSharedKey::fromSecret(code)}, pairingHost(deviceKey, Answer::silence));
    const auto manual = std::make_shared<ManualQueue>();
    std::vector<Outcome> seen;
    PairingClient::make(host.endpoint(), code)->start("device-7", "Ada's iPad", manual, [&](Outcome outcome) {
        seen.push_back(std::move(outcome));
    });
    ASSERT_TRUE(test::pumpUntil(*manual, [&] { return !host.received().empty(); }));
    manual->advance(PairingClient::timeout - std::chrono::milliseconds(1));
    EXPECT_TRUE(seen.empty());
    manual->advance(std::chrono::milliseconds(1));
    EXPECT_EQ(seen, std::vector<Outcome>{Outcome::Unreachable{}});
    EXPECT_TRUE(host.waitForClosed(1));
    EXPECT_TRUE(test::pumpUntilReleased(manual));
    EXPECT_EQ(seen.size(), 1u);
}

} // namespace
} // namespace velm
