#include "platform/net/TlsConnection.h"
#include "platform/net/TlsParameters.h"
#include "tests/support/ConnectionProbe.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/RawTls.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velm {
namespace {

using test::ConnectionProbe;
using test::LoopbackServer;
using test::RawListener;
using test::RawTlsPeer;
using State = TlsConnection::State;
using namespace std::chrono_literals;

constexpr std::string_view bindingLabel = "velm-session-binding-v1";

Bytes keyOf(std::uint8_t seed) { return Bytes(32, seed); }

// A raw peer that completes the handshake, then never reads until it is destroyed.
struct NonReadingPeer {
    RawListener listener;
    std::atomic<bool> done = false;
    std::thread serving{[this] {
        auto peer = RawTlsPeer::accept(listener.accept(), {"device", keyOf(5)});
        while (!done) {
            std::this_thread::sleep_for(10ms);
        }
    }};

    ~NonReadingPeer() {
        done = true;
        serving.join();
    }
    Endpoint endpoint() const { return Endpoint::hostPort("127.0.0.1", listener.port()); }
};

TlsParameters parametersFor(const std::string& identity, std::uint8_t seed)
{
    return TlsParameters({TlsKey{identity, SecretBytes(keyOf(seed))}});
}

Bytes pattern(std::size_t size)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    }
    return bytes;
}

std::unique_ptr<ConnectionProbe> connectTo(const Endpoint& endpoint, const TlsParameters& parameters,
                                           TlsConnection::Duration timeout = TlsConnection::defaultConnectTimeout)
{
    auto probe = std::make_unique<ConnectionProbe>(TlsConnection::connect(endpoint, parameters, timeout));
    probe->start();
    return probe;
}

// Waits until every update the connection's strand had made is delivered: a send after
// the end is answered through the same path.
void settle(ConnectionProbe& probe)
{
    test::EventLog<int> answered;
    probe.connection().send({}, [&](const std::optional<NetError>&) { answered.push(1); });
    ASSERT_TRUE(answered.waitForCount(1));
}

TEST(TlsConnectionTests, BothEndsShareTheSessionFacts)
{
    LoopbackServer server(TlsParameters({TlsKey{"first", SecretBytes(keyOf(1))},
                                         TlsKey{"second", SecretBytes(keyOf(2))},
                                         TlsKey{"third", SecretBytes(keyOf(3))}}));
    ASSERT_TRUE(server.isReady());
    auto client = connectTo(server.endpoint(), parametersFor("second", 2));
    ASSERT_TRUE(client->waitFor(State::ready));
    ASSERT_TRUE(server.waitForAccepted(1));
    auto accepted = server.accepted(0);
    ASSERT_TRUE(accepted->waitFor(State::ready));

    const auto clientBinding = client->connection().exportKeyingMaterial(bindingLabel, 32);
    ASSERT_TRUE(clientBinding.has_value());
    EXPECT_EQ(clientBinding->size(), 32u);
    EXPECT_EQ(clientBinding, accepted->connection().exportKeyingMaterial(bindingLabel, 32));
    EXPECT_NE(clientBinding, client->connection().exportKeyingMaterial("another-label", 32));

    EXPECT_EQ(client->connection().cipherSuite(), TlsParameters::suiteEcdhePskChacha20);
    EXPECT_EQ(accepted->connection().cipherSuite(), TlsParameters::suiteEcdhePskChacha20);
    EXPECT_EQ(client->connection().pskIdentity(), "second");
    EXPECT_EQ(accepted->connection().pskIdentity(), "second");
    EXPECT_EQ(client->connection().remoteHost(), "127.0.0.1");
    EXPECT_EQ(accepted->connection().remoteHost(), "127.0.0.1");
    EXPECT_EQ(client->connection().interfaceNames(), std::vector<std::string>{"lo"});
    EXPECT_EQ(accepted->connection().interfaceNames(), std::vector<std::string>{"lo"});
    EXPECT_EQ(client->states(), (std::vector<State>{State::preparing, State::ready}));

    // A second session exports another binding.
    auto other = connectTo(server.endpoint(), parametersFor("first", 1));
    ASSERT_TRUE(other->waitFor(State::ready));
    EXPECT_NE(other->connection().exportKeyingMaterial(bindingLabel, 32), clientBinding);
}

