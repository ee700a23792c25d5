#include "platform/x11/X11Clipboard.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/support/X11ClipboardTest.h"

#include <QBuffer>
#include <QImage>
#include <filesystem>
#include <gtest/gtest.h>

namespace velm {
namespace {

// A real PNG of noise, which does not compress: about 3 bytes a pixel.
Bytes noisePng(int side) {
    QImage image(side, side, QImage::Format_RGB32);
    std::uint32_t state = 99;
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            state = state * 1103515245u + 12345u;
            image.setPixel(x, y, state >> 8);
        }
    }
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return Bytes(encoded.begin(), encoded.end());
}

class ClipboardTest : public test::X11ClipboardTest {
protected:
    void watch(const std::shared_ptr<X11Clipboard>& clipboard) {
        clipboard->setOnLocalChange(
            [this](ClipboardContent content) { changes.push_back(std::move(content)); });
        clipboard->setOnReadFailure([this](ClipboardReadFailure failure) { failures.push_back(failure); });
        clipboard->startWatching();
        queue->runUntilIdle();
    }

    bool reported(std::size_t count) {
        return Blocking::waitUntil([&] {
            queue->runUntilIdle();
            return changes.size() + failures.size() >= count;
        });
    }

    ClipboardContent lastChange() const {
        return changes.empty() ? ClipboardContent::text("(nothing reported)") : changes.back();
    }

    std::vector<ClipboardContent> changes;
    std::vector<ClipboardReadFailure> failures;
};

const std::string emojiText = "Grüße aus dem Büro 👋🏽 — ok";

TEST_F(ClipboardTest, OffersTheClientsTextAndLargePictureToOtherApplications) {
    const auto clipboard = X11Clipboard::make(queue);
    clipboard->put(ClipboardContent::text(emojiText));
    EXPECT_TRUE(peerReads("UTF8_STRING", toBytes(emojiText)));
    EXPECT_EQ(peer->read("text/plain;charset=utf-8"), toBytes(emojiText));
    EXPECT_FALSE(peer->read("image/png"));

    const Bytes picture = noisePng(400);
    ASSERT_GT(picture.size(), 256u * 1024) << "large enough to go out in chunks";
    clipboard->put(ClipboardContent::png(picture));
    EXPECT_TRUE(peerReads("image/png", picture));
}

TEST_F(ClipboardTest, AReaderThatAsksAgainAfterGivingUpOnAChunkedAnswerGetsItWhole) {
    const auto clipboard = X11Clipboard::make(queue);
    const Bytes picture = noisePng(400);
    clipboard->put(ClipboardContent::png(picture));
    ASSERT_TRUE(Blocking::waitUntil([&] { return peer->abandonRead("image/png"); }));
    EXPECT_EQ(peer->read("image/png"), picture);
}

TEST_F(ClipboardTest, ReportsTextAndPicturesThatOtherApplicationsCopy) {
    const auto clipboard = X11Clipboard::make(queue);
    watch(clipboard);
    peer->own({{"UTF8_STRING", toBytes(emojiText)}, {"TEXT", toBytes("x")}});
    ASSERT_TRUE(reported(1));
    EXPECT_EQ(lastChange(), ClipboardContent::text(emojiText));

    const Bytes picture = noisePng(200);
    ASSERT_GT(picture.size(), test::X11SelectionPeer::chunkBytes) << "the owner sends it in chunks";
    peer->own({{"image/png", picture}, {"UTF8_STRING", toBytes("a picture")}});
    ASSERT_TRUE(reported(2));
    EXPECT_EQ(lastChange(), ClipboardContent::png(picture));
    EXPECT_TRUE(failures.empty());
}

