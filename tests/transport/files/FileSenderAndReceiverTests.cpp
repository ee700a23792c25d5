#include "platform/dispatch/ManualQueue.h"
#include "platform/file/WritableFile.h"
#include "protocol/FileTransferLimits.h"
#include "tests/support/ChannelProbe.h"
#include "tests/support/EventLog.h"
#include "tests/support/FileTransferPrint.h"
#include "tests/support/Pump.h"
#include "tests/support/ScriptedHost.h"
#include "tests/support/SystemCallFaults.h"
#include "tests/support/TemporaryFolder.h"
#include "transport/channel/ControlChannel.h"
#include "transport/files/FileReceiver.h"
#include "transport/files/FileSender.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <limits>
#include <set>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace velm {
namespace {

using test::EventLog;
using test::ScriptedHost;
using test::TemporaryFolder;
using Step = FileReceiver::Step;
const Step cannotWrite = FileReceiver::Failed{FileTransferError::cannotWrite()};

std::set<std::string> receivedNamesIn(const std::filesystem::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

class FileReceiverTest : public ::testing::Test {
protected:
    TemporaryFolder folder;

    // Throws, failing the test, when there is no receiver.
    std::unique_ptr<FileReceiver> make(std::string_view name, std::uint64_t size) {
        return std::move(
            std::get<std::unique_ptr<FileReceiver>>(FileReceiver::create(folder.path(), name, size)));
    }

    Step receive(FileReceiver& receiver, std::string_view text) { return receiver.receive(toBytes(text)); }
};

TEST_F(FileReceiverTest, StoresChunksUnderTheCleanedNameWithTheOrdinaryMode) {
    auto receiver = make("../secret/.report.txt", 11);
    EXPECT_EQ(receiver->name(), "report.txt");
    EXPECT_EQ(receiver->finish(), std::nullopt);
    EXPECT_EQ(receive(*receiver, "hello"), Step(FileReceiver::More{5}));
    EXPECT_EQ(receive(*receiver, " world"), Step(FileReceiver::Done{folder / "report.txt"}));

    EXPECT_EQ(TemporaryFolder::readFile(folder / "report.txt"), "hello world");
    const auto perms =
        std::filesystem::status(folder / "report.txt").permissions() & std::filesystem::perms::all;
    EXPECT_EQ(static_cast<mode_t>(perms), WritableFile::defaultMode());
    EXPECT_EQ(receivedNamesIn(folder.path()), std::set<std::string>{"report.txt"});
    EXPECT_EQ(receive(*receiver, "x"), cannotWrite);
    EXPECT_EQ(TemporaryFolder::readFile(folder / "report.txt"), "hello world");
}

TEST_F(FileReceiverTest, EmptyFileCompletesOnFinish) {
    auto receiver = make("empty.bin", 0);
    EXPECT_EQ(receiver->finish(), Step(FileReceiver::Done{folder / "empty.bin"}));
    EXPECT_EQ(std::filesystem::file_size(folder / "empty.bin"), 0u);
    // A second completion must not touch the stored file.
    EXPECT_EQ(receiver->moveIntoPlace(), cannotWrite);
    EXPECT_EQ(receivedNamesIn(folder.path()), std::set<std::string>{"empty.bin"});
}

TEST_F(FileReceiverTest, OverrunIsRefusedUnwrittenAndDiscardsThePartialFile) {
    auto receiver = make("a.txt", 30);
    EXPECT_EQ(receive(*receiver, std::string(20, 'a')), Step(FileReceiver::More{20}));
    EXPECT_EQ(receive(*receiver, std::string(20, 'b')),
              Step(FileReceiver::Failed{FileTransferError::wrongLength()}));
    EXPECT_EQ(receiver->received(), 20u);
    EXPECT_TRUE(receivedNamesIn(folder.path()).empty());
    EXPECT_EQ(receive(*receiver, "c"), cannotWrite);
}

TEST_F(FileReceiverTest, CancelAndReleaseRemoveThePartialFile) {
    auto cancelled = make("a.txt", 10);
    auto released = make("a.txt", 10);
    EXPECT_NE(cancelled->partial(), released->partial());
    receive(*cancelled, "12345");
    receive(*released, "12345");
    EXPECT_EQ(receivedNamesIn(folder.path()).size(), 2u);

    cancelled->cancel();
    cancelled->cancel();
    EXPECT_EQ(receive(*cancelled, "67890"), cannotWrite);
    EXPECT_EQ(cancelled->moveIntoPlace(), cannotWrite);
    released.reset();
    EXPECT_TRUE(receivedNamesIn(folder.path()).empty());
}

TEST_F(FileReceiverTest, NeverReplacesWhatIsThere) {
    TemporaryFolder::writeFile(folder / "Photo.jpg", "first");
    // A dangling link still holds its name.
    std::filesystem::create_symlink(folder / "elsewhere", folder / "Photo 2.jpg");

    auto receiver = make("Photo.jpg", 6);
    EXPECT_EQ(receive(*receiver, "second"), Step(FileReceiver::Done{folder / "Photo 3.jpg"}));

    EXPECT_EQ(TemporaryFolder::readFile(folder / "Photo.jpg"), "first");
    EXPECT_EQ(TemporaryFolder::readFile(folder / "Photo 3.jpg"), "second");
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "Photo 2.jpg"));
    EXPECT_FALSE(std::filesystem::exists(folder / "elsewhere"));
}

