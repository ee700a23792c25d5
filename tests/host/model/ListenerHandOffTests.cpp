#include "tests/host/model/ModelHarness.h"
#include "tests/support/Blocking.h"
#include "tests/support/HandshakeCrowd.h"
#include "tests/support/Pump.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

using Event = ControlChannel::Event;
using Kind = HostListener::State::Kind;

// The model's listener reports on a queue that runs only when the test says: connections it accepted can
// be held on their way to the model behind a change of the listener's keys.
class ListenerHandOffTest : public ::testing::Test {
protected:
    // A device whose handshake waits for its last message, and one whose handshake is done; the listener
    // accepted both and handed them on behind whatever its queue already held.
    struct OnTheirWay {
        std::unique_ptr<test::HeldHandshake> held;
        std::unique_ptr<test::TestClient> admitted;
    };

    void SetUp() override {
        host.listenerQueue = std::make_shared<ManualQueue>("velm.host.listener");
        host.start();
        key = host.pairDevice("ipad");
        settle();
    }

    void settle() {
        ASSERT_TRUE(host.pumpUntil([&] {
            return listening().pendingCount() == 0 &&
                   host.model->state().listenerState.kind() == Kind::advertising;
        }));
    }

    std::unique_ptr<test::TestClient> readyClient(const std::string& deviceID, const SecretBytes& deviceKey) {
        auto client = std::make_unique<test::TestClient>(
            host.endpoint(), *PreSharedKey::forDevice(deviceID, deviceKey.view()));
        EXPECT_TRUE(test::pumpUntil(*host.queue, [&] { return client->hasSeen<Event::Ready>(); }));
        return client;
    }

    OnTheirWay connectBehindTheQueue() {
        const auto queued = listening().pendingCount();
        OnTheirWay way;
        way.held = test::HeldHandshake::connect(host.model->state().listenerState.port(),
                                                {"ipad", Bytes(key.view().begin(), key.view().end())});
        EXPECT_TRUE(way.held);
        way.admitted = readyClient("ipad", key);
        EXPECT_TRUE(Blocking::waitUntil([&] { return listening().pendingCount() == queued + 2; }));
        return way;
    }

    bool helloAcknowledged(test::TestClient& client, const std::string& deviceID,
                           const SecretBytes& deviceKey) {
        client.send(ControlMessage::hello(client.hello(deviceID, deviceKey.view())));
        const auto acknowledged = [&] {
            return client.hasReceived(test::isMessage<ControlMessage::HelloAck>);
        };
        host.pumpUntil([&] { return acknowledged() || client.bye() || client.hasSeen<Event::Closed>(); });
        return acknowledged();
    }

    // A client whose handshake ended one way or the other while the listener's queue stood still.
    std::unique_ptr<test::TestClient> handshakeAlone(const std::string& deviceID,
                                                     const SecretBytes& deviceKey) {
        auto client = std::make_unique<test::TestClient>(
            host.endpoint(), *PreSharedKey::forDevice(deviceID, deviceKey.view()));
        EXPECT_TRUE(test::pumpUntil(*host.queue, [&] {
            return client->hasSeen<Event::Ready>() || client->hasSeen<Event::Closed>();
        }));
        return client;
    }

    ManualQueue& listening() { return *host.listenerQueue; }

    test::ModelHarness host;
    SecretBytes key;
};

TEST_F(ListenerHandOffTest, ConnectionsOnTheirWayInOutliveAPairingWindowOpening) {
    host.model->registry()->openNewPairing(false);
    host.queue->runUntilIdle();
    ASSERT_EQ(listening().pendingCount(), 1u) << "the new keys are on their way to the listener";
    const auto way = connectBehindTheQueue();
    ASSERT_TRUE(way.held && way.admitted);
    const int made = host.sessionsMade;

    ASSERT_TRUE(host.pumpUntil([&] { return host.sessionsMade == made + 2; }));
    EXPECT_TRUE(way.held->finish());
    EXPECT_TRUE(helloAcknowledged(*way.admitted, "ipad", key));
    EXPECT_TRUE(host.model->state().pairingWindow);
}

// A device connects the moment its pairing answer arrives, and a forgotten one may try again at once: the
// handshake goes by the devices as they are then, however far behind the listener's own queue is.
TEST_F(ListenerHandOffTest, AHandshakeGoesByTheDevicesPairedAtThatMoment) {
    const auto macKey = host.pairDevice("mac");
    const auto newcomer = handshakeAlone("mac", macKey);
    EXPECT_TRUE(newcomer->hasSeen<Event::Ready>());

    host.model->removeDevice("ipad");
    host.queue->runUntilIdle();
    const auto forgotten = handshakeAlone("ipad", key);
    EXPECT_FALSE(forgotten->hasSeen<Event::Ready>());
    EXPECT_TRUE(forgotten->hasSeen<Event::Closed>());
}

// The device was forgotten between the handshake and the hello: its session is refused as a device that is
// not paired, with a word, rather than cut off on its way in.
TEST_F(ListenerHandOffTest, AConnectionAdmittedUnderAKeySinceRemovedIsRefusedAsNotPaired) {
    const auto macKey = host.pairDevice("mac");
    settle();
    const auto client = readyClient("mac", macKey);
    host.model->removeDevice("mac");
    host.queue->runUntilIdle();
    const int made = host.sessionsMade;

    ASSERT_TRUE(host.pumpUntil([&] { return host.sessionsMade == made + 1; }));
    EXPECT_FALSE(helloAcknowledged(*client, "mac", macKey));
    EXPECT_EQ(client->bye(), ByeReason::notPaired);
}

TEST_F(ListenerHandOffTest, SwitchingRemoteAccessOffLeavesNoneOfThem) {
    const auto current = host.connect("ipad", key);
    ASSERT_TRUE(current);
    host.model->registry()->openNewPairing(false);
    host.queue->runUntilIdle();
    const auto way = connectBehindTheQueue();
    ASSERT_TRUE(way.held && way.admitted);

    host.model->setAllowRemoteAccess(false);
    // The session in place says goodbye, and the connections on their way in are closed without a word.
    ASSERT_TRUE(host.pumpUntil(
        [&] { return current->bye() && way.admitted->hasSeen<Event::Closed>() && way.held->peerClosed(); }));
    EXPECT_EQ(current->bye(), ByeReason::remoteAccessDisabled);
    EXPECT_FALSE(way.admitted->bye());
    EXPECT_FALSE(way.held->finish());
    EXPECT_FALSE(host.model->state().connected);
    EXPECT_EQ(host.model->state().listenerState.kind(), Kind::stopped);
}

} // namespace
} // namespace velm
