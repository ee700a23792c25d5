#include "platform/net/TlsListener.h"
#include "tests/host/model/ModelHarness.h"
#include "tests/support/EventLog.h"
#include "tests/support/FakeNotifications.h"
#include "transport/channel/VelmService.h"

#include <gtest/gtest.h>
#include <thread>

namespace velm {
namespace {

// The buttons of a notice from away, pressed on a real model whose device comes in through a session
// listener as away access would hand it over.
class AwayNoticeActionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        host.notifications = notices;
        host.model = host.makeModel();
        host.start();
        host.model->setAllowAwayAccess(true);
        key = host.pairDevice("ipad");

        listener->setOnState(
            [ready = listening](TlsListener::State state, const auto&) { ready->push(state); });
        listener->setOnConnection([this](auto connection) {
            host.away->onConnection(ControlChannel::accepted(std::move(connection)),
                                    AwayTicket{.knockID = {7}, .connection = ++connections});
        });
        listener->start(Queue::make("away session listener"));
        ASSERT_TRUE(listening->waitForCount(1));
    }

    void TearDown() override { listener->cancel(); }

    // A session of the device from away that the host admitted, its video port forwarded.
    std::unique_ptr<test::TestClient> connectFromAway() {
        auto client = std::make_unique<test::TestClient>(Endpoint::hostPort("127.0.0.1", listener->port()),
                                                         PreSharedKey::forAway(sessionKey));
        host.pumpUntil([&] { return client->hasSeen<ControlChannel::Event::Ready>(); });
        host.away->forwarded.clear();
        client->send(ControlMessage::hello(client->hello("ipad", key.view())));
        if (!host.pumpUntil([&] { return !host.away->forwarded.empty(); })) {
            return nullptr;
        }
        std::thread([&] { host.away->forwardDone(40123); }).join();
        return host.pumpUntil([&] { return host.model->state().connected.has_value(); }) ? std::move(client)
                                                                                         : nullptr;
    }

    bool disconnected() {
        return host.pumpUntil([&] { return !host.model->state().connected; });
    }

    test::ModelHarness host;
    const std::shared_ptr<test::FakeNotifications> notices =
        std::make_shared<test::FakeNotifications>(host.queue);
    SecretBytes key;
    const Bytes sessionKey = Bytes(32, 7);
    const std::shared_ptr<TlsListener> listener =
        TlsListener::make(VelmService::tlsParameters({PreSharedKey::forAway(sessionKey)}), std::nullopt);
    const std::shared_ptr<test::EventLog<TlsListener::State>> listening =
        std::make_shared<test::EventLog<TlsListener::State>>();
    std::uint64_t connections = 0;
};

TEST_F(AwayNoticeActionsTest, TheNoticeOfAVisitDisconnectsItsDeviceAndRemovesItLater) {
    auto client = connectFromAway();
    ASSERT_TRUE(client);
    ASSERT_TRUE(host.pumpUntil([&] { return notices->onScreen().size() == 1; }));
    const std::uint32_t notice = notices->onScreen().begin()->first;

    // A reconnect continues the visit without a notice of its own; the first one reaches its session.
    client->send(ControlMessage::bye(ByeReason::userDisconnected));
    ASSERT_TRUE(disconnected());
    EXPECT_EQ(notices->onScreen().size(), 1u) << "the notice stays after its session";
    client = connectFromAway();
    ASSERT_TRUE(client);
    notices->press(notice, "disconnect");
    ASSERT_TRUE(disconnected());
    ASSERT_TRUE(host.pumpUntil([&] { return client->bye().has_value(); }));
    EXPECT_EQ(client->bye(), ByeReason::remoteAccessDisabled);
    EXPECT_EQ(notices->onScreen().size(), 1u);

    // With no session left, "Disconnect" has nothing to do; "Remove Device" still works.
    notices->press(notice, "disconnect");
    host.queue->runUntilIdle();
    EXPECT_TRUE(host.model->registry()->device("ipad"));
    notices->press(notice, "remove-device");
    ASSERT_TRUE(host.pumpUntil([&] { return !host.model->registry()->device("ipad"); }));
}

} // namespace
} // namespace velm