// Uploads of one name racing to their final step: the move never replaces, so every file is kept.
TEST_F(FileReceiverTest, ConcurrentReceiversOfOneNameKeepEveryFile) {
    constexpr std::size_t count = 8;
    std::vector<std::unique_ptr<FileReceiver>> receivers;
    for (std::size_t i = 0; i < count; ++i) {
        receivers.push_back(make("same.txt", 1));
    }
    std::vector<Step> steps(count);
    {
        std::vector<std::jthread> threads;
        for (std::size_t i = 0; i < count; ++i) {
            threads.emplace_back(
                [&, i] { steps[i] = receive(*receivers[i], std::string(1, static_cast<char>('a' + i))); });
        }
    }
    std::set<std::string> contents;
    for (const auto& step : steps) {
        const auto* done = std::get_if<FileReceiver::Done>(&step);
        ASSERT_NE(done, nullptr);
        contents.insert(TemporaryFolder::readFile(done->url));
    }
    EXPECT_EQ(contents.size(), static_cast<std::size_t>(count));
    EXPECT_EQ(receivedNamesIn(folder.path()).size(), static_cast<std::size_t>(count));
}

// A FAT disk or some network mounts can neither rename without replacing nor make hard links: the
// file still goes to a free name, and racing receivers still keep every file.
TEST_F(FileReceiverTest, FileSystemWithoutLinksStillNeverReplaces) {
    TemporaryFolder::writeFile(folder / "Photo.jpg", "first");
    constexpr std::size_t count = 6;
    std::vector<std::unique_ptr<FileReceiver>> receivers;
    for (std::size_t i = 0; i < count; ++i) {
        receivers.push_back(make("Photo.jpg", 1));
    }
    const auto fault = test::SystemCallFaults::failMovesWithoutReplacing(EINVAL, EPERM);
    EXPECT_EQ(receive(*receivers[0], "a"), Step(FileReceiver::Done{folder / "Photo 2.jpg"}));
    std::vector<Step> steps(count);
    {
        std::vector<std::jthread> threads;
        for (std::size_t i = 1; i < count; ++i) {
            threads.emplace_back(
                [&, i] { steps[i] = receive(*receivers[i], std::string(1, static_cast<char>('a' + i))); });
        }
    }
    std::set<std::string> contents{"a"};
    for (std::size_t i = 1; i < count; ++i) {
        const auto* done = std::get_if<FileReceiver::Done>(&steps[i]);
        ASSERT_NE(done, nullptr);
        contents.insert(TemporaryFolder::readFile(done->url));
    }
    EXPECT_EQ(contents.size(), count);
    EXPECT_EQ(TemporaryFolder::readFile(folder / "Photo.jpg"), "first");
    EXPECT_EQ(receivedNamesIn(folder.path()).size(), count + 1);
}

