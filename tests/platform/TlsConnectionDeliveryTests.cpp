// Where and when a connection's results reach its owner: on the owner's queue, never inside the
// call that asked for them, through the queue itself when it is not a strand, and in order
// whichever threads send at once.
#include "platform/dispatch/ManualQueue.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/TlsConnection.h"
#include "platform/net/TlsParameters.h"
#include "tests/support/LogCapture.h"
#include "tests/support/LoopbackServer.h"

#include <gtest/gtest.h>
#include <map>
#include <stdexcept>
#include <thread>

namespace velm {
namespace {

using test::EventLog;
using test::LoopbackServer;
using State = TlsConnection::State;
using namespace std::chrono_literals;

TlsParameters parameters() {
    return TlsParameters({TlsKey{"device", SecretBytes(Bytes(32, 5))}});
}

// An outgoing connection to a loopback listener, started on `queue`, recording its states.
struct Connected {
    explicit Connected(std::shared_ptr<Queue> owner) : queue(std::move(owner)) {
        connection->setOnState([states = states](State state, const auto&) {
            states->push({state, std::this_thread::get_id()});
        });
        connection->start(queue);
    }
    bool waitForReady() {
        return states->waitFor(
            [](const auto& values) { return !values.empty() && values.back().first == State::ready; });
    }
    std::shared_ptr<test::ConnectionProbe> peer() {
        return server.waitForAccepted(1) ? server.accepted(0) : nullptr;
    }

