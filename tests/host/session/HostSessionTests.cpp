#include "Velm_Host/session/GlimpseFit.h"
#include "platform/crypto/Random.h"
#include "tests/host/session/SessionHarness.h"
#include "transport/requests/FileTransferClient.h"
#include "transport/requests/GlimpseClient.h"
#include "transport/requests/HistoryClient.h"
#include "transport/requests/PairingClient.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

using namespace std::chrono_literals;
using test::SessionHarness;
using test::TemporaryFolder;
using test::TestClient;
using Ending = ConnectionRecord::Ending;
using Message = ControlMessage;

template <typename Case> bool is(const ControlMessage& message) {
    return message.get<Case>() != nullptr;
}

std::optional<ByeReason> byeIn(const std::vector<ControlMessage>& messages) {
    for (const auto& message : messages) {
        if (const auto* bye = message.get<Message::Bye>()) {
            return bye->reason;
        }
    }
    return std::nullopt;
}

template <typename Result> std::optional<Result> waitFor(SessionHarness& host, test::EventLog<Result>& log) {
    if (!host.pumpUntil([&] { return !log.values().empty(); })) {
        return std::nullopt;
    }
    return log.values().front();
}

class HostSessionTest : public ::testing::Test {
protected:
    PreSharedKey deviceKey() const { return *PreSharedKey::forDevice("ipad", key); }

    std::unique_ptr<TestClient> connect(const PreSharedKey& presented) {
        auto client = std::make_unique<TestClient>(host.endpoint(), presented);
        EXPECT_TRUE(host.pumpUntil([&] { return client->isReady(); }));
        return client;
    }

    // A main session of "ipad", admitted once the client has the host's hello.
    std::unique_ptr<TestClient> startMain(bool understandsPolicy = true) {
        auto client = connect(deviceKey());
        auto hello = client->hello("ipad", key);
        hello.understandsPolicy = understandsPolicy ? std::optional(true) : std::nullopt;
        client->send(Message::hello(hello));
        EXPECT_TRUE(host.pumpUntil([&] { return client->hasReceived(is<Message::HelloAck>); }));
        return client;
    }

    SessionHarness host;
    const SecretBytes key = host.pairDevice("ipad");
};

TEST_F(HostSessionTest, PairsThroughTheCodeAndEndsOnceAnswered) {
    host.registry->openPairing("654321", std::nullopt, 5, false);
    host.listen();
    test::EventLog<PairingOutcome> outcomes;
    PairingClient::make(host.endpoint(), "654321")
        ->start("ipad-2", "iPad Two", Queue::make("pairing"),
                [&](PairingOutcome outcome) { outcomes.push(outcome); });
    const auto outcome = waitFor(host, outcomes);
    ASSERT_TRUE(outcome);
    const auto* paired = outcome->get<PairingOutcome::Paired>();
    ASSERT_TRUE(paired);
    EXPECT_EQ(paired->deviceKey, host.registry->device("ipad-2")->key);
    EXPECT_EQ(paired->hostID, "HOST-ID");

    host.queue->advance(HostSession::answeredGrace);
    ASSERT_TRUE(host.pumpUntilEnded(1));
    EXPECT_FALSE(host.ended.values()[0].snapshot);
    EXPECT_FALSE(host.desktop->started);
}

