#include "Velm_Host/core/SnapshotStore.h"
#include "platform/dispatch/ManualQueue.h"
#include "platform/image/Jpeg.h"
#include "tests/support/SystemCallFaults.h"
#include "tests/support/TemporaryFolder.h"

#include <cerrno>
#include <gtest/gtest.h>

namespace velm {
namespace {

using test::TemporaryFolder;

class SnapshotStoreTest : public ::testing::Test {
protected:
    SnapshotStoreTest() {
        store->setOnChange([this] { ++changes; });
    }

    // Lets the store's work and then its reports run.
    void settle() {
        queue->runUntilIdle();
        mainQueue->runUntilIdle();
    }

    static Bytes picture() {
        Image image{.width = 8, .height = 4, .format = Image::Format::rgba, .pixels = Bytes(8 * 4 * 4, 200)};
        return Jpeg::encode(image, 80).value();
    }

    std::size_t fileCount() const {
        return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
    }

    TemporaryFolder temporary;
    const std::filesystem::path folder = temporary / "snapshots";
    std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>("velm.snapshots");
    std::shared_ptr<ManualQueue> mainQueue = std::make_shared<ManualQueue>("main");
    std::shared_ptr<SnapshotStore> store = SnapshotStore::make(folder, queue, mainQueue);
    int changes = 0;
};

TEST_F(SnapshotStoreTest, NamesFilesByTheDigestOfTheKey) {
    EXPECT_EQ(SnapshotStore::fileName("abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(store->file("abc"),
              folder / "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad.jpg");
    EXPECT_EQ(SnapshotStore::standardDirectory().filename(), "snapshots");
}

TEST_F(SnapshotStoreTest, EveryWriteOrRemovalRaisesTheKeysRevision) {
    store->write("ipad", picture());
    store->write("ipad", picture());
    store->remove("iphone"); // never written, still counted
    EXPECT_TRUE(store->revisions().empty());
    settle();
    EXPECT_EQ(store->revisions(), (SnapshotStore::Revisions{{"ipad", 2}, {"iphone", 1}}));
    EXPECT_EQ(changes, 3);

    store->remove("ipad");
    store->removeAll();
    settle();
    EXPECT_EQ(store->revisions(), (SnapshotStore::Revisions{{"ipad", 4}, {"iphone", 2}}));
    EXPECT_EQ(changes, 5);
}

TEST_F(SnapshotStoreTest, ReadsBackWhatWasWrittenAndNothingElse) {
    store->write("ipad", picture());
    store->write("huge", Bytes(SnapshotStore::maxFileBytes + 1, 0xFF));
    settle();
    const auto image = SnapshotStore::image(store->file("ipad"));
    ASSERT_TRUE(image);
    EXPECT_EQ(std::pair(image->width, image->height), std::pair(8, 4));
    EXPECT_FALSE(SnapshotStore::image(store->file("huge")));
    EXPECT_FALSE(SnapshotStore::image(store->file("never")));

    TemporaryFolder::writeFile(store->file("ipad"), "not a picture");
    EXPECT_FALSE(SnapshotStore::image(store->file("ipad")));
    store->remove("ipad");
    settle();
    EXPECT_EQ(fileCount(), 0u);
}

// A reader told of a new revision reads the file again: it must not find the picture it already had.
TEST_F(SnapshotStoreTest, PictureThatCannotBeKeptLeavesNoOlderOne) {
    store->write("ipad", picture());
    store->write("iphone", picture());
    settle();
    store->write("ipad", Bytes(SnapshotStore::maxFileBytes + 1, 0xFF));
    settle();
    EXPECT_EQ(store->revisions(), (SnapshotStore::Revisions{{"ipad", 2}, {"iphone", 1}}));
    EXPECT_FALSE(SnapshotStore::image(store->file("ipad")));

    {
        const auto fault =
            test::SystemCallFaults::failOpening(store->file("iphone").filename().string() + ".tmp", EDQUOT);
        store->write("iphone", picture());
        settle();
    }
    EXPECT_EQ(store->revisions(), (SnapshotStore::Revisions{{"ipad", 2}, {"iphone", 2}}));
    EXPECT_FALSE(SnapshotStore::image(store->file("iphone")));
    EXPECT_EQ(fileCount(), 0u);
    EXPECT_EQ(changes, 4);
}

// A picture that could not be removed is still the device's last screen: readers are not sent to
// look for a change that did not happen.
TEST_F(SnapshotStoreTest, RemovalThatFailsKeepsTheRevisionAndThePicture) {
    store->write("ipad", picture());
    settle();
    {
        const auto fault =
            test::SystemCallFaults::failRemoving(store->file("ipad").filename().string(), EROFS);
        store->remove("ipad");
        settle();
    }
    EXPECT_EQ(store->revisions(), (SnapshotStore::Revisions{{"ipad", 1}}));
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(SnapshotStore::image(store->file("ipad")));
}

// At start-up the folder is emptied of everything, whoever left it there.
TEST_F(SnapshotStoreTest, RemoveAllEmptiesTheFolder) {
    store->removeAll(); // no folder yet
    settle();
    store->write("ipad", picture());
    settle();
    TemporaryFolder::writeFile(folder / "stray.jpg.tmp", "left by a crash");
    TemporaryFolder::writeFile(temporary / "outside", "not ours");
    std::filesystem::create_symlink(temporary / "outside", folder / "link");
    ASSERT_EQ(fileCount(), 3u);
    store->removeAll();
    settle();
    EXPECT_EQ(fileCount(), 0u);
    EXPECT_EQ(TemporaryFolder::readFile(temporary / "outside"), "not ours");
}

} // namespace
} // namespace velm
