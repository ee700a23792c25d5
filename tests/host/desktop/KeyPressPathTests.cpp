#include "Velm_Host/x11/X11HostDesktop.h"
#include "platform/x11/X11ScreenList.h"
#include "tests/host/model/ModelHarness.h"
#include "tests/support/X11InputRecorder.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

namespace velm {
namespace {

using Kind = test::X11InputRecorder::Kind;
using Received = test::X11InputRecorder::Received;

bool has(const std::vector<Received>& events, Kind kind, unsigned long keysym) {
    return std::any_of(events.begin(), events.end(),
                       [&](const Received& event) { return event.kind == kind && event.keysym == keysym; });
}

// The whole way of one key press: a paired device connects to the model's listener on loopback, is
// admitted to a main session, asks for a stream and presses a key, which an application on the
// sandbox's display receives from XTest. The files the key crosses on the host are listed by running
// this test alone under `valgrind --tool=callgrind --zero-before='velm::TlsStream::onRead*'
// --dump-after='velm::X11InputSink::postKey*'`: the first dump holds what ran from the arrival of the
// key's bytes to XTest (with the test client's own work beside it).
class KeyPressPathTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string reason;
        recorder = test::X11InputRecorder::open(reason);
        if (!recorder) {
            GTEST_SKIP() << reason;
        }
        host = std::make_unique<test::ModelHarness>(
            X11HostDesktop::make(X11ScreenList::make(queue), queue, nullptr, nullptr));
        host->start();
        recorder->takeRest();
    }

    // A paired device, connected and shown a stream, so that its input plays.
    std::unique_ptr<test::TestClient> streamingClient() {
        const auto key = host->pairDevice("KEYS");
        auto client = host->connect("KEYS", key);
        if (!client) {
            return nullptr;
        }
        client->send(ControlMessage::configureStream(StreamRequest{}));
        if (!host->pumpUntil(
                [&] { return client->hasReceived(test::isMessage<ControlMessage::StreamStarted>); })) {
            return nullptr;
        }
        return client;
    }

    // Collects what the window receives until it has seen the keysym's event of this kind.
    bool receivedUntil(Kind kind, unsigned long keysym) {
        return host->pumpUntil([&] {
            const auto arrived = recorder->take([](const auto& events) { return !events.empty(); },
                                                std::chrono::milliseconds(10));
            received.insert(received.end(), arrived.begin(), arrived.end());
            return has(received, kind, keysym);
        });
    }

    std::unique_ptr<test::X11InputRecorder> recorder;
    std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>("desktop");
    std::unique_ptr<test::ModelHarness> host;
    std::vector<Received> received;
};

TEST_F(KeyPressPathTest, AKeyPressedOnThePairedDeviceReachesTheFocusedWindow) {
    const auto client = streamingClient();
    ASSERT_TRUE(client);

    // HID usage 4 is the A key; without modifiers an application reads it as "a".
    client->send(InputEvent::keyDown(4));
    client->send(InputEvent::keyUp(4));
    ASSERT_TRUE(receivedUntil(Kind::keyRelease, XK_a));
    EXPECT_TRUE(has(received, Kind::keyPress, XK_a));
    EXPECT_FALSE(recorder->holdsAnything());
}

// The client pauses when its user leaves it; a key still down then would repeat on the desktop until
// the session ended.
TEST_F(KeyPressPathTest, AKeyHeldWhenTheDevicePausesIsLetGoAndLaterKeysStillPlay) {
    const auto client = streamingClient();
    ASSERT_TRUE(client);

    client->send(InputEvent::keyDown(4));
    ASSERT_TRUE(receivedUntil(Kind::keyPress, XK_a));
    client->send(ControlMessage::pauseStream());
    EXPECT_TRUE(host->pumpUntil([&] { return !recorder->holdsAnything(); }));

    // HID usage 5 is the B key.
    client->send(ControlMessage::configureStream(StreamRequest{}));
    client->send(InputEvent::keyDown(5));
    client->send(InputEvent::keyUp(5));
    EXPECT_TRUE(receivedUntil(Kind::keyRelease, XK_b));
}

} // namespace
} // namespace velm
