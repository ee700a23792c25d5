#include "platform/crypto/Random.h"
#include "platform/net/TlsConnection.h"
#include "platform/net/TlsParameters.h"
#include "tests/support/ConnectionProbe.h"
#include "tests/support/Ipv6Loopback.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/RawTls.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>

namespace velm {
namespace {

using test::ConnectionProbe;
using test::LoopbackServer;
using test::RawListener;
using test::RawTlsPeer;
using State = TlsConnection::State;
using Kind = NetError::Kind;
using namespace std::chrono_literals;

constexpr std::string_view bindingLabel = "velm-session-binding-v1";

Bytes keyOf(std::uint8_t seed) {
    return Bytes(32, seed);
}

TlsParameters parametersFor(const std::string& identity, std::uint8_t seed) {
    return TlsParameters({TlsKey{identity, SecretBytes(keyOf(seed))}});
}

// A raw TLS peer on a listener of its own that runs `serve` once it has handshaken. `released`
// is set by the test, or at the latest by the destructor, which waits for `serve` to return.
struct RawServer {
    using Serve = std::function<void(RawTlsPeer& peer, const std::atomic<bool>& released)>;

    explicit RawServer(Serve serve, RawTlsPeer::Options options = {"device", keyOf(5)})
        : serving([this, serve, options] {
              if (auto socket = listener.accept()) {
                  serve(*RawTlsPeer::accept(std::move(socket), options), released);
              }
          }) {}
    ~RawServer() {
        released = true;
        serving.join();
    }
    HostPort endpoint() const { return {"127.0.0.1", listener.port()}; }