// Every way a hello or pairing request is turned away: the goodbye the client understands, and what the
// history keeps of it.
TEST_F(HostSessionTest, RefusesWithTheAdaptedReasonAndRecordsKeyFailures) {
    const SecretBytes otherKey = host.pairDevice("ipad-b");
    const Bytes awaySessionKey = Random::bytes(32);
    host.registry->setAllowsAwayWithoutDeviceKey(false);
    host.listen({PreSharedKey::forAway(awaySessionKey)});
    using Refusal = ConnectionRecord::Refusal;
    struct Case {
        const char* name;
        PreSharedKey presented;
        std::function<ControlMessage(TestClient&)> message;
        ByeReason reason;
        std::optional<Refusal> refusal;
    };
    const auto helloFor = [this](std::function<void(ClientHello&)> change, ByteView proofKey) {
        return [this, change, proofKey = Bytes(proofKey.begin(), proofKey.end())](TestClient& client) {
            auto hello = client.hello("ipad", proofKey);
            change(hello);
            return Message::hello(hello);
        };
    };
    const auto unchanged = [](ClientHello&) {};
    const std::vector<Case> cases{
        {"another protocol", deviceKey(), helloFor([](ClientHello& h) { h.protocolVersion = 2; }, key),
         ByeReason::protocolMismatch, std::nullopt},
        {"wrong proof", deviceKey(), helloFor(unchanged, Random::bytes(32)), ByeReason::notPaired,
         Refusal::keyDidNotMatch},
        {"no proof", deviceKey(), helloFor([](ClientHello& h) { h.proof.reset(); }, key),
         ByeReason::notPaired, std::nullopt},
        {"unknown device", deviceKey(), helloFor([](ClientHello& h) { h.deviceID = "stranger"; }, key),
         ByeReason::notPaired, std::nullopt},
        {"another device's connection", *PreSharedKey::forDevice("ipad-b", otherKey),
         helloFor(unchanged, key), ByeReason::notPaired, std::nullopt},
        {"pairing on a device's connection", deviceKey(),
         [](TestClient&) {
             return Message::pairRequest({.deviceID = "x", .deviceName = "x", .publicKey = Bytes(32)});
         },
         ByeReason::notPaired, std::nullopt},
        {"away without a device-bound key", PreSharedKey::forAway(awaySessionKey), helloFor(unchanged, key),
         ByeReason::awayKeyRequired, Refusal::deviceBoundKeyMissing},
        {"the same from an older client", PreSharedKey::forAway(awaySessionKey),
         helloFor([](ClientHello& h) { h.understandsPolicy.reset(); }, key), ByeReason::remoteAccessDisabled,
         Refusal::deviceBoundKeyMissing},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.name);
        const auto recordsBefore = host.history->log().records.size();
        auto client = connect(each.presented);
        client->send(each.message(*client));
        ASSERT_TRUE(host.pumpUntil([&] { return byeIn(client->received()).has_value(); }));
        EXPECT_EQ(byeIn(client->received()), each.reason);
        const auto records = host.history->log().records;
        if (each.refusal) {
            ASSERT_EQ(records.size(), recordsBefore + 1);
            EXPECT_EQ(records.front().refusal, each.refusal);
            EXPECT_EQ(records.front().deviceID, "ipad");
        } else {
            EXPECT_EQ(records.size(), recordsBefore);
        }
    }
    EXPECT_TRUE(host.authenticated.values().empty());
}

TEST_F(HostSessionTest, ServesHistoryAndGlimpsesWithoutBecomingASession) {
    host.history->begin(ConnectionRecord::Kind::session, {.deviceID = "ipad", .deviceName = "iPad"});
    host.listen();
    test::EventLog<HistoryResult> histories;
    HistoryClient::make(host.endpoint(), "ipad", key, {}, 8s)
        ->start("iPad", Queue::make("history"), false, [&](HistoryResult result) { histories.push(result); });
    const auto history = waitFor(host, histories);
    ASSERT_TRUE(history);
    EXPECT_EQ(*history, HistoryResult(HistoryResult::Records{host.history->log().records}));

    // The largest picture fills a frame; one that would not fit is no glimpse at all.
    for (const auto& picture :
         {Bytes(GlimpseFit::maxJpegBytes(), 0xD8), Bytes(GlimpseFit::maxJpegBytes() + 1)}) {
        host.desktop->picture = picture;
        test::EventLog<std::optional<Bytes>> glimpses;
        GlimpseClient::make(host.endpoint(), "ipad", key)
            ->start("iPad", Queue::make("glimpse"),
                    [&](std::optional<Bytes> image) { glimpses.push(image); });
        const auto glimpse = waitFor(host, glimpses);
        ASSERT_TRUE(glimpse);
        EXPECT_EQ(*glimpse,
                  picture.size() <= GlimpseFit::maxJpegBytes() ? std::optional(picture) : std::nullopt);
    }
    EXPECT_EQ(host.desktop->glimpseBudget, GlimpseFit::maxJpegBytes());
    EXPECT_TRUE(host.authenticated.values().empty());
    EXPECT_TRUE(host.registry->device("ipad")->lastConnected);
}

