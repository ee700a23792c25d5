#include "protocol/FileTransferLimits.h"
#include "tests/support/Blocking.h"
#include "tests/support/EventLog.h"
#include "tests/support/FileTransferPrint.h"
#include "tests/support/ScriptedHost.h"
#include "tests/support/TemporaryFolder.h"
#include "transport/client/requests/FileTransferClient.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <set>

namespace velm {

namespace {

using test::EventLog;
using test::ScriptedHost;
using test::TemporaryFolder;
using UploadResult = std::variant<std::string, FileTransferError>;
using DownloadResult = std::variant<std::filesystem::path, FileTransferError>;

const std::string deviceID = "device-files";
const Bytes transferKey(32, 0x61);

std::set<std::string> namesIn(const std::filesystem::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// The host's half of file connections, as its session plays it: uploads (all of which fit) go into
// `inbox`, downloads come from `offers`; the hooks let a test break the script at chosen points.
struct FileHost {
    struct Offer {
        std::filesystem::path file;
        std::string name;
        std::uint64_t size;
    };

    std::filesystem::path inbox;
    std::map<std::uint32_t, Offer> offers{};
    bool hangUpInsteadOfStored = false;
    std::optional<std::size_t> hangUpAfterChunks{};
    std::size_t chunks = 0;

    ScriptedHost::Script script() const {
        return [host = *this](ScriptedHost::Connection& connection,
                              const ScriptedHost::Event& event) mutable { host.handle(connection, event); };
    }

    void handle(ScriptedHost::Connection& connection, const ScriptedHost::Event& event) {
        auto& channel = connection.channel;
        const auto* control = event.get<ScriptedHost::Event::Control>();
        const auto* open = control ? control->message.get<ControlMessage::OpenFileTransfer>() : nullptr;
        const auto* file = event.get<ScriptedHost::Event::File>();
        if (const auto* upload = open ? open->request.get<FileTransferRequest::Upload>() : nullptr) {
            auto made = FileReceiver::create(inbox, upload->name, upload->size);
            connection.receiver = std::move(std::get<std::unique_ptr<FileReceiver>>(made));
            channel->send(ControlMessage::fileTransfer(
                FileTransferReply::ready(connection.receiver->name(), upload->size)));
        } else if (open) {
            const auto& [path, name, size] =
                offers.at(open->request.get<FileTransferRequest::Download>()->id);
            connection.sender = FileSender::open(channel, path, size, Queue::make("host sender"));
            channel->send(ControlMessage::fileTransfer(FileTransferReply::ready(name, size)));
            // A file that cannot be sent whole ends the connection, as the host's session does.
            connection.sender->setOnFinished([channel](std::optional<FileTransferError> error) {
                if (error) {
                    channel->cancel();
                }
            });
            connection.sender->start();
        } else if (file && connection.receiver) {
            const auto step = connection.receiver->receive(file->data);
            ++chunks;
            if (const auto* done = std::get_if<FileReceiver::Done>(&step); done && !hangUpInsteadOfStored) {
                channel->send(ControlMessage::fileTransfer(FileTransferReply::stored(done->url.filename())));
            } else if (!std::holds_alternative<FileReceiver::More>(step) || chunks == hangUpAfterChunks) {
                // Chunks already read still arrive after the cancel: the host is done with them.
                connection.receiver.reset();
                channel->cancel();
            }
        }
    }
};

std::string randomBytes(std::size_t length) {
    std::mt19937 draw(1);
    std::string bytes(length, '\0');
    std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<char>(draw()); });
    return bytes;
}

class FileTransferClientTest : public ::testing::Test {
protected:
    std::shared_ptr<FileTransferClient> client(const ScriptedHost& host) {
        return FileTransferClient::make(host.endpoint(), deviceID, "Ada's iPad", transferKey);
    }

    // Runs one transfer to its end and returns its one result.
    template <typename Result, typename Start> Result finished(const ScriptedHost& host, Start start) {
        auto results = std::make_shared<EventLog<Result>>();
        const auto transfer = client(host);
        start(*transfer, [results](Result result) { results->push(std::move(result)); });
        EXPECT_TRUE(results->waitForCount(1));
        Blocking::drain(*transfer->queue());
        EXPECT_EQ(results->values().size(), 1u);
        return results->values().empty() ? FileTransferError::cancelled() : results->values().front();
    }

    UploadResult upload(const ScriptedHost& host, const std::filesystem::path& file, const std::string& name,
                        std::uint64_t size, FileTransferClient::Progress progress = {}) {
        return finished<UploadResult>(host, [&](FileTransferClient& transfer, auto done) {
            transfer.upload(file, name, size, progress, std::move(done));
        });
    }

    DownloadResult download(const ScriptedHost& host, std::uint32_t id) {
        return finished<DownloadResult>(host, [&](FileTransferClient& transfer, auto done) {
            transfer.download(id, downloads.path(), {}, std::move(done));
        });
    }

    std::vector<PreSharedKey> keys{*PreSharedKey::forDevice(deviceID, transferKey)};
    TemporaryFolder device;
    TemporaryFolder downloads;
    TemporaryFolder inbox;
    FileHost fileHost{inbox.path()};
};

// The upload reports the name the host stored it under, here beside an older file.
TEST_F(FileTransferClientTest, MovesFiftyMebibytesByteExactBothWays) {
    constexpr std::size_t size = 50u << 20;
    const auto contents = randomBytes(size);
    TemporaryFolder::writeFile(device / "big.bin", contents);
    TemporaryFolder::writeFile(inbox / "big.bin", "older");
    fileHost.offers[7] = {inbox / "big 2.bin", "big.bin", size};
    ScriptedHost host(keys, fileHost.script());

    std::vector<std::uint64_t> progress;
    const auto keep = [&](std::uint64_t sent) { progress.push_back(sent); };
    EXPECT_EQ(upload(host, device / "big.bin", "big.bin", size, keep), UploadResult("big 2.bin"));
    EXPECT_TRUE(TemporaryFolder::readFile(inbox / "big 2.bin") == contents);
    EXPECT_EQ(progress.size(), size / FileTransferLimits::chunkSize);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), size);

    EXPECT_EQ(download(host, 7), DownloadResult(downloads / "big.bin"));
    EXPECT_TRUE(TemporaryFolder::readFile(downloads / "big.bin") == contents);
    EXPECT_EQ(namesIn(downloads.path()), std::set<std::string>{"big.bin"});
}