TEST_F(ClipboardTest, ReportsTheRegularLocalFilesAmongTheFirstTwentyCopied) {
    test::TemporaryFolder folder;
    test::TemporaryFolder::writeFile(folder / "notes one.txt", "hello");
    test::TemporaryFolder::writeFile(folder / "late.txt", "late");
    std::filesystem::create_directory(folder / "folder");
    std::filesystem::create_symlink(folder / "notes one.txt", folder / "link");
    const auto uri = [&](const char* name) { return "file://" + (folder / name).string() + "\r\n"; };
    std::string list = "# copied\r\n" + uri("notes%20one.txt") + uri("folder") +
                       "file:///dev/null\r\nfile://other-host/etc/hosts\r\n" + uri("link");
    for (int filler = 0; filler < 15; ++filler) {
        list += uri("missing");
    }
    list += uri("late.txt");

    const auto clipboard = X11Clipboard::make(queue);
    watch(clipboard);
    peer->own({{"text/uri-list", toBytes(list)}, {"UTF8_STRING", toBytes("paths")}});
    ASSERT_TRUE(reported(1));
    EXPECT_EQ(lastChange(),
              ClipboardContent::files({{(folder / "notes one.txt").string(), "notes one.txt", 5},
                                       {(folder / "link").string(), "link", 5}}));

    peer->own({{"x-special/gnome-copied-files", toBytes("cut\nfile://" + (folder / "late.txt").string())}});
    ASSERT_TRUE(reported(2));
    EXPECT_EQ(lastChange(), ClipboardContent::files({{(folder / "late.txt").string(), "late.txt", 4}}));
}

TEST_F(ClipboardTest, DoesNotEchoWhatTheClientPutThere) {
    const auto clipboard = X11Clipboard::make(queue);
    watch(clipboard);
    clipboard->put(ClipboardContent::text("from the client"));
    ASSERT_TRUE(peerReads("UTF8_STRING", toBytes("from the client")));
    // A clipboard manager taking over the same text is no news either.
    peer->own({{"UTF8_STRING", toBytes("from the client")}});
    ASSERT_TRUE(Blocking::waitUntil([&] { return peer->requestsSeen() >= 2; }));
    peer->own({{"UTF8_STRING", toBytes("typed here")}});
    ASSERT_TRUE(reported(1));
    queue->runUntilIdle();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes.front(), ClipboardContent::text("typed here"));
}

TEST_F(ClipboardTest, ReportsALocalCopyOfWhatTheClientOnceSentAfterSomethingElseWasCopied) {
    const auto clipboard = X11Clipboard::make(queue);
    watch(clipboard);
    clipboard->put(ClipboardContent::text("from the client"));
    ASSERT_TRUE(peerReads("UTF8_STRING", toBytes("from the client")));
    peer->own({{"UTF8_STRING", toBytes("typed here")}});
    ASSERT_TRUE(reported(1));
    peer->own({{"UTF8_STRING", toBytes("from the client")}});
    ASSERT_TRUE(reported(2)) << "the client holds what was typed here by now";
    EXPECT_EQ(lastChange(), ClipboardContent::text("from the client"));
}

TEST_F(ClipboardTest, DropsALocalReadUnderWayOnceTheClientsTextIsOffered) {
    const auto clipboard = X11Clipboard::make(queue);
    watch(clipboard);
    peer->holdData();
    peer->own({{"UTF8_STRING", toBytes("copied here before")}});
    ASSERT_TRUE(Blocking::waitUntil([&] { return peer->requestsSeen() >= 2; })) << "asked for the text";
    clipboard->put(ClipboardContent::text("from the client"));
    ASSERT_TRUE(peerReads("UTF8_STRING", toBytes("from the client")));
    // The text copied here before comes in only now, after the client's: the client would end up
    // holding something else than this computer.
    peer->release();
    ASSERT_TRUE(peer->answeredBy(peer->owner()));

    peer->own({{"UTF8_STRING", toBytes("copied here after")}});
    ASSERT_TRUE(reported(1));
    queue->runUntilIdle();
    EXPECT_EQ(changes, std::vector{ClipboardContent::text("copied here after")});
    EXPECT_TRUE(failures.empty());
}