    RawListener listener;
    std::atomic<bool> released = false;
    std::thread serving;
};

void waitUntil(const std::atomic<bool>& flag) {
    while (!flag) {
        std::this_thread::sleep_for(10ms);
    }
}

std::unique_ptr<ConnectionProbe>
connectTo(const HostPort& endpoint, const TlsParameters& parameters,
          TlsConnection::Duration timeout = TlsConnection::defaultConnectTimeout) {
    auto probe = std::make_unique<ConnectionProbe>(TlsConnection::connect(endpoint, parameters, timeout));
    probe->start();
    return probe;
}

// Waits until every update the connection's strand had made is delivered: a send after
// the end is answered through the same path.
void settle(ConnectionProbe& probe) {
    test::EventLog<int> answered;
    probe.connection().send({}, [&](const std::optional<NetError>&) { answered.push(1); });
    ASSERT_TRUE(answered.waitForCount(1));
}

auto sessionFacts(const TlsConnection& connection) {
    return std::tuple{connection.cipherSuite(), connection.pskIdentity(), connection.remoteHost(),
                      connection.interfaceNames(),
                      connection.exportKeyingMaterial(bindingLabel, 32).has_value()};
}

TEST(TlsConnectionTests, BothEndsShareTheSessionFacts) {
    LoopbackServer server(
        TlsParameters({TlsKey{"first", SecretBytes(keyOf(1))}, TlsKey{"second", SecretBytes(keyOf(2))},
                       TlsKey{"third", SecretBytes(keyOf(3))}}));
    auto client = std::make_unique<ConnectionProbe>(
        TlsConnection::connect(server.endpoint(), parametersFor("second", 2)));
    EXPECT_EQ(client->connection().state(), State::setup);
    EXPECT_EQ(sessionFacts(client->connection()),
              std::tuple(std::nullopt, std::nullopt, std::nullopt, std::vector<std::string>{}, false));
    client->start();
    ASSERT_TRUE(client->waitFor(State::ready));
    ASSERT_TRUE(server.waitForAccepted(1));
    auto accepted = server.accepted(0);
    ASSERT_TRUE(accepted->waitFor(State::ready));

    const auto facts =
        std::tuple(std::optional(TlsParameters::suiteEcdhePskChacha20), std::optional("second"),
                   std::optional("127.0.0.1"), std::vector<std::string>{"lo"}, true);
    EXPECT_EQ(sessionFacts(client->connection()), facts);
    EXPECT_EQ(sessionFacts(accepted->connection()), facts);
    EXPECT_EQ(client->states(), (std::vector<State>{State::preparing, State::ready}));

    const auto clientBinding = client->connection().exportKeyingMaterial(bindingLabel, 32);
    ASSERT_EQ(clientBinding.value_or(Bytes{}).size(), 32u);
    EXPECT_EQ(clientBinding, accepted->connection().exportKeyingMaterial(bindingLabel, 32));
    EXPECT_NE(clientBinding, client->connection().exportKeyingMaterial("another-label", 32));

    // A second session exports another binding.
    auto other = connectTo(server.endpoint(), parametersFor("first", 1));
    ASSERT_TRUE(other->waitFor(State::ready));
    EXPECT_NE(other->connection().exportKeyingMaterial(bindingLabel, 32), clientBinding);

    // The listener serves IPv6 too, where the machine has it.
    if (test::hasIpv6Loopback()) {
        auto v6 = connectTo(HostPort{"::1", server.port()}, parametersFor("third", 3));
        ASSERT_TRUE(v6->waitFor(State::ready));
        EXPECT_EQ(v6->connection().interfaceNames(), std::vector<std::string>{"lo"});
        ASSERT_TRUE(server.waitForAccepted(3));
        EXPECT_EQ(server.accepted(2)->connection().remoteHost(), "::1");
    }
}

class SuiteTests : public ::testing::TestWithParam<std::pair<std::uint16_t, const char*>> {};

TEST_P(SuiteTests, EachOfferedSuiteNegotiatesWhenThePeerOffersOnlyIt) {
    const auto [suite, name] = GetParam();
    const RawTlsPeer::Options options{"device", keyOf(5), name};

    // A peer that offers only this suite connects to our listener...
    LoopbackServer server(parametersFor("device", 5));
    auto rawClient = RawTlsPeer::connect(server.port(), options);
    ASSERT_TRUE(rawClient && rawClient->handshakeSucceeded());
    ASSERT_TRUE(server.waitForAccepted(1));
    auto accepted = server.accepted(0);
    ASSERT_TRUE(accepted->waitFor(State::ready));
    EXPECT_EQ(accepted->connection().cipherSuite(), suite);
    EXPECT_EQ(accepted->connection().exportKeyingMaterial(bindingLabel, 32), rawClient->binding());

    // ...and accepts our outgoing connection.
    test::EventLog<std::optional<Bytes>> rawBinding;
    RawServer rawServer([&](RawTlsPeer& peer, const auto&) { rawBinding.push(peer.binding()); }, options);
    auto client = connectTo(rawServer.endpoint(), parametersFor("device", 5));
    ASSERT_TRUE(client->waitFor(State::ready));
    ASSERT_TRUE(rawBinding.waitForCount(1));
    EXPECT_EQ(client->connection().cipherSuite(), suite);
    EXPECT_EQ(client->connection().exportKeyingMaterial(bindingLabel, 32), rawBinding.values()[0]);
}

INSTANTIATE_TEST_SUITE_P(
    Suites, SuiteTests,
    ::testing::Values(std::pair{TlsParameters::suiteEcdhePskChacha20, "ECDHE-PSK-CHACHA20-POLY1305"},
                      std::pair{TlsParameters::suitePskAes256Gcm, "PSK-AES256-GCM-SHA384"},
                      std::pair{TlsParameters::suitePskAes128Gcm, "PSK-AES128-GCM-SHA256"}));

TEST(TlsConnectionTests, OnlyTls12IsEverNegotiated) {
    LoopbackServer server(parametersFor("device", 5));
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

TEST(TlsConnectionTests, AWrongKeyOrAnUnknownIdentityFailsAsTlsOnBothEnds) {
    LoopbackServer server(parametersFor("device", 5));
    auto wrongKey = connectTo(server.endpoint(), parametersFor("device", 6));
    auto stranger = connectTo(server.endpoint(), parametersFor("stranger", 5));
    // An empty key list admits nobody.
    LoopbackServer nobody(TlsParameters({}));
    auto placeholder =
        connectTo(nobody.endpoint(), parametersFor(std::string(TlsParameters::placeholderIdentity), 0));

    for (auto* client : {wrongKey.get(), stranger.get(), placeholder.get()}) {
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
        EXPECT_EQ(std::ranges::count(server.accepted(i)->states(), State::ready), 0);
    }
}

TEST(TlsConnectionTests, APortWhereNothingListensOrAnUnknownHostFailsAtOnce) {
    const std::uint16_t vacated = RawListener().port();
    for (const auto& [endpoint, kind] : {std::pair{HostPort{"127.0.0.1", vacated}, Kind::refused},
                                         std::pair{HostPort{"no-such-host.invalid", 1}, Kind::unreachable}}) {
        // The long time-out shows that the failure does not wait for it.
        auto client = connectTo(endpoint, parametersFor("a", 1), 600s);
        ASSERT_TRUE(client->waitForEnd());
        EXPECT_EQ(client->failure()->kind, kind);
    }
}

TEST(TlsConnectionTests, AnEmptyHostOrOneCutShortByANulNamesNoPeer) {
    // The listener takes every local address, so a name read as this machine's would reach it.
    LoopbackServer server(parametersFor("a", 1));
    for (const std::string& host : {std::string(), std::string("127.0.0.1\0.example", 18)}) {
        auto client = connectTo({host, server.port()}, parametersFor("a", 1), 600s);
        ASSERT_TRUE(client->waitForEnd());
        EXPECT_EQ(client->failure()->kind, Kind::unreachable);
        EXPECT_EQ(std::ranges::count(client->states(), State::ready), 0);
    }
    EXPECT_EQ(server.acceptedCount(), 0u);
}

TEST(TlsConnectionTests, APeerThatNeverHandshakesTimesOut) {
    RawListener silent;
    auto client = connectTo({"127.0.0.1", silent.port()}, parametersFor("a", 1), 200ms);
    auto held = silent.accept();
    ASSERT_TRUE(client->waitForEnd());
    EXPECT_EQ(client->failure()->kind, Kind::timedOut);
    EXPECT_EQ(client->states(), (std::vector<State>{State::preparing, State::failed}));
}

TEST(TlsConnectionTests, TheConnectTimeOutEndsWithTheHandshake) {
    LoopbackServer server(parametersFor("a", 1));
    auto client = connectTo(server.endpoint(), parametersFor("a", 1), 100ms);
    ASSERT_TRUE(client->waitFor(State::ready));
    std::this_thread::sleep_for(300ms); // well past the time-out
    client->connection().send(Bytes(3, 7));
    ASSERT_TRUE(server.waitForAccepted(1));
    EXPECT_TRUE(server.accepted(0)->waitForBytes(3));
    EXPECT_EQ(client->states(), (std::vector<State>{State::preparing, State::ready}));
}

// Limits as long as the type allows mean none: they must not wrap round to the past.
TEST(TlsConnectionTests, TheLongestTimeOutsLetBothEndsHandshake) {
    LoopbackServer server(parametersFor("a", 1),
                          {.limits = {.handshakeTimeout = TlsListener::Duration::max()}});
    auto client = connectTo(server.endpoint(), parametersFor("a", 1), TlsConnection::Duration::max());
    ASSERT_TRUE(client->waitFor(State::ready));
    ASSERT_TRUE(server.waitForAccepted(1));
    ASSERT_TRUE(server.accepted(0)->waitFor(State::ready));
    client->connection().send(Bytes(3, 7));
    EXPECT_TRUE(server.accepted(0)->waitForBytes(3));
    EXPECT_EQ(client->states(), (std::vector<State>{State::preparing, State::ready}));
}

TEST(TlsConnectionTests, SendsBeforeReadyAndBeforeAGracefulCancelArriveInOrder) {
    LoopbackServer server(parametersFor("device", 5));
    auto client = std::make_unique<ConnectionProbe>(
        TlsConnection::connect(server.endpoint(), parametersFor("device", 5)));
    test::EventLog<bool> sent;
    const auto send = [&](Bytes bytes) {
        client->connection().send(std::move(bytes), [&](const auto& error) { sent.push(!error); });
    };
    Bytes expected = toBytes("early ");
    const Bytes bulk = Random::bytes(3 << 20);
    send(expected);
    client->start();
    send(bulk);
    ASSERT_TRUE(client->waitFor(State::ready));
    send(toBytes("goodbye"));
    client->connection().cancel();

    ASSERT_TRUE(server.waitForAccepted(1));
    auto accepted = server.accepted(0);
    ASSERT_TRUE(accepted->waitForStreamEnd());
    expected.insert(expected.end(), bulk.begin(), bulk.end());
    const Bytes goodbye = toBytes("goodbye");
    expected.insert(expected.end(), goodbye.begin(), goodbye.end());
    EXPECT_EQ(accepted->received(), expected);
    EXPECT_TRUE(accepted->endedCleanly());
    ASSERT_TRUE(sent.waitForCount(3));
    EXPECT_EQ(sent.values(), (std::vector<bool>{true, true, true}));

    accepted->connection().cancel();
    ASSERT_TRUE(client->waitForEnd());
    settle(*client);
    EXPECT_EQ(client->states(), (std::vector<State>{State::preparing, State::ready, State::cancelled}));
}

// The peer's last bytes also come before the end of the stream.
TEST(TlsConnectionTests, ReceiveWaitsForItsMinimum) {
    RawServer raw([](RawTlsPeer& peer, const std::atomic<bool>& released) {
        peer.write(toBytes("abc"));
        waitUntil(released);
        peer.write(toBytes("defghijlast frame"));
        peer.closeNotify();
    });
    auto client = connectTo(raw.endpoint(), parametersFor("device", 5));
    test::EventLog<Bytes> chunks;
    client->connection().receive(10, 10,
                                 [&](Bytes data, bool, const auto&) { chunks.push(std::move(data)); });
    ASSERT_TRUE(client->waitFor(State::ready));
    raw.released = true;
    ASSERT_TRUE(chunks.waitForCount(1));
    EXPECT_EQ(toString(chunks.values()[0]), "abcdefghij");

    client->readContinuously();
    ASSERT_TRUE(client->waitForStreamEnd());
    EXPECT_EQ(toString(client->received()), "last frame");
    EXPECT_TRUE(client->endedCleanly());
}

// A force-cancelled connection ends its pending receive; a dropped one delivers nothing more.
// Either way the peer sees the close.
TEST(TlsConnectionTests, ForceCancelOrDroppingClosesAtOnce) {
    for (const bool drop : {false, true}) {
        SCOPED_TRACE(drop ? "dropped" : "force-cancelled");
        test::EventLog<Bytes> seen;
        RawServer raw([&](RawTlsPeer& peer, const auto&) { seen.push(peer.readToEnd()); });
        auto client = connectTo(raw.endpoint(), parametersFor("device", 5));
        test::EventLog<std::optional<NetError>> pending;
        client->connection().receive(1, 10, [&](Bytes, bool, const auto& error) { pending.push(error); });
        ASSERT_TRUE(client->waitFor(State::ready));
        if (drop) {
            client.reset();
        } else {
            client->connection().forceCancel();
            ASSERT_TRUE(client->waitForEnd());
            ASSERT_TRUE(pending.waitForCount(1));
            EXPECT_EQ(pending.values()[0]->kind, Kind::cancelled);
            EXPECT_EQ(client->states().back(), State::cancelled);
        }
        EXPECT_TRUE(seen.waitForCount(1));
    }
}

// Sends `count` chunks of 1 MiB to a peer that handshakes but never reads; gives the connection's failure,
// if it failed, and the chunks' completions.
std::pair<std::optional<NetError>, std::vector<std::optional<NetError>>> sendToNonReader(int count,
                                                                                         bool thenCancel) {
    RawServer peer([](RawTlsPeer&, const std::atomic<bool>& released) { waitUntil(released); });
    auto client = connectTo(peer.endpoint(), parametersFor("device", 5));
    EXPECT_TRUE(client->waitFor(State::ready));
    test::EventLog<std::optional<NetError>> completions;
    for (int i = 0; i < count; ++i) {
        client->connection().send(Bytes(1 << 20, 0x5a), [&](const auto& error) { completions.push(error); });
    }
    if (thenCancel) {
        client->connection().cancel();
    }
    EXPECT_TRUE(client->waitForEnd());
    EXPECT_TRUE(completions.waitForCount(count));
    return {client->failure(), completions.values()};
}

TEST(TlsConnectionTests, APeerThatStopsReadingHitsTheBacklogCap) {
    // 64 MiB: more than the cap plus any socket buffers.
    const auto [failure, completions] = sendToNonReader(64, false);
    EXPECT_EQ(failure->kind, Kind::backlogFull);
    ASSERT_EQ(completions.size(), 64u);
    EXPECT_EQ(completions.back()->kind, Kind::backlogFull);
}

// A peer that asks for a new handshake over and over and reads none of the warnings that refuse
// them: once they wait unsent, nothing more of it is read, so they cannot pile up in memory until
// TCP gives up on the peer.
TEST(TlsConnectionTests, RefusalsAPeerLeavesUnreadDoNotPileUp) {
    LoopbackServer server(parametersFor("device", 5));
    auto peer = RawTlsPeer::connect(server.port(), {"device", keyOf(5), "PSK-AES128-GCM-SHA256"});
    ASSERT_TRUE(peer && peer->handshakeSucceeded());
    const int fd = peer->socket().fd();
    const int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    const Bytes requests = peer->renegotiationRequests(600'000); // about 16 MB
    const std::size_t heldBefore = ::mallinfo2().uordblks;

    // Until the host stops reading, or drops a peer that takes nothing for so long.
    std::size_t sent = 0;
    pollfd writable{fd, POLLOUT, 0};
    while (sent < requests.size() && ::poll(&writable, 1, 3000) == 1) {
        const ssize_t result = ::send(fd, requests.data() + sent, requests.size() - sent, MSG_NOSIGNAL);
        if (result < 0 && errno != EAGAIN) {
            break;
        }
        sent += static_cast<std::size_t>(std::max<ssize_t>(result, 0));
    }
    const std::size_t heldAfter = ::mallinfo2().uordblks;
    EXPECT_LT(heldAfter - std::min(heldAfter, heldBefore), 4u << 20) << sent << " bytes sent";
}

TEST(TlsConnectionTests, GracefulCancelGivesUpOnAPeerThatNeverReads) {
    // Less than the backlog cap; whatever the socket buffers do not take stays queued.
    const auto [failure, completions] = sendToNonReader(7, true);
    EXPECT_FALSE(failure);
    for (const auto& error : completions) {
        EXPECT_TRUE(!error || error->kind == Kind::cancelled);
    }
}

TEST(TlsConnectionTests, TheEndIsReportedOnceWhenCancelAndPeerCloseRace) {
    LoopbackServer server(parametersFor("device", 5));
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
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

        for (auto* end : {client.get(), accepted.get()}) {
            ASSERT_TRUE(end->waitForEnd());
            settle(*end);
            EXPECT_EQ(end->endCount(), 1u);
        }
    }
}

} // namespace
} // namespace velm
