#include "tests/support/Blocking.h"
#include "tests/support/ChannelServer.h"
#include "tests/support/EventLog.h"
#include "tests/support/FakeDiscovery.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RawTls.h"
#include "transport/channel/ControlChannel.h"
#include "transport/keys/HelloProof.h"

#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

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

const PreSharedKey ipad = device("ipad", 7);

Bytes frame(std::uint8_t channel, const Bytes& payload) {
    return *ChannelFrame::encode(channel, payload);
}
constexpr std::uint8_t control = 0, input = 1, clipboard = 2, audio = 3, file = 4;

// A connected pair: an outgoing channel and the host's accepted one, both ready.
struct Pair {
    ChannelServer server{{ipad}};
    std::unique_ptr<ChannelProbe> client =
        std::make_unique<ChannelProbe>(ControlChannel::outgoing(server.endpoint(), ipad));
    std::shared_ptr<ChannelProbe> host;

    bool connect() {
        client->start();
        if (!client->waitForReady() || !server.waitForAccepted(1)) {
            return false;
        }
        host = server.accepted(0);
        return host->waitForReady();
    }
};

// An outgoing channel to a bare TLS peer that runs `script` on its own thread.
struct RawPeerSession {
    RawListener listener;
    std::thread thread;
    std::unique_ptr<ChannelProbe> client;

    explicit RawPeerSession(std::function<void(RawTlsPeer&)> script) {
        thread = std::thread([this, script = std::move(script)] {
            auto peer = RawTlsPeer::accept(listener.accept(), {"ipad", keyOf(7)});
            script(*peer);
        });
        client = std::make_unique<ChannelProbe>(
            ControlChannel::outgoing(Endpoint::hostPort("127.0.0.1", listener.port()), ipad));
        client->start();
    }
    ~RawPeerSession() { join(); }
    void join() {
        if (thread.joinable()) {
            thread.join();
        }
    }
};

TEST(ControlChannelTests, BothEndsShareTheSessionAndTheHelloProvesTheDeviceKey) {
    Pair pair;
    ASSERT_TRUE(pair.connect());
    auto& client = pair.client;
    auto& host = pair.host;
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
    auto channel = ControlChannel::outgoing(vacant(), ipad);
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

        ChannelServer server({ipad});
        auto rawClient = RawTlsPeer::connect(server.port(), options);
        ASSERT_TRUE(rawClient && rawClient->handshakeSucceeded());
        ASSERT_TRUE(server.waitForAccepted(1));
        ASSERT_TRUE(server.accepted(0)->waitForReady());
        EXPECT_EQ(server.accepted(0)->channel().forwardSecret(), isForwardSecret);
        EXPECT_EQ(server.accepted(0)->channel().sessionBinding(), rawClient->binding());
    }
}

