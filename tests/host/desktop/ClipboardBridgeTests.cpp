#include "Velm_Host/desktop/ClipboardBridge.h"
#include "platform/x11/X11Clipboard.h"
#include "tests/support/X11ClipboardTest.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

// Sessions one after another on the process's one clipboard, as a reconnecting client makes them.
class ClipboardBridgeTest : public test::X11ClipboardTest {
protected:
    void SetUp() override {
        X11ClipboardTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        // Owning the clipboard once tells the test which window is the clipboard's.
        clipboard->put(ClipboardContent::text("offered once"));
        ASSERT_TRUE(peerReads("UTF8_STRING", toBytes("offered once")));
        clipboardWindow = peer->owner();
    }

    std::shared_ptr<ClipboardBridge> subscribedSession(std::vector<ClipboardMessage>& sent) {
        auto bridge = ClipboardBridge::make(clipboard, offers);
        bridge->setOnMessage([&sent](ClipboardMessage message) { sent.push_back(std::move(message)); });
        bridge->start();
        bridge->receive(ClipboardMessage::subscribe(true));
        queue->runUntilIdle();
        return bridge;
    }

    // Whether the clipboard asks the owner of a new local copy what it holds. Only rich text is
    // offered, so a read is that one request and ends there.
    bool readsALocalCopy() {
        const std::size_t before = peer->requestsSeen();
        peer->own({{"text/html", toBytes("<b>copied here</b>")}});
        EXPECT_TRUE(peer->answeredBy(clipboardWindow));
        return peer->requestsSeen() > before;
    }

    std::shared_ptr<X11Clipboard> clipboard = X11Clipboard::make(queue);
    std::shared_ptr<FileOffers> offers = std::make_shared<FileOffers>();
    unsigned long clipboardWindow = 0;
};

TEST_F(ClipboardBridgeTest, AnEarlierSessionStoppingLateLeavesTheNextOneItsLocalCopies) {
    std::vector<ClipboardMessage> toEarlier;
    std::vector<ClipboardMessage> toLater;
    const auto earlier = subscribedSession(toEarlier);
    const auto later = subscribedSession(toLater);
    earlier->stop();

    peer->own({{"UTF8_STRING", toBytes("copied here")}});
    ASSERT_TRUE(Blocking::waitUntil([&] {
        queue->runUntilIdle();
        return !toLater.empty();
    }));
    EXPECT_EQ(toLater, std::vector{ClipboardMessage::text("copied here")});
    EXPECT_TRUE(toEarlier.empty());
}

TEST_F(ClipboardBridgeTest, NothingCopiedHereIsReadOnceTheSessionEndsWithNoSuccessor) {
    std::vector<ClipboardMessage> sent;
    const auto session = subscribedSession(sent);
    EXPECT_TRUE(readsALocalCopy());
    session->stop();
    EXPECT_FALSE(readsALocalCopy());

    // Unsubscribing (twice) ends the watch too, and a session gone without stopping leaves none behind.
    const auto unsubscribed = subscribedSession(sent);
    unsubscribed->receive(ClipboardMessage::subscribe(false));
    unsubscribed->receive(ClipboardMessage::subscribe(false));
    EXPECT_FALSE(readsALocalCopy());
    subscribedSession(sent);
    EXPECT_FALSE(readsALocalCopy());
}

} // namespace
} // namespace velm
