#include "platform/dispatch/ManualQueue.h"
#include "tests/support/EventLog.h"
#include "tests/support/Pump.h"
#include "tests/support/RawTls.h"
#include "tests/support/ScriptedHost.h"
#include "transport/requests/PairingClient.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

using Outcome = PairingClient::Outcome;
using test::EventLog;
using test::ScriptedHost;

constexpr std::string_view code = "123456";
const std::string hostID = "5D3A3C6E-1B2F-4C55-9E0A-0D4C8C1F2A77";

enum class Answer { sealed, sealedForAnotherSession, unopenable, goodbye, hangUp, silence };

// The host's pairing answer: the device key sealed to the request's offer and this session, or a
// way of getting it wrong.
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

// A host that takes the request and never answers: unreachable after the time-out, whatever the
// connection's state, and nothing after that.
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