bool hasIpv6Loopback()
{
    const int fd = socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    const bool bound = fd >= 0 && bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0) {
        close(fd);
    }
    return bound;
}

TEST(TlsConnectionTests, TheListenerServesIpv6Too)
{
    if (!hasIpv6Loopback()) {
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    LoopbackServer server(parametersFor("device", 5));
    ASSERT_TRUE(server.isReady());
    auto client = connectTo(Endpoint::hostPort("::1", server.port()), parametersFor("device", 5));
    ASSERT_TRUE(client->waitFor(State::ready));
    ASSERT_TRUE(server.waitForAccepted(1));
    EXPECT_EQ(server.accepted(0)->connection().remoteHost(), "::1");
    EXPECT_EQ(client->connection().interfaceNames(), std::vector<std::string>{"lo"});
}

TEST(TlsConnectionTests, QueriesAreEmptyBeforeTheHandshake)
{
    auto connection = TlsConnection::connect(Endpoint::hostPort("127.0.0.1", 9), parametersFor("a", 1));
    EXPECT_EQ(connection->state(), State::setup);
    EXPECT_FALSE(connection->exportKeyingMaterial(bindingLabel, 32));
    EXPECT_FALSE(connection->cipherSuite());
    EXPECT_FALSE(connection->pskIdentity());
    EXPECT_FALSE(connection->remoteHost());
    EXPECT_TRUE(connection->interfaceNames().empty());
}

class SuiteTests : public ::testing::TestWithParam<std::pair<std::uint16_t, const char*>> {};

TEST_P(SuiteTests, EachOfferedSuiteNegotiatesWhenThePeerOffersOnlyIt)
{
    const auto [suite, name] = GetParam();
    const RawTlsPeer::Options options{"device", keyOf(5), name};

    // A peer that offers only this suite connects to our listener...
    LoopbackServer server(parametersFor("device", 5));
    ASSERT_TRUE(server.isReady());
    auto rawClient = RawTlsPeer::connect(server.port(), options);
    ASSERT_TRUE(rawClient && rawClient->handshakeSucceeded());
    ASSERT_TRUE(server.waitForAccepted(1));
    auto accepted = server.accepted(0);
    ASSERT_TRUE(accepted->waitFor(State::ready));
    EXPECT_EQ(accepted->connection().cipherSuite(), suite);
    EXPECT_EQ(accepted->connection().exportKeyingMaterial(bindingLabel, 32), rawClient->binding());

    // ...and accepts our outgoing connection.
    RawListener rawListener;
    std::unique_ptr<RawTlsPeer> rawServer;
    std::thread serving([&] { rawServer = RawTlsPeer::accept(rawListener.accept(), options); });
    auto client = connectTo(Endpoint::hostPort("127.0.0.1", rawListener.port()), parametersFor("device", 5));
    ASSERT_TRUE(client->waitFor(State::ready));
    serving.join();
    ASSERT_TRUE(rawServer->handshakeSucceeded());
    EXPECT_EQ(client->connection().cipherSuite(), suite);
    EXPECT_EQ(client->connection().exportKeyingMaterial(bindingLabel, 32), rawServer->binding());
}

INSTANTIATE_TEST_SUITE_P(Suites, SuiteTests,
                         ::testing::Values(std::pair{TlsParameters::suiteEcdhePskChacha20,
                                                     "ECDHE-PSK-CHACHA20-POLY1305"},
                                           std::pair{TlsParameters::suitePskAes256Gcm, "PSK-AES256-GCM-SHA384"},
                                           std::pair{TlsParameters::suitePskAes128Gcm, "PSK-AES128-GCM-SHA256"}));

TEST(TlsConnectionTests, OnlyTls12IsEverNegotiated)
{
    LoopbackServer server(parametersFor("device", 5));
    ASSERT_TRUE(server.isReady());

    RawTlsPeer::Options either{"device", keyOf(5)};
    either.maxVersion = 0x0304;
    auto flexible = RawTlsPeer::connect(server.port(), either);
    ASSERT_TRUE(flexible && flexible->handshakeSucceeded());
    EXPECT_EQ(flexible->version(), 0x0303);

    RawTlsPeer::Options newer = either;
    newer.minVersion = 0x0304;
    auto strict = RawTlsPeer::connect(server.port(), newer);
    ASSERT_TRUE(strict);
    EXPECT_FALSE(strict->handshakeSucceeded());
    ASSERT_TRUE(server.waitForAccepted(2));
    ASSERT_TRUE(server.accepted(1)->waitForEnd());
    EXPECT_TRUE(server.accepted(1)->failure()->isTls());
}

TEST(TlsConnectionTests, AWrongKeyOrAnUnknownIdentityFailsAsTlsOnBothEnds)
{
    LoopbackServer server(parametersFor("device", 5));
    ASSERT_TRUE(server.isReady());
    auto wrongKey = connectTo(server.endpoint(), parametersFor("device", 6));
    auto stranger = connectTo(server.endpoint(), parametersFor("stranger", 5));

    for (auto* client : {wrongKey.get(), stranger.get()}) {
        ASSERT_TRUE(client->waitForEnd());
        ASSERT_TRUE(client->failure());
        EXPECT_TRUE(client->failure()->isTls()) << client->failure()->description;
        EXPECT_EQ(client->states(), (std::vector<State>{State::preparing, State::failed}));
        EXPECT_FALSE(client->connection().exportKeyingMaterial(bindingLabel, 32));
    }
    ASSERT_TRUE(server.waitForAccepted(2));
    for (std::size_t i = 0; i < 2; ++i) {
        ASSERT_TRUE(server.accepted(i)->waitForEnd());
        EXPECT_TRUE(server.accepted(i)->failure()->isTls());
        const auto states = server.accepted(i)->states();
        EXPECT_EQ(std::count(states.begin(), states.end(), State::ready), 0);
    }
}

TEST(TlsConnectionTests, AnEmptyKeyListAdmitsNobody)
{
    const TlsParameters nobody({});
    ASSERT_EQ(nobody.keys().size(), 1u);
    EXPECT_EQ(nobody.keys()[0].identity, "velm-nobody");
    EXPECT_EQ(nobody.keys()[0].secret.size(), 32u);

    LoopbackServer server(nobody);
    ASSERT_TRUE(server.isReady());
    auto client = connectTo(server.endpoint(), parametersFor("velm-nobody", 0));
    ASSERT_TRUE(client->waitForEnd());
    EXPECT_TRUE(client->failure()->isTls());
}

TEST(TlsConnectionTests, APortWhereNothingListensIsRefused)
{
    std::uint16_t port = 0;
    {
        RawListener vacated;
        port = vacated.port();
    }
    // The long time-out shows that the refusal does not wait for it.
    auto client = connectTo(Endpoint::hostPort("127.0.0.1", port), parametersFor("a", 1), 600s);
    ASSERT_TRUE(client->waitForEnd());
    EXPECT_EQ(client->failure()->kind, NetError::Kind::refused);
}

TEST(TlsConnectionTests, AnUnknownHostIsUnreachable)
{
    auto client = connectTo(Endpoint::hostPort("no-such-host.invalid", 1), parametersFor("a", 1), 600s);
    ASSERT_TRUE(client->waitForEnd());
    EXPECT_EQ(client->failure()->kind, NetError::Kind::unreachable);
}

TEST(TlsConnectionTests, APeerThatNeverHandshakesTimesOut)
{
    RawListener silent;
    auto client = connectTo(Endpoint::hostPort("127.0.0.1", silent.port()), parametersFor("a", 1), 200ms);
    auto held = silent.accept();
    ASSERT_TRUE(client->waitForEnd());
    EXPECT_EQ(client->failure()->kind, NetError::Kind::timedOut);
    EXPECT_EQ(client->states(), (std::vector<State>{State::preparing, State::failed}));
}

TEST(TlsConnectionTests, SendsBeforeReadyArriveInOrder)
{
    LoopbackServer server(parametersFor("device", 5));
    ASSERT_TRUE(server.isReady());
    auto client = std::make_unique<ConnectionProbe>(
        TlsConnection::connect(server.endpoint(), parametersFor("device", 5)));
    test::EventLog<bool> sent;
    client->connection().send(toBytes("early "), [&](const auto& error) { sent.push(!error); });
    client->start();
    client->connection().send(toBytes("and on time"), [&](const auto& error) { sent.push(!error); });
    ASSERT_TRUE(server.waitForAccepted(1));
    ASSERT_TRUE(server.accepted(0)->waitForBytes(17));
    EXPECT_EQ(toString(server.accepted(0)->received()), "early and on time");
    ASSERT_TRUE(sent.waitForCount(2));
    EXPECT_EQ(sent.values(), (std::vector<bool>{true, true}));
}

TEST(TlsConnectionTests, ReceiveWaitsForItsMinimum)
{
    RawListener rawListener;
    std::atomic<bool> done = false;
    std::thread serving([&] {
        auto peer = RawTlsPeer::accept(rawListener.accept(), {"device", keyOf(5)});
        peer->write(toBytes("abc"));
        while (!done) {
            std::this_thread::yield();
        }
        peer->write(toBytes("defghij"));
        peer->readToEnd();
    });
    auto client = connectTo(Endpoint::hostPort("127.0.0.1", rawListener.port()), parametersFor("device", 5));
    test::EventLog<Bytes> chunks;
    client->connection().receive(10, 100, [&](Bytes data, bool, const auto&) { chunks.push(std::move(data)); });
    ASSERT_TRUE(client->waitFor(State::ready));
    done = true;
    ASSERT_TRUE(chunks.waitForCount(1));
    EXPECT_EQ(toString(chunks.values()[0]), "abcdefghij");
    client->connection().cancel();
    serving.join();
}

TEST(TlsConnectionTests, ThePeersLastBytesComeBeforeTheEndOfTheStream)
{
    RawListener rawListener;
    std::thread serving([&] {
        auto peer = RawTlsPeer::accept(rawListener.accept(), {"device", keyOf(5)});
        peer->write(toBytes("last frame"));
        peer->closeNotify();
    });
    auto client = connectTo(Endpoint::hostPort("127.0.0.1", rawListener.port()), parametersFor("device", 5));
    client->readContinuously();
    ASSERT_TRUE(client->waitForStreamEnd());
    serving.join();
    EXPECT_EQ(toString(client->received()), "last frame");
    EXPECT_TRUE(client->sawCompletion());
    EXPECT_FALSE(client->receiveError());
}

TEST(TlsConnectionTests, APeerThatStopsReadingHitsTheBacklogCap)
{
    NonReadingPeer peer;
    auto client = connectTo(peer.endpoint(), parametersFor("device", 5));
    ASSERT_TRUE(client->waitFor(State::ready));
    constexpr int chunkCount = 64; // 64 MiB: more than the cap plus any socket buffers
    test::EventLog<std::optional<NetError>> completions;
    for (int i = 0; i < chunkCount; ++i) {
        client->connection().send(Bytes(1 << 20, 0x5a), [&](const auto& error) { completions.push(error); });
    }
    ASSERT_TRUE(client->waitForEnd());
    EXPECT_EQ(client->failure()->kind, NetError::Kind::backlogFull);
    ASSERT_TRUE(completions.waitForCount(chunkCount));
    const auto results = completions.values();
    EXPECT_EQ(results.back()->kind, NetError::Kind::backlogFull);
}

TEST(TlsConnectionTests, GracefulCancelDeliversWhatWasSentBeforeIt)
{
    LoopbackServer server(parametersFor("device", 5));
    ASSERT_TRUE(server.isReady());
    auto client = connectTo(server.endpoint(), parametersFor("device", 5));
    ASSERT_TRUE(client->waitFor(State::ready));
    const Bytes bulk = pattern(3 << 20);
    client->connection().send(bulk);
    client->connection().send(toBytes("goodbye"));
    client->connection().cancel();

    ASSERT_TRUE(server.waitForAccepted(1));
    auto accepted = server.accepted(0);
    ASSERT_TRUE(accepted->waitForStreamEnd());
    Bytes expected = bulk;
    const Bytes goodbye = toBytes("goodbye");
    expected.insert(expected.end(), goodbye.begin(), goodbye.end());
    EXPECT_EQ(accepted->received(), expected);
    EXPECT_TRUE(accepted->sawCompletion());

    accepted->connection().cancel();
    ASSERT_TRUE(client->waitForEnd());
    settle(*client);
    EXPECT_EQ(client->states(), (std::vector<State>{State::preparing, State::ready, State::cancelled}));
}

TEST(TlsConnectionTests, GracefulCancelGivesUpOnAPeerThatNeverReads)
{
    NonReadingPeer peer;
    auto client = connectTo(peer.endpoint(), parametersFor("device", 5));
    ASSERT_TRUE(client->waitFor(State::ready));
    // Less than the backlog cap; whatever the socket buffers do not take stays queued.
    constexpr int chunkCount = 7;
    test::EventLog<std::optional<NetError>> completions;
    for (int i = 0; i < chunkCount; ++i) {
        client->connection().send(Bytes(1 << 20, 0x5a), [&](const auto& error) { completions.push(error); });
    }
    client->connection().cancel();
    ASSERT_TRUE(client->waitForEnd());
    EXPECT_EQ(client->states().back(), State::cancelled);
    ASSERT_TRUE(completions.waitForCount(chunkCount));
    for (const auto& error : completions.values()) {
        EXPECT_TRUE(!error || error->kind == NetError::Kind::cancelled);
    }
}

TEST(TlsConnectionTests, ForceCancelDropsQueuedData)
{
    RawListener rawListener;
    std::thread serving([&] {
        auto peer = RawTlsPeer::accept(rawListener.accept(), {"device", keyOf(5)});
        peer->readToEnd();
    });
    auto client = connectTo(Endpoint::hostPort("127.0.0.1", rawListener.port()), parametersFor("device", 5));
    test::EventLog<std::optional<NetError>> pending;
    client->connection().receive(1, 10, [&](Bytes, bool, const auto& error) { pending.push(error); });
    ASSERT_TRUE(client->waitFor(State::ready));
    client->connection().forceCancel();
    ASSERT_TRUE(client->waitForEnd());
    ASSERT_TRUE(pending.waitForCount(1));
    EXPECT_EQ(pending.values()[0]->kind, NetError::Kind::cancelled);
    EXPECT_EQ(client->states().back(), State::cancelled);
    serving.join();
}

TEST(TlsConnectionTests, TheEndIsReportedOnceWhenCancelAndPeerCloseRace)
{
    LoopbackServer server(parametersFor("device", 5));
    ASSERT_TRUE(server.isReady());
    constexpr int rounds = 20;
    for (int round = 0; round < rounds; ++round) {
        auto client = connectTo(server.endpoint(), parametersFor("device", 5));
        client->readContinuously();
        ASSERT_TRUE(client->waitFor(State::ready));
        ASSERT_TRUE(server.waitForAccepted(round + 1));
        auto accepted = server.accepted(round);
        ASSERT_TRUE(accepted->waitFor(State::ready));

        std::thread peerSide([&] {
            accepted->connection().send(toBytes("bye"));
            round % 2 ? accepted->connection().forceCancel() : accepted->connection().cancel();
        });
        round % 3 ? client->connection().cancel() : client->connection().forceCancel();
        client->connection().cancel();
        peerSide.join();

        ASSERT_TRUE(client->waitForEnd());
        ASSERT_TRUE(accepted->waitForEnd());
        settle(*client);
        settle(*accepted);
        EXPECT_EQ(client->endCount(), 1u) << "round " << round;
        EXPECT_EQ(accepted->endCount(), 1u) << "round " << round;
    }
}

TEST(TlsConnectionTests, DroppingTheConnectionClosesIt)
{
    RawListener rawListener;
    test::EventLog<Bytes> seen;
    std::thread serving([&] {
        auto peer = RawTlsPeer::accept(rawListener.accept(), {"device", keyOf(5)});
        seen.push(peer->readToEnd());
    });
    auto client = connectTo(Endpoint::hostPort("127.0.0.1", rawListener.port()), parametersFor("device", 5));
    ASSERT_TRUE(client->waitFor(State::ready));
    client.reset();
    ASSERT_TRUE(seen.waitForCount(1));
    serving.join();
}

} // namespace
} // namespace velm
