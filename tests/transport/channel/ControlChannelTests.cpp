#include "tests/support/ChannelServer.h"
#include "tests/support/FakeDiscovery.h"
#include "tests/support/RawTls.h"
#include "transport/channel/ControlChannel.h"
#include "transport/keys/HelloProof.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

using test::ChannelProbe;
using test::ChannelServer;
using test::RawListener;
using test::RawTlsPeer;
using Event = ControlChannel::Event;
using CloseReason = ControlChannel::CloseReason;
using namespace std::chrono_literals;

Bytes keyOf(std::uint8_t seed) {
    return Bytes(32, seed);
}
PreSharedKey device(const std::string& id, std::uint8_t seed) {
    return *PreSharedKey::forDevice(id, keyOf(seed));
}

std::unique_ptr<ChannelProbe> dial(const Endpoint& endpoint, PreSharedKey key,
                                   ControlChannel::Options options = {}) {
    auto probe = std::make_unique<ChannelProbe>(
        ControlChannel::outgoing(endpoint, std::move(key), std::move(options)));
    probe->start();
    return probe;
}

Endpoint service(const std::string& name) {
    return Endpoint::service({name, "_velm._tcp", "", 0, {}});
}

Endpoint vacant() {
    return Endpoint::hostPort("127.0.0.1", RawListener().port());
}

TEST(ControlChannelTests, BothEndsShareTheSessionAndTheHelloProvesTheDeviceKey) {
    ChannelServer server({device("ipad", 7)});
    auto client = dial(server.endpoint(), device("ipad", 7));
    ASSERT_TRUE(client->waitForReady());
    ASSERT_TRUE(server.waitForAccepted(1));
    auto host = server.accepted(0);
    ASSERT_TRUE(host->waitForReady());

    const auto binding = client->channel().sessionBinding();
    ASSERT_TRUE(binding);
    EXPECT_EQ(binding, host->channel().sessionBinding());

    const ControlMessage hello = client->channel().hello("ipad", "Tablet", 2048, 1536, 120, keyOf(7));
    client->channel().send(hello);
    ASSERT_TRUE(host->waitForMessages(1));
    ASSERT_EQ(host->messages()[0], Event(Event::Control{hello}));
    const ClientHello& sent = hello.get<ControlMessage::Hello>()->hello;
    ASSERT_TRUE(sent.proof);
    EXPECT_TRUE(isValidHelloProof(*sent.proof, keyOf(7), *host->channel().sessionBinding()));
}

TEST(ControlChannelTests, BeforeAConnectionThereIsNoProofAndNothingIsSent) {
    auto channel = ControlChannel::outgoing(vacant(), device("ipad", 7));
    EXPECT_FALSE(
        channel->hello("ipad", "Tablet", 0, 0, 0, keyOf(7)).get<ControlMessage::Hello>()->hello.proof);
    std::optional<bool> sent;
    channel->sendFile(Bytes(10, 1), [&](bool result) { sent = result; });
    EXPECT_EQ(sent, false); // at once, on this thread
}

TEST(ControlChannelTests, ForwardSecrecyFollowsTheNegotiatedSuite) {
    for (const auto& [suite, isForwardSecret] :
         {std::pair{"ECDHE-PSK-CHACHA20-POLY1305", true}, std::pair{"PSK-AES128-GCM-SHA256", false}}) {
        SCOPED_TRACE(suite);
        const RawTlsPeer::Options options{"ipad", keyOf(7), suite};

        ChannelServer server({device("ipad", 7)});
        auto rawClient = RawTlsPeer::connect(server.port(), options);
        ASSERT_TRUE(rawClient && rawClient->handshakeSucceeded());
        ASSERT_TRUE(server.waitForAccepted(1));
        ASSERT_TRUE(server.accepted(0)->waitForReady());
        EXPECT_EQ(server.accepted(0)->channel().forwardSecret(), isForwardSecret);
        EXPECT_EQ(server.accepted(0)->channel().sessionBinding(), rawClient->binding());
    }
}

