#include "platform/net/NetError.h"
#include "platform/net/TlsListener.h"
#include "platform/net/TlsParameters.h"
#include "tests/support/Blocking.h"
#include "tests/support/IdleSocketCrowd.h"
#include "tests/support/LogCapture.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/RawTls.h"
#include "tests/support/SystemCallFaults.h"

#include <algorithm>
#include <asio/error.hpp>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <vector>

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
        listener->setOnState([this](TlsListener::State state, const std::optional<NetError>& error) {
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
    LoopbackServer server(deviceParameters(), {.limits = {.handshakeTimeout = 300ms}});
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
    LoopbackServer server(deviceParameters(),
                          {.limits = {.handshakeTimeout = 200ms}, .startAccepted = false});
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
    LoopbackServer server(deviceParameters(), {.limits = {}, .startAccepted = false});
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

const test::RawTlsPeer::Options goodKey{"device", Bytes(32, 5)};

// 127.0.0.2, 127.0.0.3, ...: peers of their own on loopback.
std::string peerAddress(std::size_t index) {
    return "127.0.0." + std::to_string(index + 2);
}

TEST(TlsListenerTests, AFullSetOfUnfinishedHandshakesMakesRoomForANewcomerByDroppingTheOldest) {
    LoopbackServer server(deviceParameters(), {.limits = {.handshakeTimeout = 600s, .helloTimeout = 600s}});
    std::vector<std::unique_ptr<RawSocket>> silent;
    for (std::size_t i = 0; i < TlsListener::maxPendingHandshakes; ++i) {
        silent.push_back(RawSocket::connectFrom(peerAddress(i), server.port()));
        ASSERT_TRUE(silent.back());
        ASSERT_TRUE(server.waitForAccepted(i + 1)); // so that the oldest is known
    }
    auto client = test::RawTlsPeer::connect(server.port(), goodKey);
    ASSERT_TRUE(client && client->handshakeSucceeded());
    EXPECT_TRUE(silent.front()->readToEnd().empty());
    ASSERT_TRUE(server.accepted(0)->waitForEnd());
    EXPECT_EQ(server.accepted(0)->failure()->kind, Kind::timedOut);
    for (std::size_t i = 1; i < silent.size(); ++i) {
        EXPECT_TRUE(server.accepted(i)->states().empty() ||
                    server.accepted(i)->states().back() != State::failed);
    }
    // Dropped for room, not failed at the TLS level: nothing to report.
    EXPECT_TRUE(server.handshakeFailures().values().empty());
}

// A peer without a key opens idle connections from one address, and opens them again as they
// close; a paired device must still get through.
TEST(TlsListenerTests, AHostilePeerHoldingManyIdleConnectionsCannotKeepAGoodClientOut) {
    LoopbackServer server(deviceParameters(), {.limits = {.handshakeTimeout = 600s, .helloTimeout = 600s}});
    constexpr std::size_t held = 40;
    std::vector<std::unique_ptr<RawSocket>> hostile;
    for (int round = 0; round < 2; ++round) {
        while (hostile.size() < held) {
            hostile.push_back(RawSocket::connectFrom("127.0.0.2", server.port()));
            ASSERT_TRUE(hostile.back());
        }
        auto client = test::RawTlsPeer::connect(server.port(), goodKey);
        ASSERT_TRUE(client && client->handshakeSucceeded()) << "round " << round;
        ASSERT_TRUE(client->write(toBytes("pair")));
        // All but the newest few of the hostile connections were dropped; they reopen.
        const std::size_t kept = TlsListener::Limits{}.maxPendingPerSource;
        for (std::size_t i = 0; i + kept < hostile.size(); ++i) {
            EXPECT_TRUE(hostile[i]->readToEnd().empty());
        }
        hostile.erase(hostile.begin(), hostile.end() - static_cast<std::ptrdiff_t>(kept));
    }
    EXPECT_TRUE(server.handshakeFailures().values().empty());
}

// A listener whose idle connections leave only to make room, with an owner that starts every accepted
// connection, closes it once ready (served) and keeps it until it ended, and not after: a crowd churns
// through thousands.
class KeepingServer {
public:
    KeepingServer()
        : listener_(TlsListener::make(deviceParameters(), std::nullopt,
                                      {.handshakeTimeout = 600s, .helloTimeout = 600s})) {
        listener_->setOnConnection([live = live_, queue = queue_](std::shared_ptr<TlsConnection> connection) {
            live->keep(connection);
            connection->setOnState([weak = std::weak_ptr<Live>(live),
                                    key = connection.get()](State state, const std::optional<NetError>&) {
                const auto held = weak.lock();
                if (held && state == State::ready) {
                    held->serve(key);
                } else if (held && (state == State::failed || state == State::cancelled)) {
                    held->letGo(key);
                }
            });
            connection->start(queue);
        });
        listener_->start(queue_);
        EXPECT_TRUE(Blocking::waitUntil([&] { return listener_->port() != 0; }));
    }

    std::uint16_t port() const { return listener_->port(); }

private:
    struct Live {
        explicit Live(std::shared_ptr<Queue> owner) : queue(std::move(owner)) {}
        void keep(const std::shared_ptr<TlsConnection>& connection) {
            std::lock_guard guard(lock);
            connections.emplace(connection.get(), connection);
        }
        void serve(TlsConnection* key) {
            std::lock_guard guard(lock);
            if (const auto found = connections.find(key); found != connections.end()) {
                found->second->cancel();
            }
        }
        // Inside the connection's own report: it goes once that report is over.
        void letGo(TlsConnection* key) {
            std::shared_ptr<TlsConnection> last;
            std::lock_guard guard(lock);
            if (const auto found = connections.find(key); found != connections.end()) {
                last = std::move(found->second);
                connections.erase(found);
                queue->post([last] {});
            }
        }
        std::mutex lock;
        std::map<TlsConnection*, std::shared_ptr<TlsConnection>> connections;
        std::shared_ptr<Queue> queue;
    };

    std::shared_ptr<Queue> queue_ = Queue::make("keeping server");
    std::shared_ptr<Live> live_ = std::make_shared<Live>(queue_);
    std::shared_ptr<TlsListener> listener_;
};

// Idle sockets reopened the moment they are dropped take only the places of other idle sockets: a device
// whose hello the host answered finishes its handshake however long the crowd churns meanwhile, whether
// the crowd comes from another address (whose share then decides), holds the device's own address's
// share, or comes from many (more than there are places). A device dropped before its hello was
// answered could not be told from the crowd and tries again.
TEST(TlsListenerTests, IdleSocketsReopenedAtOnceNeverPushOutAHandshakeUnderWay) {
    const std::size_t share = TlsListener::Limits{}.maxPendingPerSource;
    struct Crowd {
        std::vector<std::string> sources;
        std::size_t perSource;
        // New crowd connections the device waits for once answered: each takes a place.
        std::size_t churn;
    };
    const Crowd crowds[] = {
        {{"127.0.0.2"}, 2 * share, 2 * share},
        {{"127.0.0.1"}, share, 2 * share},
        {test::IdleSocketCrowd::loopbackSources(10), 2, 2 * TlsListener::maxPendingHandshakes}};
    for (const auto& [sources, perSource, churn] : crowds) {
        SCOPED_TRACE(::testing::Message() << sources.size() << " from " << sources.front());
        KeepingServer server;
        test::IdleSocketCrowd crowd(server.port(), sources, perSource);
        int answered = 0;
        int served = 0;
        for (int attempt = 0; answered < 30 && attempt < 300; ++attempt) {
            const auto device = test::RawTlsPeer::connect(server.port(), goodKey, [&](RawSocket& socket) {
                ++answered;
                const std::size_t opened = crowd.opened();
                EXPECT_TRUE(Blocking::waitUntil(
                    [&] { return crowd.opened() >= opened + churn || socket.peerClosed(); }));
            });
            served += device && device->handshakeSucceeded() ? 1 : 0;
        }
        EXPECT_EQ(std::pair(answered, served), std::pair(30, 30));
    }
}

TEST(TlsListenerTests, AConnectionWithoutAWholeHelloGoesAtTheHelloTimeOut) {
    LoopbackServer server(deviceParameters(), {.limits = {.handshakeTimeout = 600s, .helloTimeout = 100ms}});
    // A hello that has arrived buys the handshake its whole time.
    auto slow = RawSocket::connect(server.port());
    ASSERT_TRUE(slow && slow->sendAll(test::RawTlsPeer::clientHello(goodKey)));
    Bytes answer(5);
    ASSERT_EQ(::recv(slow->fd(), answer.data(), answer.size(), MSG_WAITALL), 5);
    EXPECT_EQ(answer[0], 0x16) << "the server's hello";

    auto idle = RawSocket::connect(server.port());
    ASSERT_TRUE(idle);
    EXPECT_TRUE(idle->readToEnd().empty());
    ASSERT_TRUE(server.waitForAccepted(2));
    ASSERT_TRUE(server.accepted(1)->waitForEnd());
    EXPECT_EQ(server.accepted(1)->failure()->kind, Kind::timedOut);
    // The slow one's hello time-out, armed before the idle one's, has passed too.
    EXPECT_TRUE(server.accepted(0)->states().empty() || server.accepted(0)->states().back() != State::failed);
}

TEST(TlsListenerTests, AFailedHandshakeIsReportedWithTheIdentityTheClientOffered) {
    LoopbackServer server(deviceParameters());
    auto wrongKey = test::RawTlsPeer::connect(server.port(), {"device", Bytes(32, 6)});
    ASSERT_TRUE(wrongKey && !wrongKey->handshakeSucceeded());
    ASSERT_TRUE(server.handshakeFailures().waitForCount(1));
    auto stranger = test::RawTlsPeer::connect(server.port(), {"stranger", Bytes(32, 5)});
    ASSERT_TRUE(stranger && !stranger->handshakeSucceeded());
    ASSERT_TRUE(server.handshakeFailures().waitForCount(2));
    // Garbage offers no identity; a peer that leaves on its way is no failed try.
    auto closing = RawSocket::connect(server.port());
    closing->close();
    auto garbage = RawSocket::connect(server.port());
    ASSERT_TRUE(garbage && garbage->sendAll(Bytes(64, 0x42)));
    ASSERT_TRUE(server.handshakeFailures().waitForCount(3));
    auto good = test::RawTlsPeer::connect(server.port(), goodKey);
    ASSERT_TRUE(good && good->handshakeSucceeded());
    ASSERT_TRUE(server.waitForAccepted(5));
    ASSERT_TRUE(server.accepted(2)->waitForEnd());
    EXPECT_EQ(server.handshakeFailures().values(),
              (std::vector<std::optional<std::string>>{"device", "stranger", std::nullopt}));
}

// Out of descriptors, the waiting connection fails every accept until some are free again: said once, not
// ten times a second for as long as it lasts, and said again when accepting works.
TEST(TlsListenerTests, AcceptsThatKeepFailingAreToldOnceAndTheirEndToo) {
    LogCapture log;
    const auto failures = [&log] {
        return std::ranges::count_if(log.lines(), [](const std::string& line) {
            return line.find("accept failed") != std::string::npos;
        });
    };
    ListenerProbe probe(std::nullopt);
    ASSERT_TRUE(probe.states.waitForCount(1));
    std::unique_ptr<RawSocket> waiting;
    {
        const auto fault = test::SystemCallFaults::failAccepting(EMFILE);
        waiting = RawSocket::connect(probe.listener->port());
        ASSERT_TRUE(waiting);
        ASSERT_TRUE(Blocking::waitUntil([] { return test::SystemCallFaults::acceptsFailed() >= 5; }));
        EXPECT_EQ(failures(), 1) << "each failed accept was logged";
    }
    EXPECT_TRUE(waiting->readToEnd().empty()) << "the connection is taken once accepting works";
    EXPECT_TRUE(Blocking::waitUntil([&log] { return log.contains("accepting again"); }));
}

TEST(TlsListenerTests, OpenChannelsAreCappedAtAccept) {
    LoopbackServer server(deviceParameters(), {.limits = {.maxOpenChannels = 3}});
    std::vector<std::unique_ptr<test::RawTlsPeer>> open;
    for (int i = 0; i < 3; ++i) {
        open.push_back(test::RawTlsPeer::connect(server.port(), goodKey));
        ASSERT_TRUE(open.back() && open.back()->handshakeSucceeded());
    }
    auto excess = RawSocket::connect(server.port());
    ASSERT_TRUE(excess);
    EXPECT_TRUE(excess->readToEnd().empty()); // closed by the listener at once
    // Handed over on the listener's queue, which may lag behind the handshakes.
    ASSERT_TRUE(server.waitForAccepted(3));
    EXPECT_EQ(server.acceptedCount(), 3u);

    // A channel its owner closes frees its place.
    server.accepted(0)->connection().forceCancel();
    ASSERT_TRUE(server.accepted(0)->waitForEnd());
    auto next = test::RawTlsPeer::connect(server.port(), goodKey);
    ASSERT_TRUE(next && next->handshakeSucceeded());
    ASSERT_TRUE(server.waitForAccepted(4));
}

// Below the limit of unfinished handshakes, the cap must not let idle sockets do what that limit keeps
// them from: a newcomer takes the place of the oldest, and only channels under way fill the cap for good.
TEST(TlsListenerTests, AtTheCapOfOpenChannelsAnIdleSocketMakesRoomForANewcomer) {
    constexpr std::size_t cap = 3;
    LoopbackServer server(
        deviceParameters(),
        {.limits = {.handshakeTimeout = 600s, .helloTimeout = 600s, .maxOpenChannels = cap}});
    std::vector<std::unique_ptr<RawSocket>> idle;
    for (std::size_t i = 0; i < cap; ++i) {
        idle.push_back(RawSocket::connectFrom(peerAddress(i), server.port()));
        ASSERT_TRUE(idle.back());
        ASSERT_TRUE(server.waitForAccepted(i + 1)); // so that the oldest is known
    }
    std::vector<std::unique_ptr<test::RawTlsPeer>> devices;
    for (std::size_t i = 0; i < cap; ++i) {
        devices.push_back(test::RawTlsPeer::connect(server.port(), goodKey));
        ASSERT_TRUE(devices.back() && devices.back()->handshakeSucceeded()) << "device " << i;
        EXPECT_TRUE(idle[i]->readToEnd().empty()) << "idle socket " << i;
    }
    auto excess = RawSocket::connect(server.port());
    ASSERT_TRUE(excess);
    EXPECT_TRUE(excess->readToEnd().empty());
    ASSERT_TRUE(server.waitForAccepted(2 * cap));
    for (std::size_t i = cap; i < 2 * cap; ++i) {
        EXPECT_EQ(server.accepted(i)->connection().pskIdentity(), "device");
    }
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