    LoopbackServer server{parameters()};
    std::shared_ptr<Queue> queue;
    std::shared_ptr<EventLog<std::pair<State, std::thread::id>>> states =
        std::make_shared<EventLog<std::pair<State, std::thread::id>>>();
    std::shared_ptr<TlsConnection> connection = TlsConnection::connect(server.endpoint(), parameters());
};

// Each completion notes whether the call that asked for it had returned by then.
TEST(TlsConnectionDeliveryTests, CompletionsNeverRunInsideTheCallThatAskedForThem) {
    Connected client(Queue::make("owner"));
    ASSERT_TRUE(client.waitForReady());
    auto peer = client.peer();
    ASSERT_TRUE(peer && peer->waitFor(State::ready));
    peer->connection().send(toBytes("abc"));

    EventLog<std::pair<std::string, bool>> seen; // what came, and whether its call was still running
    bool inCall = false;                         // touched on the owner's queue only
    client.queue->post([&] {
        inCall = true;
        client.connection->receive(1, 1, [&](Bytes first, bool, const auto&) {
            seen.push({toString(first), inCall});
            // Asked from inside a completion, with the rest already decrypted.
            inCall = true;
            client.connection->receive(2, 2, [&](Bytes rest, bool, const auto&) {
                seen.push({toString(rest), inCall});
            });
            inCall = false;
        });
        inCall = false;
    });
    ASSERT_TRUE(seen.waitForCount(2));
    EXPECT_EQ(seen.values(), (std::vector<std::pair<std::string, bool>>{{"a", false}, {"bc", false}}));

    EventLog<bool> sent;
    client.queue->post([&] {
        inCall = true;
        client.connection->send(toBytes("x"), [&](const auto& error) { sent.push(inCall || error); });
        inCall = false;
    });
    ASSERT_TRUE(sent.waitForCount(1));
    EXPECT_FALSE(sent.values()[0]);
}

// Runs the queue until `done` holds, giving the network time between runs.
bool runUntil(ManualQueue& queue, const std::function<bool()>& done) {
    for (int round = 0; round < 4000; ++round) {
        queue.runUntilIdle();
        if (done()) {
            return true;
        }
        std::this_thread::sleep_for(5ms);
    }
    return false;
}

TEST(TlsConnectionDeliveryTests, AnOwnerQueueThatIsNoStrandGetsEverythingThroughTheQueueItself) {
    auto manual = std::make_shared<ManualQueue>();
    Connected client(manual);
    const auto testThread = std::this_thread::get_id();
    ASSERT_TRUE(runUntil(*manual, [&] { return client.states->values().size() == 2; }));
    EXPECT_EQ(client.states->values()[1], std::pair(State::ready, testThread));

    // Asked for before the data comes, so that a socket completion serves it.
    EventLog<std::pair<Bytes, std::thread::id>> received;
    client.connection->receive(5, 5, [&](Bytes data, bool, const auto&) {
        received.push({std::move(data), std::this_thread::get_id()});
    });
    auto peer = client.peer();
    ASSERT_TRUE(peer && peer->waitFor(State::ready));
    peer->connection().send(toBytes("hello"));
    ASSERT_TRUE(runUntil(*manual, [&] { return !received.values().empty(); }));
    EXPECT_EQ(received.values()[0], std::pair(toBytes("hello"), testThread));
    client.connection->forceCancel();
    manual->runUntilIdle();
}

TEST(TlsConnectionDeliveryTests, AnOwnerThatThrowsDoesNotStallTheConnection) {
    LogCapture log;
    Connected client(Queue::make("owner"));
    ASSERT_TRUE(client.waitForReady());
    EventLog<std::string> received;
    client.connection->receive(3, 3, [](Bytes, bool, const auto&) { throw std::runtime_error("owner bug"); });
    client.connection->receive(3, 3, [&](Bytes data, bool, const auto&) { received.push(toString(data)); });
    auto peer = client.peer();
    ASSERT_TRUE(peer && peer->waitFor(State::ready));
    peer->connection().send(toBytes("abcdef"));
    ASSERT_TRUE(received.waitForCount(1));
    EXPECT_EQ(received.values()[0], "def");
    EXPECT_TRUE(log.contains("owner bug"));
}

// Five senders at once, four threads and the owner's queue, each numbering its records: every
// record arrives whole, and each sender's in its order.
TEST(TlsConnectionDeliveryTests, SendersOnManyThreadsKeepEachOnesOrder) {
    constexpr int senders = 5;
    constexpr std::uint32_t recordsEach = 300;
    Connected client(Queue::make("owner"));
    ASSERT_TRUE(client.waitForReady());
    auto peer = client.peer();
    ASSERT_TRUE(peer);
    peer->readContinuously();

    // sender, sequence number (4 bytes), length (2 bytes), then `length` copies of the sender byte
    const auto record = [](std::uint8_t sender, std::uint32_t sequence) {
        const auto length = 1 + (sequence * 7919 + sender * 104729) % 4000;
        Bytes bytes{sender};
        for (const std::uint32_t field : {sequence >> 16, sequence, length}) {
            bytes.insert(bytes.end(), {std::uint8_t(field >> 8), std::uint8_t(field)});
        }
        bytes.resize(bytes.size() + length, sender);
        return bytes;
    };
    std::size_t total = 0;
    for (std::uint8_t sender = 0; sender < senders; ++sender) {
        for (std::uint32_t sequence = 0; sequence < recordsEach; ++sequence) {
            total += record(sender, sequence).size();
        }
    }
    std::vector<std::thread> threads;
    for (std::uint8_t sender = 0; sender + 1 < senders; ++sender) {
        threads.emplace_back([&, sender] {
            for (std::uint32_t sequence = 0; sequence < recordsEach; ++sequence) {
                client.connection->send(record(sender, sequence));
            }
        });
    }
    for (std::uint32_t sequence = 0; sequence < recordsEach; ++sequence) {
        client.queue->post([&, sequence] { client.connection->send(record(senders - 1, sequence)); });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    ASSERT_TRUE(peer->waitForBytes(total));

    const Bytes stream = peer->received();
    ASSERT_EQ(stream.size(), total);
    std::map<std::uint8_t, std::uint32_t> next;
    for (std::size_t at = 0; at < stream.size();) {
        const std::uint8_t sender = stream[at];
        std::uint32_t sequence = 0;
        for (std::size_t byte = 1; byte <= 4; ++byte) {
            sequence = sequence << 8 | stream[at + byte];
        }
        ASSERT_EQ(sequence, next[sender]++) << "sender " << int{sender};
        const Bytes expected = record(sender, sequence);
        const ByteView found = ByteView(stream).subspan(at, std::min(expected.size(), stream.size() - at));
        ASSERT_EQ(Bytes(found.begin(), found.end()), expected);
        at += expected.size();
    }
    EXPECT_EQ(next.size(), static_cast<std::size_t>(senders));
}

} // namespace
} // namespace velm