TEST(ControlChannelTests, AWrongKeyOrAnUnknownIdentityFailsAuthenticationOnBothEnds) {
    ChannelServer server({device("ipad", 7)});
    auto wrongKey = dial(server.endpoint(), device("ipad", 8));
    auto stranger = dial(server.endpoint(), device("phone", 7));
    ASSERT_TRUE(server.waitForAccepted(2));
    for (ChannelProbe* probe :
         {wrongKey.get(), stranger.get(), server.accepted(0).get(), server.accepted(1).get()}) {
        ASSERT_TRUE(probe->waitForClose());
        EXPECT_EQ(probe->events(), std::vector<Event>{Event::Closed{CloseReason::authenticationFailed}});
    }
}

TEST(ControlChannelTests, UnreachablePeersAndServicesCloseAsUnreachable) {
    // Refused at once: the long time-out is never reached.
    auto refused = dial(vacant(), device("ipad", 7), {600s, 600s, {}});
    // Accepts TCP but never answers the handshake.
    RawListener silent;
    auto stalled = dial(Endpoint::hostPort("127.0.0.1", silent.port()), device("ipad", 7), {200ms, 4s, {}});
    auto held = silent.accept();
    // A service that is resolved, one that is not found in time, and one with nothing to resolve it.
    ChannelServer server({device("ipad", 7)});
    test::FakeDiscovery discovery;
    discovery.addRemote({"Office", "_velm._tcp", server.port(), {}}, TxtRecord{});
    const auto resolver = [&](std::shared_ptr<Queue> queue) { return discovery.makeResolver(queue); };
    auto unresolvable = dial(service("Office"), device("ipad", 7));
    auto found = dial(service("Office"), device("ipad", 7), {8s, 4s, resolver});
    auto missing = dial(service("Kitchen"), device("ipad", 7), {8s, 50ms, resolver});
    for (ChannelProbe* probe : {refused.get(), stalled.get(), unresolvable.get(), missing.get()}) {
        ASSERT_TRUE(probe->waitForClose());
        EXPECT_EQ(probe->events(), std::vector<Event>{Event::Closed{CloseReason::unreachable}});
    }
    EXPECT_TRUE(found->waitForReady());
}

// Answers a resolution only when the test says so.
struct HeldResolver final : InstanceResolver {
    explicit HeldResolver(std::shared_ptr<test::EventLog<Completion>> log) : held(std::move(log)) {}
    void resolve(ServiceInstance, std::chrono::steady_clock::duration, Completion completion) override {
        held->push(std::move(completion));
    }
    void cancel() override {}
    std::shared_ptr<test::EventLog<Completion>> held;
};

TEST(ControlChannelTests, SendsWhileResolvingAreDroppedAndSendsBeforeReadyAreHeld) {
    ChannelServer server({device("ipad", 7)});
    auto held = std::make_shared<test::EventLog<InstanceResolver::Completion>>();
    auto client = dial(service("Office"), device("ipad", 7),
                       {8s, 4s, [held](auto) { return std::make_unique<HeldResolver>(held); }});
    ASSERT_TRUE(held->waitForCount(1));
    client->channel().send(ControlMessage::ping(1, 0));
    client->queue()->post([&, port = server.port()] {
        held->values()[0](ResolvedService{"office.local", "127.0.0.1", port, 1});
        client->channel().send(ControlMessage::ping(2, 0)); // the connection exists, not yet ready
    });
    ASSERT_TRUE(server.waitForAccepted(1));
    ASSERT_TRUE(server.accepted(0)->waitForMessages(1));
    EXPECT_TRUE(server.accepted(0)->settle());
    EXPECT_EQ(server.accepted(0)->messages(), std::vector<Event>{Event::Control{ControlMessage::ping(2, 0)}});
}

TEST(ControlChannelTests, AnAcceptedChannelCancelledBeforeStartClosesSilently) {
    ChannelServer server({device("ipad", 7)}, /* startAccepted */ false);
    auto rawClient = RawTlsPeer::connect(server.port(), {"ipad", keyOf(7)});
    ASSERT_TRUE(server.waitForAccepted(1));
    auto host = server.accepted(0);
    host->channel().cancel();
    host->start(); // too late: the channel is used up
    EXPECT_TRUE(rawClient->readToEnd().empty());
    EXPECT_TRUE(host->settle());
    EXPECT_TRUE(host->events().empty());
}

} // namespace
} // namespace velm