TEST_F(HostSessionTest, MovesFilesBothWaysByteExact) {
    host.listen();
    TemporaryFolder device;
    const Bytes contents = Random::bytes(300'000);
    const std::string text(contents.begin(), contents.end());
    TemporaryFolder::writeFile(device / "photo.jpg", text);
    TemporaryFolder::writeFile(host.folder / "offered.txt", text);
    host.desktop->offered[3] = host.folder / "offered.txt";

    test::EventLog<std::variant<std::string, FileTransferError>> uploads;
    const auto uploader = FileTransferClient::make(host.endpoint(), "ipad", "iPad", key);
    uploader->upload(device / "photo.jpg", "photo.jpg", contents.size(), {},
                     [&](auto result) { uploads.push(result); });
    const auto upload = waitFor(host, uploads);
    ASSERT_TRUE(upload);
    EXPECT_EQ(std::get<std::string>(*upload), "photo.jpg");
    EXPECT_EQ(TemporaryFolder::readFile(host.folder / "photo.jpg"), text);

    test::EventLog<std::variant<std::filesystem::path, FileTransferError>> downloads;
    const auto downloader = FileTransferClient::make(host.endpoint(), "ipad", "iPad", key);
    downloader->download(3, device.path(), {}, [&](auto result) { downloads.push(result); });
    const auto download = waitFor(host, downloads);
    ASSERT_TRUE(download);
    EXPECT_EQ(TemporaryFolder::readFile(std::get<std::filesystem::path>(*download)), text);

    host.queue->advance(HostSession::answeredGrace);
    ASSERT_TRUE(host.pumpUntilEnded(2));
    const auto records = host.history->log().records;
    ASSERT_EQ(records.size(), 2u);
    for (const auto& record : records) {
        EXPECT_EQ(record.kind, ConnectionRecord::Kind::file);
        EXPECT_EQ(record.ending, Ending::disconnected);
    }
}

TEST_F(HostSessionTest, EndsWithoutAGoodbyeWhenNoHelloComesInTime) {
    host.listen();
    auto client = connect(deviceKey());
    host.queue->advance(HostSession::helloTimeout - 1ms);
    EXPECT_TRUE(host.ended.values().empty());
    host.queue->advance(1ms + HostSession::cancelDelay);
    ASSERT_TRUE(host.pumpUntil([&] { return client->isClosed(); }));
    EXPECT_EQ(host.ended.values().size(), 1u);
    EXPECT_FALSE(byeIn(client->received()));
}

TEST_F(HostSessionTest, AdmitsAMainSessionAndServesIt) {
    host.configure = [](HostSession::Context& context) {
        context.forwardVideoPort = [](std::uint16_t, auto completion) { completion(40'000); };
    };
    host.listen();
    host.desktop->installed.resize(50, AppInfo{.bundleID = "app", .name = "App", .iconPNG = std::nullopt});
    auto client = startMain();
    const auto received = client->received();
    const auto hello = std::find_if(received.begin(), received.end(), is<Message::HelloAck>)
                           ->get<Message::HelloAck>()
                           ->hello;
    EXPECT_EQ(
        std::tuple(hello.hostName, hello.displays, hello.videoPort, hello.findsTapTargets, hello.curtain),
        std::tuple("Test host", host.desktop->screens, 40'000, true,
                   CurtainState{.available = true, .on = false}));
    EXPECT_EQ(std::pair(hello.videoKey.size(), hello.sessionToken.size()), std::pair(32ul, 16ul));
    EXPECT_TRUE(hello.awayAccessUntil && !hello.idleTimeout);
    EXPECT_EQ(host.authenticated.values().at(0).deviceID, "ipad");
    EXPECT_EQ(host.history->log().records.front().kind, ConnectionRecord::Kind::session);

    // Input before a stream has no screen to land on.
    client->send(InputEvent::keyDown(4));
    client->send(Message::configureStream(StreamRequest{}));
    client->send(InputEvent::keyDown(5));
    client->send(Message::listInstalledApps());
    client->send(Message::setCurtain(true));
    client->send(Message::ping(9, 1234));
    ASSERT_TRUE(host.pumpUntil([&] { return client->hasReceived(is<Message::Pong>); }));
    EXPECT_EQ(host.input->events, std::vector{InputEvent::keyDown(5)});
    EXPECT_EQ(host.input->screen, host.desktop->area);
    std::vector<ControlMessage> answers;
    for (const auto& message : client->received()) {
        if (!is<Message::InstalledApps>(message)) {
            answers.push_back(message);
        } else if (const auto& page = message.get<Message::InstalledApps>()->page; page.index < 2) {
            EXPECT_EQ(std::pair(page.apps.size(), page.isLast), std::pair(24ul, false));
        } else {
            EXPECT_EQ(std::tuple(page.index, page.apps.size(), page.isLast), std::tuple(2, 2ul, true));
        }
    }
    ASSERT_EQ(answers.size(), 5u);
    EXPECT_EQ(
        std::vector(answers.begin() + 1, answers.end() - 1),
        (std::vector{Message::streamStarted(*host.desktop->description), Message::pointerPosition(0.25, 0.75),
                     Message::curtain({.available = true, .on = true})}));
    const auto* pong = answers.back().get<Message::Pong>();
    EXPECT_EQ(std::pair(pong->id, pong->clientTime), std::pair(9u, std::uint64_t{1234}));
}

// How each end reaches the client, the history, the curtain and the input.
struct EndingRow {
    const char* name;
    std::function<void(HostSession&, TestClient&, SessionHarness&)> cause;
    bool understandsPolicy;
    std::optional<ByeReason> goodbye;
    Ending ending;
};

class SessionEndingTest : public HostSessionTest, public ::testing::WithParamInterface<EndingRow> {};

TEST_P(SessionEndingTest, EndsOnceAsTheTableSays) {
    const auto& row = GetParam();
    host.registry->setDevicePolicy("ipad", 90s, false);
    host.listen();
    auto client = startMain(row.understandsPolicy);
    row.cause(*host.session(0), *client, host);
    ASSERT_TRUE(host.pumpUntilEnded(1));
    const auto end = host.ended.values()[0];
    EXPECT_EQ(end.ending, row.ending);
    ASSERT_TRUE(end.snapshot);
    EXPECT_EQ(end.snapshot->deviceID, "ipad");
    EXPECT_EQ(host.history->log().records.front().ending, row.ending);
    EXPECT_EQ(host.curtain->endings, std::vector{row.ending != Ending::connectionLost});
    EXPECT_EQ(host.input->releases, 1);
    EXPECT_TRUE(host.desktop->stopped);

    // Nothing after the end reaches the input, and the channel closes.
    client->send(InputEvent::keyDown(6));
    host.queue->advance(HostSession::cancelDelay);
    ASSERT_TRUE(host.pumpUntil([&] { return client->isClosed(); }));
    EXPECT_TRUE(host.input->events.empty());
    EXPECT_EQ(byeIn(client->received()), row.goodbye);
    // Only a client that understands the policy messages is warned before an idle end.
    EXPECT_EQ(client->hasReceived(is<Message::IdleWarning>),
              row.ending == Ending::idleTimeout && row.understandsPolicy);
    host.session(0)->close(ByeReason::hostQuit);
    host.queue->runUntilIdle();
    EXPECT_EQ(host.ended.values().size(), 1u);
}

void closeWith(ByeReason reason, HostSession& session, TestClient&, SessionHarness&) {
    session.close(reason);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SessionEndingTest,
    ::testing::Values(
        EndingRow{"clientBye",
                  [](auto&, TestClient& c, auto&) { c.send(Message::bye(ByeReason::userDisconnected)); },
                  true, std::nullopt, Ending::disconnected},
        EndingRow{"replaced", std::bind_front(closeWith, ByeReason::replacedByNewSession), true,
                  ByeReason::replacedByNewSession, Ending::replaced},
        EndingRow{"hostQuit", std::bind_front(closeWith, ByeReason::hostQuit), true, ByeReason::hostQuit,
                  Ending::hostQuit},
        EndingRow{"poweringOff", std::bind_front(closeWith, ByeReason::poweringOff), true,
                  ByeReason::poweringOff, Ending::hostQuit},
        EndingRow{"remoteAccessDisabled", std::bind_front(closeWith, ByeReason::remoteAccessDisabled), true,
                  ByeReason::remoteAccessDisabled, Ending::endedHere},
        EndingRow{"idle", [](auto&, auto&, SessionHarness& h) { h.queue->advance(91s); }, true,
                  ByeReason::idleTimeout, Ending::idleTimeout},
        EndingRow{"idleOlderClient", [](auto&, auto&, SessionHarness& h) { h.queue->advance(91s); }, false,
                  ByeReason::remoteAccessDisabled, Ending::idleTimeout},
        EndingRow{"secondHello",
                  [](auto&, TestClient& c, auto&) { c.send(Message::hello(c.hello("ipad", {}))); }, true,
                  ByeReason::notPaired, Ending::endedHere},
        EndingRow{"lost", [](auto&, TestClient& c, auto&) { c.drop(); }, true, std::nullopt,
                  Ending::connectionLost}),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
} // namespace velm
