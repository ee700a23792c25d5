#include "tests/support/LogCapture.h"
#include "tests/support/SystemCallFaults.h"
#include "tests/transport/away/door/DoorNetwork.h"
#include "transport/away/door/DoorListener.h"

#include <algorithm>
#include <cerrno>
#include <gtest/gtest.h>
#include <memory>
#include <sys/socket.h>
#include <vector>

namespace velm {
namespace {

using namespace std::chrono_literals;
using test::LoopbackPeer;
using test::pumpUntil;

Bytes knock(std::uint8_t fill) {
    return Bytes(93, fill);
}

class DoorListenerTest : public ::testing::Test {
protected:
    struct Offer {
        Bytes datagram;
        DoorListener::Reply reply;
    };

    void SetUp() override {
        listener->setOnDatagram([this](Bytes datagram, DoorListener::Reply reply) {
            offers.push_back({std::move(datagram), std::move(reply)});
        });
        listener->setOnPort([this](std::optional<std::uint16_t> bound) { ports.push_back(bound); });
        ASSERT_TRUE(open(std::nullopt));
        port = *ports.back();
    }

    void TearDown() override {
        listener->close();
        queue->runUntilIdle();
    }

    // Opens and waits for the port report; true when a port was reported.
    bool open(std::optional<std::uint16_t> wanted) {
        const std::size_t reports = ports.size();
        listener->open(wanted);
        return pumpUntil(*queue, [&] { return ports.size() > reports; }) && ports.back().has_value();
    }

    bool waitForOffers(std::size_t count) {
        return pumpUntil(*queue, [&] { return offers.size() >= count; });
    }

    void answer(std::size_t offer, std::optional<Bytes> reply) {
        offers.at(offer).reply(std::move(reply));
        queue->runUntilIdle();
    }

