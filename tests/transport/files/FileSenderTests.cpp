#include "platform/dispatch/ManualQueue.h"
#include "protocol/FileTransferLimits.h"
#include "tests/support/ChannelProbe.h"
#include "tests/support/EventLog.h"
#include "tests/support/FileTransferPrint.h"
#include "tests/support/Pump.h"
#include "tests/support/ScriptedHost.h"
#include "tests/support/TemporaryFolder.h"
#include "transport/channel/ControlChannel.h"
#include "transport/files/FileSender.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

using test::EventLog;
using test::ScriptedHost;
using test::TemporaryFolder;

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

// Chunks of at most the chunk size, and exactly the announced size: a file that grew is cut
// there, one that shrank cannot be sent.
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

// A pending send holds the sender weakly: an owner that lets go hears nothing more, and no
// further chunk is read or sent.
TEST_F(FileSenderTest, ReleasedSenderReportsNothing) {
    const auto shared = std::make_shared<ManualQueue>();
    auto sender = FileSender::open(channel, fileOf(3 * chunk), 3 * chunk, shared);
    int progressCalls = 0;
    int completions = 0;
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