TEST_F(ClipboardTest, KeepsServingTheClientsTextOverALocalCopyThatCameJustBeforeIt) {
    const auto clipboard = X11Clipboard::make(queue);
    watch(clipboard);
    clipboard->put(ClipboardContent::text("from the client before"));
    ASSERT_TRUE(peerReads("UTF8_STRING", toBytes("from the client before")));

    // The local copy is carried out first, but its notices reach the clipboard only once the
    // client's text took the clipboard back.
    peer->holdServer();
    clipboard->put(ClipboardContent::text("from the client"));
    peer->own({{"UTF8_STRING", toBytes("copied here")}});
    peer->releaseServer();

    EXPECT_TRUE(peerReads("UTF8_STRING", toBytes("from the client")));
    ASSERT_TRUE(peer->answeredBy(peer->owner()));
    queue->runUntilIdle();
    EXPECT_TRUE(changes.empty());
    EXPECT_TRUE(failures.empty());
}

TEST_F(ClipboardTest, NeverReportsALocalCopyReadBeforeTheClientsTextAfterIt) {
    const auto clipboard = X11Clipboard::make(queue);
    watch(clipboard);
    clipboard->put(ClipboardContent::text("offered once"));
    ASSERT_TRUE(peerReads("UTF8_STRING", toBytes("offered once")));
    const unsigned long clipboardWindow = peer->owner();

    peer->holdData();
    peer->own({{"UTF8_STRING", toBytes("copied here")}});
    ASSERT_TRUE(Blocking::waitUntil([&] { return peer->requestsSeen() >= 2; })) << "asked for the text";
    peer->release();
    // The read is over; its report waits on the clipboard's queue while the client's text comes.
    ASSERT_TRUE(peer->answeredBy(clipboardWindow));
    clipboard->put(ClipboardContent::text("from the client"));
    queue->runUntilIdle();

    EXPECT_TRUE(peerReads("UTF8_STRING", toBytes("from the client")));
    EXPECT_TRUE(changes.empty()) << "the client would hold something else than this computer";
    peer->own({{"UTF8_STRING", toBytes("copied here after")}});
    ASSERT_TRUE(reported(1));
    EXPECT_EQ(changes, std::vector{ClipboardContent::text("copied here after")});
}

TEST_F(ClipboardTest, GivesUpOnAnOwnerThatNeverAnswersAndCarriesOn) {
    const auto clipboard = X11Clipboard::make(queue);
    watch(clipboard);
    peer->own({{"UTF8_STRING", toBytes("never sent")}}, false);
    ASSERT_TRUE(Blocking::waitUntil([&] {
        queue->runUntilIdle();
        return peer->requestsSeen() >= 1 && queue->pendingCount() >= 1;
    }));
    queue->advance(X11Clipboard::readTimeout - std::chrono::milliseconds(1));
    EXPECT_TRUE(failures.empty());
    queue->advance(std::chrono::milliseconds(1));
    ASSERT_TRUE(reported(1));
    EXPECT_EQ(failures, std::vector{ClipboardReadFailure::timedOut});

    peer->own({{"UTF8_STRING", toBytes("answered")}});
    ASSERT_TRUE(reported(2));
    EXPECT_EQ(lastChange(), ClipboardContent::text("answered"));
}

TEST_F(ClipboardTest, RefusesDataOverItsLimitAndPicturesThatAreNotPng) {
    const auto clipboard =
        X11Clipboard::make(queue, {.textBytes = 16, .pngBytes = 3'000'000, .listBytes = 1024});
    watch(clipboard);
    peer->own({{"UTF8_STRING", Bytes(17, 'a')}});
    ASSERT_TRUE(reported(1));
    peer->own({{"image/png", Bytes(100, 0x42)}});
    ASSERT_TRUE(reported(2));
    EXPECT_EQ(failures, (std::vector{ClipboardReadFailure::tooLarge, ClipboardReadFailure::unreadable}));
    EXPECT_TRUE(changes.empty());
}

} // namespace
} // namespace velm