    std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>("door");
    std::shared_ptr<DoorListener> listener = DoorListener::make(queue);
    std::vector<Offer> offers;
    std::vector<std::optional<std::uint16_t>> ports;
    std::uint16_t port = 0;
};

TEST_F(DoorListenerTest, ABadDatagramEndsItsFlowUnseenAndTheNextStartsANewOne) {
    LoopbackPeer peer;
    for (const std::size_t size : {92, 94, 0, 1500}) {
        peer.sendTo(port, Bytes(size, 2));
    }
    peer.sendTo(port, knock(1));
    ASSERT_TRUE(waitForOffers(1));
    EXPECT_EQ(offers[0].datagram, knock(1));
    queue->advance(4s);
    // Waits behind the offered knock, and ends the flow once it is read.
    peer.sendTo(port, Bytes(92, 2));
    LoopbackPeer marker;
    marker.sendTo(port, knock(9));
    ASSERT_TRUE(waitForOffers(2));
    answer(0, Bytes{1});
    ASSERT_EQ(peer.receive(), (Bytes{1}));

    // A new flow lives 6 s from now, past the old flow's end.
    peer.sendTo(port, knock(3));
    ASSERT_TRUE(waitForOffers(3));
    queue->advance(3s);
    answer(2, Bytes{3});
    EXPECT_EQ(peer.receive(), (Bytes{3}));
}

TEST_F(DoorListenerTest, AnAnsweredPeerIsOfferedAgainUntilSixSecondsAfterItsFirstDatagram) {
    LoopbackPeer peer;
    peer.sendTo(port, knock(1));
    ASSERT_TRUE(waitForOffers(1));
    EXPECT_EQ(offers[0].datagram, knock(1));
    answer(0, Bytes{1});
    ASSERT_EQ(peer.receive(), (Bytes{1}));
    EXPECT_EQ(peer.lastSender().port(), port);
    // Only the first use of a reply counts.
    answer(0, Bytes{4});
    EXPECT_FALSE(peer.pending());

    queue->advance(5s);
    peer.sendTo(port, knock(2));
    ASSERT_TRUE(waitForOffers(2));
    queue->advance(1s);
    // The flow is gone: this reply goes nowhere, and the next datagram starts a new flow.
    answer(1, Bytes{2});
    peer.sendTo(port, knock(3));
    ASSERT_TRUE(waitForOffers(3));
    answer(2, Bytes{3});
    EXPECT_EQ(peer.receive(), (Bytes{3}));
}

TEST_F(DoorListenerTest, AStaleTimerLeavesANewerFlowOfThePeerAlone) {
    LoopbackPeer peer;
    peer.sendTo(port, knock(1));
    ASSERT_TRUE(waitForOffers(1));
    answer(0, std::nullopt);

    queue->advance(2s);
    peer.sendTo(port, knock(2));
    ASSERT_TRUE(waitForOffers(2));
    queue->advance(4500ms);
    answer(1, Bytes{2});
    EXPECT_EQ(peer.receive(), (Bytes{2}));
}

TEST_F(DoorListenerTest, TheFortyNinthPeerEvictsTheOldest) {
    std::vector<std::unique_ptr<LoopbackPeer>> peers;
    for (std::uint8_t index = 0; index < 49; ++index) {
        peers.push_back(std::make_unique<LoopbackPeer>());
        peers.back()->sendTo(port, knock(index));
        ASSERT_TRUE(waitForOffers(index + 1u));
    }
    answer(0, Bytes{0});
    answer(1, Bytes{1});
    answer(48, Bytes{48});
    EXPECT_EQ(peers[1]->receive(), (Bytes{1}));
    EXPECT_EQ(peers[48]->receive(), (Bytes{48}));
    EXPECT_FALSE(peers[0]->pending());
}

TEST_F(DoorListenerTest, APeerWaitingForItsReplyHoldsOnlyAFewDatagrams) {
    LoopbackPeer peer;
    peer.sendTo(port, knock(1));
    ASSERT_TRUE(waitForOffers(1));
    for (std::uint8_t fill = 2; fill <= 11; ++fill) {
        peer.sendTo(port, knock(fill));
    }
    // Once the marker is offered, everything the peer sent before has been read.
    LoopbackPeer marker;
    marker.sendTo(port, knock(100));
    ASSERT_TRUE(waitForOffers(2));

    std::vector<std::uint8_t> offered{offers[0].datagram[0]};
    std::size_t next = 0;
    while (true) {
        answer(next, Bytes{1});
        const auto found = std::find_if(offers.begin() + static_cast<std::ptrdiff_t>(next) + 1, offers.end(),
                                        [](const Offer& offer) { return offer.datagram[0] != 100; });
        if (found == offers.end()) {
            break;
        }
        next = static_cast<std::size_t>(found - offers.begin());
        offered.push_back(found->datagram[0]);
    }
    EXPECT_EQ(offered, (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));
}

TEST_F(DoorListenerTest, ClosingOrReopeningMakesPendingRepliesDoNothing) {
    LoopbackPeer peer;
    peer.sendTo(port, knock(1));
    ASSERT_TRUE(waitForOffers(1));
    ASSERT_TRUE(open(std::nullopt));
    const std::uint16_t reopened = *ports.back();
    answer(0, Bytes{1});
    EXPECT_FALSE(peer.pending());

    peer.sendTo(reopened, knock(2));
    ASSERT_TRUE(waitForOffers(2));
    listener->close();
    answer(1, Bytes{2});
    EXPECT_FALSE(peer.pending());
}

// A socket that fails while the door waits is opened again on the door's port; only one that keeps
// failing is reported, once, as a door that cannot listen.
TEST_F(DoorListenerTest, ASocketThatFailsIsOpenedAgainAndOnlyAPersistentFailureEndsTheDoor) {
    LogCapture log;
    LoopbackPeer peer;
    {
        const auto fault = test::SystemCallFaults::failReceivingOn(port, ENOMEM);
        peer.sendTo(port, knock(1));
        ASSERT_TRUE(pumpUntil(*queue, [&] { return log.contains("door failed"); }));
    }
    ASSERT_TRUE(test::pumpUntilWithTime(*queue, 10s, [&] {
        peer.sendTo(port, knock(2));
        return !offers.empty();
    }));
    EXPECT_EQ(offers[0].datagram, knock(2));
    answer(0, Bytes{2});
    EXPECT_EQ(peer.receive(), (Bytes{2}));
    EXPECT_EQ(ports, (std::vector<std::optional<std::uint16_t>>{port}));

    const auto fault = test::SystemCallFaults::failReceivingOn(port, ENOMEM);
    ASSERT_TRUE(test::pumpUntilWithTime(*queue, 30s, [&] {
        peer.sendTo(port, knock(3));
        return ports.size() > 1;
    }));
    queue->advance(30s);
    queue->runUntilIdle();
    EXPECT_EQ(ports, (std::vector<std::optional<std::uint16_t>>{port, std::nullopt}));
    EXPECT_EQ(queue->pendingCount(), 0u);
}

// Peers waiting for an answer while the failed socket is opened again get it from the new socket; only
// the newest few answers are kept meanwhile.
TEST_F(DoorListenerTest, AnswersGivenWhileTheSocketIsOpenedAgainAreSentFromTheNewOne) {
    LogCapture log;
    std::vector<std::unique_ptr<LoopbackPeer>> peers;
    for (std::uint8_t index = 0; index <= DoorListener::maxHeldReplies; ++index) {
        peers.push_back(std::make_unique<LoopbackPeer>());
        peers.back()->sendTo(port, knock(index));
        ASSERT_TRUE(waitForOffers(index + 1u));
    }
    {
        const auto fault = test::SystemCallFaults::failReceivingOn(port, ENOMEM);
        LoopbackPeer breaker;
        breaker.sendTo(port, knock(100));
        ASSERT_TRUE(pumpUntil(*queue, [&] { return log.contains("door failed"); }));
    }
    for (std::uint8_t index = 0; index < peers.size(); ++index) {
        answer(index, Bytes{index});
    }
    EXPECT_FALSE(peers.back()->pending());

    queue->advance(DoorListener::reopenPause);
    queue->runUntilIdle();
    for (std::uint8_t index = 1; index < peers.size(); ++index) {
        EXPECT_EQ(peers[index]->receive(), (Bytes{index}));
        EXPECT_EQ(peers[index]->lastSender().port(), port);
    }
    EXPECT_FALSE(peers[0]->pending());
    EXPECT_EQ(ports, (std::vector<std::optional<std::uint16_t>>{port}));
}

TEST_F(DoorListenerTest, TheDoorPortIsNeverShared) {
    for (const int option : {SO_REUSEADDR, SO_REUSEPORT}) {
        asio::io_context io;
        asio::ip::udp::socket other(io, asio::ip::udp::v4());
        const int on = 1;
        ASSERT_EQ(setsockopt(other.native_handle(), SOL_SOCKET, option, &on, sizeof(on)), 0);
        std::error_code error;
        other.bind(asio::ip::udp::endpoint(asio::ip::address_v4::loopback(), port), error);
        EXPECT_TRUE(error) << option;
    }
    // Nor does the door share a port in use: it reports none.
    LoopbackPeer holder;
    EXPECT_FALSE(open(holder.port()));
    EXPECT_EQ(ports.back(), std::nullopt);
}

} // namespace
} // namespace velm
