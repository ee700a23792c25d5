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
using test::RawListener;
using test::RawSocket;
using State = TlsConnection::State;
using namespace std::chrono_literals;

TlsParameters deviceParameters()
{
    return TlsParameters({TlsKey{"device", SecretBytes(Bytes(32, 5))}});
}

struct ListenerProbe {
    explicit ListenerProbe(std::optional<std::uint16_t> port)
        : listener(TlsListener::make(deviceParameters(), port))
    {
        listener->setStateHandler([this](TlsListener::State state, const std::optional<NetError>& error) {
            states.push({state, error});
        });
        listener->start(queue);
    }

    bool waitForStates(std::size_t count) { return states.waitForCount(count); }

    std::shared_ptr<Queue> queue = Queue::make("listener");
    test::EventLog<std::pair<TlsListener::State, std::optional<NetError>>> states;
    std::shared_ptr<TlsListener> listener;
};

std::uint16_t vacatedPort()
{
    RawListener vacated;
    return vacated.port();
}

TEST(TlsListenerTests, ReportsItsPortAndClosesItOnCancel)
{
    ListenerProbe probe(std::nullopt);
    ASSERT_TRUE(probe.waitForStates(1));
    EXPECT_EQ(probe.states.values()[0].first, TlsListener::State::ready);
    const std::uint16_t port = probe.listener->port();
    ASSERT_NE(port, 0);
    EXPECT_TRUE(RawSocket::connect(port));

    probe.listener->cancel();
    ASSERT_TRUE(probe.waitForStates(2));
    EXPECT_EQ(probe.states.values()[1].first, TlsListener::State::cancelled);
    EXPECT_FALSE(RawSocket::connect(port));
}

TEST(TlsListenerTests, BindsTheRequestedPortAgainAfterAClose)
{
    const std::uint16_t port = vacatedPort();
    {
        ListenerProbe first(port);
        ASSERT_TRUE(first.waitForStates(1));
        EXPECT_EQ(first.listener->port(), port);
        // A connection left in TIME_WAIT must not keep the next listener off the port.
        auto socket = RawSocket::connect(port);
        ASSERT_TRUE(socket);
        first.listener->cancel();
        ASSERT_TRUE(first.waitForStates(2));
    }
    ListenerProbe second(port);
    ASSERT_TRUE(second.waitForStates(1));
    EXPECT_EQ(second.states.values()[0].first, TlsListener::State::ready);
    EXPECT_EQ(second.listener->port(), port);
}

TEST(TlsListenerTests, ATakenPortFailsAsAddressInUse)
{
    RawListener holder;
    ListenerProbe probe(holder.port());
    ASSERT_TRUE(probe.waitForStates(1));
    const auto [state, error] = probe.states.values()[0];
    EXPECT_EQ(state, TlsListener::State::failed);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, NetError::Kind::addressInUse);
}

TEST(TlsListenerTests, ASlowHandshakeIsCutOff)
{
    LoopbackServer server(deviceParameters(), {.handshakeTimeout = 300ms});
    ASSERT_TRUE(server.isReady());
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
    EXPECT_EQ(accepted->failure()->kind, NetError::Kind::timedOut);
    trickle.join();
    EXPECT_TRUE(slowloris->readToEnd().empty());
}

TEST(TlsListenerTests, TheHandshakeClockRunsBeforeTheOwnerStarts)
{
    LoopbackServer server(deviceParameters(), {.handshakeTimeout = 200ms, .startAccepted = false});
    ASSERT_TRUE(server.isReady());
    auto silent = RawSocket::connect(server.port());
    ASSERT_TRUE(server.waitForAccepted(1));
    // The listener closes the socket when the handshake time is up, started or not.
    EXPECT_TRUE(silent->readToEnd().empty());
    auto accepted = server.accepted(0);
    accepted->start();
    ASSERT_TRUE(accepted->waitForEnd());
    EXPECT_EQ(accepted->failure()->kind, NetError::Kind::timedOut);
    EXPECT_EQ(accepted->states(), std::vector<State>{State::failed});
}

TEST(TlsListenerTests, AHandshakeDoneBeforeStartIsReportedOnStart)
{
    LoopbackServer server(deviceParameters(), {.startAccepted = false});
    ASSERT_TRUE(server.isReady());
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

TEST(TlsListenerTests, ConnectionsStillInTheirHandshakeAreCapped)
{
    LoopbackServer server(deviceParameters(), {.handshakeTimeout = 600s});
    ASSERT_TRUE(server.isReady());
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
    EXPECT_EQ(server.accepted(0)->failure()->kind, NetError::Kind::closed);
    auto client = test::RawTlsPeer::connect(server.port(), {"device", Bytes(32, 5)});
    ASSERT_TRUE(client && client->handshakeSucceeded());
    ASSERT_TRUE(server.waitForAccepted(TlsListener::maxPendingHandshakes + 1));
}

TEST(TlsListenerTests, AConnectionNobodyTakesIsClosed)
{
    auto queue = Queue::make("listener");
    auto listener = TlsListener::make(deviceParameters(), std::nullopt);
    test::EventLog<int> ready;
    listener->setStateHandler([&](TlsListener::State, const auto&) { ready.push(1); });
    listener->start(queue);
    ASSERT_TRUE(ready.waitForCount(1));
    auto socket = RawSocket::connect(listener->port());
    ASSERT_TRUE(socket);
    EXPECT_TRUE(socket->readToEnd().empty());
    listener->setStateHandler(nullptr);
}

TEST(NetErrorTests, SocketErrorsAreClassified)
{
    EXPECT_EQ(NetError::fromSystem(asio::error::connection_refused).kind, NetError::Kind::refused);
    EXPECT_EQ(NetError::fromSystem(asio::error::host_unreachable).kind, NetError::Kind::unreachable);
    EXPECT_EQ(NetError::fromSystem(asio::error::host_not_found).kind, NetError::Kind::unreachable);
    EXPECT_EQ(NetError::fromSystem(asio::error::timed_out).kind, NetError::Kind::timedOut);
    EXPECT_EQ(NetError::fromSystem(asio::error::connection_reset).kind, NetError::Kind::closed);
    EXPECT_EQ(NetError::fromSystem(asio::error::eof).kind, NetError::Kind::closed);
    EXPECT_EQ(NetError::fromSystem(asio::error::address_in_use).kind, NetError::Kind::addressInUse);
    EXPECT_EQ(NetError::fromSystem(std::make_error_code(std::errc::connection_refused)).kind,
              NetError::Kind::refused);
    EXPECT_FALSE(NetError::fromSystem(asio::error::connection_refused).isTls());
}

} // namespace
} // namespace velm