TEST_F(FileReceiverTest, RefusesWhatCannotBeStored) {
    auto tooLarge =
        FileReceiver::create(folder.path(), "huge.iso", std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(std::get<FileReceiver::CreateError>(tooLarge), FileReceiver::CreateError::notEnoughSpace);
    auto noFolder = FileReceiver::create(folder / "missing", "a.txt", 1);
    EXPECT_EQ(std::get<FileReceiver::CreateError>(noFolder), FileReceiver::CreateError::cannotCreate);
    EXPECT_TRUE(receivedNamesIn(folder.path()).empty());
}

TEST_F(FileReceiverTest, FileWhoseFolderSyncFailsIsNoFileReceived) {
    auto receiver = make("report.txt", 5);
    const auto fault = test::SystemCallFaults::failFolderSync();
    EXPECT_EQ(receive(*receiver, "hello"), cannotWrite);
    EXPECT_TRUE(receivedNamesIn(folder.path()).empty());
}

// What killed or cut transfers left behind goes at start-up; nothing else does.
TEST_F(FileReceiverTest, StartUpRemovesStalePartialFilesOfOurNamingOnly) {
    TemporaryFolder::writeFile(folder / ".velm-E621E1F8-C36C-495A-93FC-0C247A3E6E5F.part", "half");
    TemporaryFolder::writeFile(folder / ".velm-0b4a3c1e-5d6f-4e70-8192-a3b4c5d6e7f8.part", "older");
    const std::set<std::string> others{".velm-notes.part",
                                       ".velm-0B4A3C1E-5D6F-4E70-8192-A3B4C5D6E7F8.partial",
                                       "velm-0B4A3C1E-5D6F-4E70-8192-A3B4C5D6E7F8.part", "report.part"};
    for (const std::string& name : others) {
        TemporaryFolder::writeFile(folder / name, "keep");
    }
    std::filesystem::create_directory(folder / ".velm-1B4A3C1E-5D6F-4E70-8192-A3B4C5D6E7F8.part");

    EXPECT_EQ(FileReceiver::removeStalePartials(folder.path()), 2u);
    std::set<std::string> expected = others;
    expected.insert(".velm-1B4A3C1E-5D6F-4E70-8192-A3B4C5D6E7F8.part"); // a folder is not ours
    EXPECT_EQ(receivedNamesIn(folder.path()), expected);
    EXPECT_EQ(FileReceiver::removeStalePartials(folder / "missing"), 0u);
}

// A write failing half-way (at the file-size limit, set in a child process) discards the partial file.
TEST_F(FileReceiverTest, WriteFailureDiscardsThePartialFile) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto writeOverTheLimit = [this] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        auto receiver = make("big.bin", 8192);
        const auto step = receiver->receive(Bytes(8192, 7));
        const bool failed = step == cannotWrite;
        std::exit(failed && receivedNamesIn(folder.path()).empty() ? 0 : 1);
    };
    EXPECT_EXIT(writeOverTheLimit(), ::testing::ExitedWithCode(0), "");
}

constexpr std::size_t chunk = FileTransferLimits::chunkSize;

PreSharedKey deviceKey() {
    return *PreSharedKey::forDevice("sender-device", Bytes(32, 0x5a));
}

// A connected client channel to a host that only records what arrives.
class FileSenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        probe.start();
        ASSERT_TRUE(probe.waitForReady());
    }
    void TearDown() override { channel->cancel(); }

    std::filesystem::path fileOf(std::size_t length) {
        const auto path = folder / ("file-" + std::to_string(length));
        TemporaryFolder::writeFile(path, std::string(length, 'x'));
        return path;
    }

    // Everything sent before this point has reached the host once the marker has.
    bool hostHasEverything() {
        channel->send(ControlMessage::stillHere());
        return host.waitForReceived(++markers);
    }

    TemporaryFolder folder;
    ScriptedHost host{{deviceKey()}, [](ScriptedHost::Connection&, const ScriptedHost::Event&) {}};
    std::shared_ptr<ControlChannel> channel = ControlChannel::outgoing(host.endpoint(), deviceKey());
    test::ChannelProbe probe{channel};
    std::size_t markers = 0;
};

struct Run {
    std::vector<std::uint64_t> progress;
    std::vector<std::optional<FileTransferError>> completions;
};

// Starts the sender on a real queue and waits for its completion.
Run sendToEnd(const std::shared_ptr<FileSender>& sender) {
    auto run = std::make_shared<EventLog<Run>>();
    auto progress = std::make_shared<std::vector<std::uint64_t>>();
    sender->setOnProgress([progress](std::uint64_t sent) { progress->push_back(sent); });
    sender->setOnFinished([run, progress](std::optional<FileTransferError> error) {
        run->push(Run{*progress, {error}});
    });
    sender->start();
    EXPECT_TRUE(run->waitForCount(1));
    return run->values().empty() ? Run{} : run->values().front();
}