TEST(ControlChannelTests, AWrongKeyOrAnUnknownIdentityFailsAuthenticationOnBothEnds) {
    ChannelServer server({ipad});
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
    auto refused = dial(vacant(), ipad, {600s, 600s, {}});
    // Accepts TCP but never answers the handshake.
    RawListener silent;
    auto stalled = dial(Endpoint::hostPort("127.0.0.1", silent.port()), ipad, {200ms, 4s, {}});
    auto held = silent.accept();
    // A service that is resolved, one that is not found in time, and one with nothing to resolve it.
    ChannelServer server({ipad});
    test::FakeDiscovery discovery;
    discovery.addRemote({"Office", "_velm._tcp", server.port(), {}}, TxtRecord{});
    const auto resolver = [&](std::shared_ptr<Queue> queue) { return discovery.makeResolver(queue); };
    auto unresolvable = dial(service("Office"), ipad);
    auto found = dial(service("Office"), ipad, {8s, 4s, resolver});
    auto missing = dial(service("Kitchen"), ipad, {8s, 50ms, resolver});
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
    ChannelServer server({ipad});
    auto held = std::make_shared<test::EventLog<InstanceResolver::Completion>>();
    auto client = dial(service("Office"), ipad,
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
    ChannelServer server({ipad}, /* startAccepted */ false);
    auto rawClient = RawTlsPeer::connect(server.port(), {"ipad", keyOf(7)});
    ASSERT_TRUE(server.waitForAccepted(1));
    auto host = server.accepted(0);
    host->channel().cancel();
    host->start(); // too late: the channel is used up
    EXPECT_TRUE(rawClient->readToEnd().empty());
    EXPECT_TRUE(host->settle());
    EXPECT_TRUE(host->events().empty());
}

TEST(ControlChannelTrafficTests, FramesArriveAsTheirEventsAndUndecodableOnesAreDropped) {
    Pair pair;
    ASSERT_TRUE(pair.connect());
    ControlChannel& client = pair.client->channel();
    const Bytes fileData(1000, 0x42);
    client.send(control, toBytes("{\"ping\":")); // not JSON
    client.send(ControlMessage::ping(1, 2));
    test::EventLog<bool> pingSent;
    client.send(ControlMessage::ping(3, 4), [&](bool result) { pingSent.push(result); });
    client.send(input, Bytes{0xFF}); // no such event
    client.send(InputEvent::keyDown(4));
    client.send(clipboard, Bytes{0xFF});
    client.send(ClipboardMessage::text("hi"));
    client.send(audio, Bytes{0, 0, 0, 9}); // a sequence number and no packet
    client.sendAudio(Bytes{0xAA}, 9);
    client.send(file, Bytes{});
    client.sendFile(fileData, nullptr);
    client.send(7, Bytes{});
    client.send(200, Bytes{1, 2});
    // A payload over the frame limit is refused, and the channel stays open.
    LogCapture log;
    const Bytes largest(ChannelFrame::maxPayloadLength, 0x11);
    const Bytes tooLarge(ChannelFrame::maxPayloadLength + 1, 0x22);
    std::optional<bool> sent;
    client.sendFile(tooLarge, [&](bool result) { sent = result; });
    EXPECT_EQ(sent, false);
    std::optional<bool> tooLargeSent;
    client.send(
        ControlMessage::apps({{.bundleID = "big", .name = std::string(tooLarge.size(), 'a'), .iconPNG = {}}}),
        [&](bool result) { tooLargeSent = result; });
    EXPECT_EQ(tooLargeSent, false);
    client.send(99, tooLarge);
    client.send(99, largest);
    EXPECT_TRUE(log.contains("over the frame limit"));

    const std::vector<Event> expected{Event::Ready{},
                                      Event::Control{ControlMessage::ping(1, 2)},
                                      Event::Control{ControlMessage::ping(3, 4)},
                                      Event::Input{InputEvent::keyDown(4)},
                                      Event::Clipboard{ClipboardMessage::text("hi")},
                                      Event::Audio{9, Bytes{0xAA}},
                                      Event::File{fileData},
                                      Event::Other{{7, {}}},
                                      Event::Other{{200, {1, 2}}},
                                      Event::Other{{99, largest}}};
    ASSERT_TRUE(pair.host->waitForMessages(expected.size() - 1));
    EXPECT_TRUE(pair.host->settle());
    EXPECT_EQ(pair.host->events(), expected);
    ASSERT_TRUE(pingSent.waitForCount(1));
    EXPECT_EQ(pingSent.values(), std::vector<bool>{true});
}

TEST(ControlChannelTrafficTests, TheLastFrameBeforeThePeerClosesIsDelivered) {
    RawPeerSession session([](RawTlsPeer& peer) {
        peer.write(frame(control, *ControlMessage::bye(ByeReason::userDisconnected).jsonEncoded()));
        peer.closeNotify();
    });
    ASSERT_TRUE(session.client->waitForClose());
    EXPECT_EQ(session.client->messages(),
              std::vector<Event>{Event::Control{ControlMessage::bye(ByeReason::userDisconnected)}});
    EXPECT_EQ(session.client->closeReason(), CloseReason::lost);
}

TEST(ControlChannelTrafficTests, AnOverlongFrameEndsTheChannel) {
    std::atomic<bool> delivered = false;
    RawPeerSession session([&](RawTlsPeer& peer) {
        peer.write(frame(input, InputEvent::keyUp(4).encoded()));
        Blocking::waitUntil([&] { return delivered.load(); });
        peer.write(Bytes{0x00, 0x40, 0x00, 0x01});
        peer.readToEnd();
    });
    ASSERT_TRUE(session.client->waitForMessages(1));
    delivered = true;
    ASSERT_TRUE(session.client->waitForClose());
    EXPECT_EQ(session.client->messages(), std::vector<Event>{Event::Input{InputEvent::keyUp(4)}});
    EXPECT_EQ(session.client->closeReason(), CloseReason::lost);
}

TEST(ControlChannelTrafficTests, ASlowPeerIsServedByteByByteAndCanStillBeCancelled) {
    std::atomic<bool> delivered = false;
    Bytes afterCancel;
    RawPeerSession session([&](RawTlsPeer& peer) {
        for (std::uint8_t byte : frame(input, InputEvent::keyDown(9).encoded())) {
            peer.write(Bytes{byte});
            std::this_thread::sleep_for(100ms);
        }
        Blocking::waitUntil([&] { return delivered.load(); });
        peer.write(Bytes{0x00, 0x00}); // half a header, and then nothing
        afterCancel = peer.readToEnd();
    });
    ASSERT_TRUE(session.client->waitForMessages(1));
    delivered = true;
    EXPECT_EQ(session.client->messages(), std::vector<Event>{Event::Input{InputEvent::keyDown(9)}});
    session.client->channel().send(ControlMessage::bye(ByeReason::userDisconnected));
    session.client->channel().cancel();
    ASSERT_TRUE(session.client->waitForClose());
    EXPECT_EQ(session.client->closeReason(), CloseReason::cancelled);
    session.join();
    EXPECT_EQ(afterCancel, frame(control, *ControlMessage::bye(ByeReason::userDisconnected).jsonEncoded()));
}

TEST(ControlChannelTrafficTests, CancelFlushesTheGoodbyeSentJustBeforeIt) {
    Pair pair;
    ASSERT_TRUE(pair.connect());
    const Bytes bulk(3 << 20, 0x33);
    pair.client->channel().sendFile(bulk, nullptr);
    pair.client->channel().send(ControlMessage::bye(ByeReason::userDisconnected));
    pair.client->channel().cancel();
    pair.client->release(); // the cancel still runs and reports

    ASSERT_TRUE(pair.host->waitForClose());
    EXPECT_EQ(pair.host->messages(),
              (std::vector<Event>{Event::File{bulk},
                                  Event::Control{ControlMessage::bye(ByeReason::userDisconnected)}}));
    EXPECT_EQ(pair.host->closeReason(), CloseReason::lost);
    ASSERT_TRUE(pair.client->waitForClose());
    EXPECT_EQ(pair.client->closeReason(), CloseReason::cancelled);
}

TEST(ControlChannelTrafficTests, NothingIsDeliveredAfterTheClose) {
    // The client's owner cancels on the first message while many more are on their way.
    ChannelServer server({ipad});
    test::EventLog<Event> seen;
    auto client = ControlChannel::outgoing(server.endpoint(), ipad);
    client->setOnEvent([&seen, weak = std::weak_ptr(client)](Event event) {
        if (event.get<Event::Input>() && seen.values().size() == 1) {
            weak.lock()->cancel();
            std::this_thread::sleep_for(50ms); // more data piles up meanwhile
        }
        seen.push(std::move(event));
    });
    client->start(Queue::make("owner"));
    ASSERT_TRUE(server.waitForAccepted(1));
    auto host = server.accepted(0);
    ASSERT_TRUE(host->waitForReady());
    for (int i = 0; i < 20000; ++i) {
        host->channel().send(InputEvent::pointerMove(0.5f, 0.5f));
    }
    ASSERT_TRUE(seen.waitFor([](const auto& events) {
        return std::any_of(events.begin(), events.end(),
                           [](const Event& e) { return e.get<Event::Closed>(); });
    }));
    std::this_thread::sleep_for(100ms); // room for a late read to show itself
    EXPECT_TRUE(seen.values().back().get<Event::Closed>());
}

TEST(ControlChannelTrafficTests, TheCloseIsReportedOnceWhateverRaces) {
    ChannelServer server({ipad});
    for (int round = 0; round < 20; ++round) {
        auto client = dial(server.endpoint(), ipad);
        ASSERT_TRUE(client->waitForReady());
        ASSERT_TRUE(server.waitForAccepted(round + 1));
        auto host = server.accepted(round);
        ASSERT_TRUE(host->waitForReady());
        std::thread hostSide([&] {
            host->channel().send(ControlMessage::bye(ByeReason::hostQuit));
            host->channel().cancel();
        });
        client->channel().cancel();
        client->channel().cancel();
        hostSide.join();
        ASSERT_TRUE(client->waitForClose() && host->waitForClose());
        host->channel().cancel(); // again, after it closed
        EXPECT_TRUE(client->settle() && host->settle());
        EXPECT_EQ(client->closeCount(), 1u) << "round " << round;
        EXPECT_EQ(host->closeCount(), 1u) << "round " << round;
    }
}

} // namespace
} // namespace velm