TEST_F(FileTransferClientTest, HostRefusalCarriesItsReason) {
    const std::string reason = "Remote files are turned off.";
    const auto refuse = [reason](ScriptedHost::Connection& connection, const ControlMessage&) {
        connection.channel->send(ControlMessage::fileTransfer(FileTransferReply::refused(reason)));
    };
    ScriptedHost host(keys, ScriptedHost::answering(refuse));
    TemporaryFolder::writeFile(device / "x", "x");
    EXPECT_EQ(upload(host, device / "x", "x", 1), UploadResult(FileTransferError::refused(reason)));
    EXPECT_EQ(download(host, 1), DownloadResult(FileTransferError::refused(reason)));
}

// A connection that goes mid-file, or an upload whose file cannot be read, leaves no partial file at
// either end; one that goes after the last chunk but before the host's "stored" fails all the same.
TEST_F(FileTransferClientTest, FailuresBeforeTheEnd) {
    constexpr std::uint64_t size = 4 * FileTransferLimits::chunkSize;
    TemporaryFolder::writeFile(inbox / "short.bin", std::string(size / 2, 's'));
    fileHost.offers[3] = {inbox / "short.bin", "short.bin", size};
    fileHost.hangUpAfterChunks = 2;
    fileHost.hangUpInsteadOfStored = true;
    TemporaryFolder::writeFile(device / "long.bin", std::string(size, 'l'));
    TemporaryFolder::writeFile(device / "x", "xyz");
    ScriptedHost host(keys, fileHost.script());

    EXPECT_EQ(download(host, 3), DownloadResult(FileTransferError::connectionLost()));
    EXPECT_TRUE(namesIn(downloads.path()).empty());

    EXPECT_EQ(upload(host, device / "long.bin", "long.bin", size),
              UploadResult(FileTransferError::connectionLost()));
    EXPECT_EQ(upload(host, device / "missing", "missing", 10), UploadResult(FileTransferError::cannotRead()));
    ASSERT_TRUE(host.waitForClosed(3));
    EXPECT_EQ(namesIn(inbox.path()), std::set<std::string>{"short.bin"});

    EXPECT_EQ(upload(host, device / "x", "x", 3), UploadResult(FileTransferError::connectionLost()));
}

// An empty download completes on the host's ready, with no file frame; a stray "stored" is ignored.
TEST_F(FileTransferClientTest, EmptyDownloadCompletesOnReady) {
    TemporaryFolder::writeFile(inbox / "empty", "");
    fileHost.offers[1] = {inbox / "empty", "empty", 0};
    ScriptedHost host(keys, [script = fileHost.script()](ScriptedHost::Connection& connection,
                                                         const ScriptedHost::Event& event) {
        if (event.get<ScriptedHost::Event::Control>()) {
            connection.channel->send(ControlMessage::fileTransfer(FileTransferReply::stored("elsewhere")));
        }
        script(connection, event);
    });
    EXPECT_EQ(download(host, 1), DownloadResult(downloads / "empty"));
    EXPECT_EQ(std::filesystem::file_size(downloads / "empty"), 0u);
}

// A stalled download: cancel reports `cancelled` once, removes the partial file, and nothing follows.
TEST_F(FileTransferClientTest, CancelEndsOnceAndRemovesThePartialDownload) {
    ScriptedHost host(
        keys, ScriptedHost::answering([](ScriptedHost::Connection& connection, const ControlMessage&) {
            connection.channel->send(ControlMessage::fileTransfer(FileTransferReply::ready("f", 100)));
            connection.channel->sendFile(Bytes(10, 1), {});
        }));
    auto results = std::make_shared<EventLog<DownloadResult>>();
    auto progress = std::make_shared<EventLog<std::uint64_t>>();
    const auto transfer = client(host);
    transfer->download(
        9, downloads.path(), [progress](std::uint64_t received) { progress->push(received); },
        [results](DownloadResult result) { results->push(result); });
    ASSERT_TRUE(progress->waitForCount(1));
    EXPECT_EQ(progress->values(), std::vector<std::uint64_t>{10});
    EXPECT_EQ(namesIn(downloads.path()).size(), 1u); // the hidden partial file

    transfer->cancel();
    transfer->cancel();
    ASSERT_TRUE(results->waitForCount(1));
    ASSERT_TRUE(host.waitForClosed(1));
    transfer->cancel();
    Blocking::drain(*transfer->queue());
    EXPECT_EQ(results->values(), std::vector<DownloadResult>{FileTransferError::cancelled()});
    EXPECT_TRUE(namesIn(downloads.path()).empty());

    auto late = std::make_shared<EventLog<DownloadResult>>();
    transfer->download(9, downloads.path(), {}, [late](DownloadResult result) { late->push(result); });
    ASSERT_TRUE(late->waitForCount(1));
    EXPECT_EQ(late->values(), std::vector<DownloadResult>{FileTransferError::cancelled()});
}

} // namespace
} // namespace velm