// Chunks of at most the chunk size, and exactly the announced size: a grown file is cut, a shrunk one fails.
TEST_F(FileSenderTest, SendsTheAnnouncedSizeInChunks) {
    const struct {
        std::size_t length;
        std::uint64_t announced;
        std::vector<std::uint64_t> progress;
        std::optional<FileTransferError> error;
    } cases[] = {
        {chunk + 1, chunk + 1, {chunk, chunk + 1}, std::nullopt},
        {chunk, chunk, {chunk}, std::nullopt},
        {0, 0, {}, std::nullopt},
        {100, 60, {60}, std::nullopt},
        {chunk + 10, chunk + 20, {chunk}, FileTransferError::cannotRead()},
    };
    const auto queue = Queue::make("sender");
    for (const auto& test : cases) {
        SCOPED_TRACE(test.announced);
        const auto run = sendToEnd(FileSender::open(channel, fileOf(test.length), test.announced, queue));
        EXPECT_EQ(run.progress, test.progress);
        EXPECT_EQ(run.completions, std::vector{test.error});
    }
    ASSERT_TRUE(hostHasEverything());
    EXPECT_EQ(host.fileChunkSizes(), (std::vector<std::size_t>{chunk, 1, chunk, 60, chunk}));
    EXPECT_EQ(FileSender::open(channel, folder / "missing", 1, queue), nullptr);
}

TEST_F(FileSenderTest, CancelBetweenChunksStopsWithoutACompletion) {
    const auto queue = std::make_shared<ManualQueue>();
    const auto sender = FileSender::open(channel, fileOf(3 * chunk), 3 * chunk, queue);
    std::vector<std::uint64_t> progress;
    int completions = 0;
    sender->setOnProgress([&](std::uint64_t sent) {
        progress.push_back(sent);
        sender->cancel();
    });
    sender->setOnFinished([&](std::optional<FileTransferError>) { ++completions; });
    sender->start();
    ASSERT_TRUE(test::pumpUntil(*queue, [&] { return !progress.empty(); }));
    queue->runUntilIdle();
    EXPECT_EQ(queue->pendingCount(), 0u);
    ASSERT_TRUE(hostHasEverything());
    EXPECT_EQ(host.fileChunkSizes(), std::vector<std::size_t>{chunk});
    EXPECT_EQ(progress, std::vector<std::uint64_t>{chunk});
    EXPECT_EQ(completions, 0);
}

TEST_F(FileSenderTest, ChannelWithoutConnectionFailsAfterStartReturns) {
    const auto queue = std::make_shared<ManualQueue>();
    const auto unstarted = ControlChannel::outgoing(host.endpoint(), deviceKey());
    const auto sender = FileSender::open(unstarted, fileOf(10), 10, queue);
    std::vector<std::optional<FileTransferError>> completions;
    sender->setOnFinished([&](std::optional<FileTransferError> error) { completions.push_back(error); });
    sender->start();
    EXPECT_TRUE(completions.empty());
    queue->runUntilIdle();
    EXPECT_EQ(completions,
              std::vector<std::optional<FileTransferError>>{FileTransferError::connectionLost()});
}

// A pending send holds the sender weakly: once released it reports nothing and sends no further chunk.
TEST_F(FileSenderTest, ReleasedSenderReportsNothing) {
    const auto shared = std::make_shared<ManualQueue>();
    auto sender = FileSender::open(channel, fileOf(3 * chunk), 3 * chunk, shared);
    int progressCalls = 0, completions = 0;
    sender->setOnProgress([&](std::uint64_t) {
        ++progressCalls;
        sender.reset(); // the chunk this step sends next is the last
    });
    sender->setOnFinished([&](std::optional<FileTransferError>) { ++completions; });
    sender->start();
    ASSERT_TRUE(test::pumpUntil(*shared, [&] { return host.fileChunkSizes().size() == 2; }));
    ASSERT_TRUE(hostHasEverything());
    shared->runUntilIdle();
    EXPECT_EQ(progressCalls, 1);
    EXPECT_EQ(completions, 0);
    EXPECT_EQ(host.fileChunkSizes().size(), 2u);
}

} // namespace
} // namespace velm
