#include "tests/support/Blocking.h"
#include "tests/support/ChannelServer.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RawTls.h"
#include "transport/channel/ControlChannel.h"

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

const PreSharedKey ipad = *PreSharedKey::forDevice("ipad", Bytes(32, 7));

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
            auto peer = RawTlsPeer::accept(listener.accept(), {"ipad", Bytes(32, 7)});
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

TEST(ControlChannelTrafficTests, FramesArriveAsTheirEventsAndUndecodableOnesAreDropped) {
    Pair pair;
    ASSERT_TRUE(pair.connect());
    ControlChannel& client = pair.client->channel();
    const Bytes fileData(1000, 0x42);
    client.send(control, toBytes("{\"ping\":")); // not JSON
    client.send(ControlMessage::ping(1, 2));
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
    client.send(99, tooLarge);
    client.send(99, largest);
    EXPECT_TRUE(log.contains("over the frame limit"));

    const std::vector<Event> expected{Event::Ready{},
                                      Event::Control{ControlMessage::ping(1, 2)},
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
        auto client = std::make_unique<ChannelProbe>(ControlChannel::outgoing(server.endpoint(), ipad));
        client->start();
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
