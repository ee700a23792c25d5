#include "platform/net/NetError.h"
#include "platform/net/TlsListener.h"
#include "platform/net/TlsParameters.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/RawTls.h"

#include <asio/error.hpp>
#include <gtest/gtest.h>
#include <thread>

namespace velm {
namespace {

using test::LoopbackServer;
using test::RawSocket;
using State = TlsConnection::State;
using Kind = NetError::Kind;
using namespace std::chrono_literals;

TlsParameters deviceParameters() {
    return TlsParameters({TlsKey{"device", SecretBytes(Bytes(32, 5))}});
}

// A listener without a handler for new connections, and the states it reported.
struct ListenerProbe {
    explicit ListenerProbe(std::optional<std::uint16_t> port)
        : listener(TlsListener::make(deviceParameters(), port)) {
        listener->setStateHandler([this](TlsListener::State state, const std::optional<NetError>& error) {
            states.push({state, error ? std::optional(error->kind) : std::nullopt});
        });
        listener->start(queue);
    }

    std::shared_ptr<Queue> queue = Queue::make("listener");
    test::EventLog<std::pair<TlsListener::State, std::optional<Kind>>> states;
    std::shared_ptr<TlsListener> listener;
};

TEST(TlsListenerTests, ReportsItsPortClosesItOnCancelAndBindsItAgain) {
    using Reported = std::pair<TlsListener::State, std::optional<Kind>>;
    std::uint16_t port = 0;
    {
        ListenerProbe first(std::nullopt);
        ASSERT_TRUE(first.states.waitForCount(1));
        port = first.listener->port();
        ASSERT_NE(port, 0);
        auto socket = RawSocket::connect(port);
        ASSERT_TRUE(socket);
        EXPECT_TRUE(socket->readToEnd().empty()) << "a connection nobody takes is closed";

        first.listener->cancel();
        ASSERT_TRUE(first.states.waitForCount(2));
        EXPECT_EQ(first.states.values(),
                  (std::vector<Reported>{{TlsListener::State::ready, std::nullopt},
                                         {TlsListener::State::cancelled, std::nullopt}}));
        EXPECT_FALSE(RawSocket::connect(port));
    }
    // The connection it closed, left in TIME_WAIT, must not keep the next listener off the port.
    ListenerProbe second(port);
    ASSERT_TRUE(second.states.waitForCount(1));
    EXPECT_EQ(second.states.values()[0].first, TlsListener::State::ready);
    EXPECT_EQ(second.listener->port(), port);
}

TEST(TlsListenerTests, ATakenPortFailsAsAddressInUse) {
    test::RawListener holder;
    ListenerProbe probe(holder.port());
    ASSERT_TRUE(probe.states.waitForCount(1));
    EXPECT_EQ(probe.states.values()[0],
              std::pair(TlsListener::State::failed, std::optional(Kind::addressInUse)));
}

TEST(TlsListenerTests, ASlowHandshakeIsCutOff) {
    LoopbackServer server(deviceParameters(), {.handshakeTimeout = 300ms});
    auto slowloris = RawSocket::connect(server.port());
    ASSERT_TRUE(slowloris);
    // The start of a ClientHello, one byte at a time: never enough to finish.
    const Bytes hello = {0x16, 0x03, 0x01, 0x02, 0x00, 0x01, 0x00, 0x01, 0xfc, 0x03, 0x03};
    std::thread trickle([&] {
        for (std::uint8_t byte : hello) {
            if (!slowloris->sendAll(ByteView(&byte, 1))) {
                return;
            }
            std::this_thread::sleep_for(50ms);
        }
    });
    ASSERT_TRUE(server.waitForAccepted(1));
    auto accepted = server.accepted(0);
    ASSERT_TRUE(accepted->waitForEnd());
    EXPECT_EQ(accepted->failure()->kind, Kind::timedOut);
    trickle.join();
    EXPECT_TRUE(slowloris->readToEnd().empty());
}

TEST(TlsListenerTests, TheHandshakeClockRunsBeforeTheOwnerStarts) {
    LoopbackServer server(deviceParameters(), {.handshakeTimeout = 200ms, .startAccepted = false});
    auto silent = RawSocket::connect(server.port());
    ASSERT_TRUE(server.waitForAccepted(1));
    // The listener closes the socket when the handshake time is up, started or not.
    EXPECT_TRUE(silent->readToEnd().empty());
    auto accepted = server.accepted(0);
    accepted->start();
    ASSERT_TRUE(accepted->waitForEnd());
    EXPECT_EQ(accepted->failure()->kind, Kind::timedOut);
    EXPECT_EQ(accepted->states(), std::vector<State>{State::failed});
}

TEST(TlsListenerTests, AHandshakeDoneBeforeStartIsReportedOnStart) {
    LoopbackServer server(deviceParameters(), {.startAccepted = false});
    auto client = test::RawTlsPeer::connect(server.port(), {"device", Bytes(32, 5)});
    ASSERT_TRUE(client && client->handshakeSucceeded());
    ASSERT_TRUE(client->write(toBytes("hello")));
    ASSERT_TRUE(server.waitForAccepted(1));
    auto accepted = server.accepted(0);
    EXPECT_TRUE(accepted->states().empty());

    accepted->start();
    accepted->readContinuously();
    ASSERT_TRUE(accepted->waitForBytes(5));
    EXPECT_EQ(toString(accepted->received()), "hello");
    EXPECT_EQ(accepted->states(), (std::vector<State>{State::preparing, State::ready}));
    EXPECT_EQ(accepted->connection().pskIdentity(), "device");
}

TEST(TlsListenerTests, ConnectionsStillInTheirHandshakeAreCapped) {
    LoopbackServer server(deviceParameters(), {.handshakeTimeout = 600s});
    std::vector<std::unique_ptr<RawSocket>> silent;
    for (std::size_t i = 0; i < TlsListener::maxPendingHandshakes; ++i) {
        silent.push_back(RawSocket::connect(server.port()));
    }
    ASSERT_TRUE(server.waitForAccepted(TlsListener::maxPendingHandshakes));

    auto excess = RawSocket::connect(server.port());
    ASSERT_TRUE(excess);
    EXPECT_TRUE(excess->readToEnd().empty()); // closed by the listener at once
    EXPECT_EQ(server.acceptedCount(), TlsListener::maxPendingHandshakes);

    // A handshake that ends frees its place.
    silent.front()->close();
    ASSERT_TRUE(server.accepted(0)->waitForEnd());
    EXPECT_EQ(server.accepted(0)->failure()->kind, Kind::closed);
    auto client = test::RawTlsPeer::connect(server.port(), {"device", Bytes(32, 5)});
    ASSERT_TRUE(client && client->handshakeSucceeded());
    ASSERT_TRUE(server.waitForAccepted(TlsListener::maxPendingHandshakes + 1));
}

// The scenarios above meet most of these; the generic category and the rarer errors only here.
TEST(NetErrorTests, SocketErrorsAreClassified) {
    const std::pair<std::error_code, Kind> cases[] = {
        {asio::error::connection_refused, Kind::refused},
        {asio::error::host_unreachable, Kind::unreachable},
        {asio::error::host_not_found, Kind::unreachable},
        {asio::error::timed_out, Kind::timedOut},
        {asio::error::connection_reset, Kind::closed},
        {asio::error::eof, Kind::closed},
        {asio::error::address_in_use, Kind::addressInUse},
        {std::make_error_code(std::errc::connection_refused), Kind::refused},
    };
    for (const auto& [error, kind] : cases) {
        EXPECT_EQ(NetError::fromSystem(error).kind, kind) << error.message();
    }
}

} // namespace
} // namespace velm
