#include "platform/file/WritableFile.h"
#include "tests/support/FileTransferPrint.h"
#include "tests/support/SystemCallFaults.h"
#include "tests/support/TemporaryFolder.h"
#include "transport/files/FileReceiver.h"

#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <limits>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace velm {
namespace {

using test::TemporaryFolder;
using Step = FileReceiver::Step;
const Step cannotWrite = FileReceiver::Failed{FileTransferError::cannotWrite()};

std::set<std::string> namesIn(const std::filesystem::path& folder) {
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
    struct stat info {};
    ASSERT_EQ(stat((folder / "report.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, WritableFile::defaultMode());
    EXPECT_EQ(namesIn(folder.path()), std::set<std::string>{"report.txt"});
    EXPECT_EQ(receive(*receiver, "x"), cannotWrite);
    EXPECT_EQ(TemporaryFolder::readFile(folder / "report.txt"), "hello world");
}

TEST_F(FileReceiverTest, EmptyFileCompletesOnFinish) {
    auto receiver = make("empty.bin", 0);
    EXPECT_EQ(receiver->finish(), Step(FileReceiver::Done{folder / "empty.bin"}));
    EXPECT_EQ(std::filesystem::file_size(folder / "empty.bin"), 0u);
    // A second completion must not touch the stored file.
    EXPECT_EQ(receiver->moveIntoPlace(), cannotWrite);
    EXPECT_EQ(namesIn(folder.path()), std::set<std::string>{"empty.bin"});
}

TEST_F(FileReceiverTest, OverrunIsRefusedUnwrittenAndDiscardsThePartialFile) {
    auto receiver = make("a.txt", 30);
    EXPECT_EQ(receive(*receiver, std::string(20, 'a')), Step(FileReceiver::More{20}));
    EXPECT_EQ(receive(*receiver, std::string(20, 'b')),
              Step(FileReceiver::Failed{FileTransferError::wrongLength()}));
    EXPECT_EQ(receiver->received(), 20u);
    EXPECT_TRUE(namesIn(folder.path()).empty());
    EXPECT_EQ(receive(*receiver, "c"), cannotWrite);
}

TEST_F(FileReceiverTest, CancelAndReleaseRemoveThePartialFile) {
    auto cancelled = make("a.txt", 10);
    auto released = make("a.txt", 10);
    EXPECT_NE(cancelled->partial(), released->partial());
    receive(*cancelled, "12345");
    receive(*released, "12345");
    EXPECT_EQ(namesIn(folder.path()).size(), 2u);

    cancelled->cancel();
    cancelled->cancel();
    EXPECT_EQ(receive(*cancelled, "67890"), cannotWrite);
    EXPECT_EQ(cancelled->moveIntoPlace(), cannotWrite);
    released.reset();
    EXPECT_TRUE(namesIn(folder.path()).empty());
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

// Uploads of one name racing to their final step: each finds the same name free, but the move
// never replaces, so every file is kept under a name of its own.
TEST_F(FileReceiverTest, ConcurrentReceiversOfOneNameKeepEveryFile) {
    constexpr std::size_t count = 8;
    std::vector<std::unique_ptr<FileReceiver>> receivers;
    for (std::size_t i = 0; i < count; ++i) {
        receivers.push_back(make("same.txt", 1));
    }
    std::vector<Step> steps(count);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < count; ++i) {
        threads.emplace_back(
            [&, i] { steps[i] = receive(*receivers[i], std::string(1, static_cast<char>('a' + i))); });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::set<std::string> contents;
    for (const auto& step : steps) {
        const auto* done = std::get_if<FileReceiver::Done>(&step);
        ASSERT_NE(done, nullptr);
        contents.insert(TemporaryFolder::readFile(done->url));
    }
    EXPECT_EQ(contents.size(), static_cast<std::size_t>(count));
    EXPECT_EQ(namesIn(folder.path()).size(), static_cast<std::size_t>(count));
}

TEST_F(FileReceiverTest, RefusesWhatCannotBeStored) {
    auto tooLarge =
        FileReceiver::create(folder.path(), "huge.iso", std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(std::get<FileReceiver::CreateError>(tooLarge), FileReceiver::CreateError::notEnoughSpace);
    auto noFolder = FileReceiver::create(folder / "missing", "a.txt", 1);
    EXPECT_EQ(std::get<FileReceiver::CreateError>(noFolder), FileReceiver::CreateError::cannotCreate);
    EXPECT_TRUE(namesIn(folder.path()).empty());
}

TEST_F(FileReceiverTest, FileWhoseFolderSyncFailsIsNoFileReceived) {
    auto receiver = make("report.txt", 5);
    const auto fault = test::SystemCallFaults::failFolderSync();
    EXPECT_EQ(receive(*receiver, "hello"), cannotWrite);
    EXPECT_TRUE(namesIn(folder.path()).empty());
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
    EXPECT_EQ(namesIn(folder.path()), expected);
    EXPECT_EQ(FileReceiver::removeStalePartials(folder / "missing"), 0u);
}

// A write that fails half-way (here at the file-size limit) discards the partial file. Run in a
// child process because the limit applies to the whole process.
TEST_F(FileReceiverTest, WriteFailureDiscardsThePartialFile) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto writeOverTheLimit = [this] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        auto receiver = make("big.bin", 8192);
        const auto step = receiver->receive(Bytes(8192, 7));
        const bool failed = step == cannotWrite;
        std::exit(failed && namesIn(folder.path()).empty() ? 0 : 1);
    };
    EXPECT_EXIT(writeOverTheLimit(), ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace velm
