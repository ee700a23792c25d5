#pragma once

#include "platform/core/Bytes.h"
#include "platform/file/Folder.h"
#include "platform/file/WritableFile.h"
#include "transport/files/FileTransferError.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace velm {

// The receiving end of one file on the file channel. Chunks go into a hidden partial file
// ".velm-<UUID>.part" in the target folder; once the announced size has arrived the file is synced,
// given the ordinary mode of a new file and moved to the cleaned name, or the first free numbered
// variant of it, never replacing anything that is there, not even a file that a concurrent transfer
// stored a moment earlier.
//
// The partial file exists exactly while the receiver is unsettled: every failure, a cancel and the
// destruction of an unsettled receiver remove it. A settled receiver accepts nothing more. A file is
// reported done only once every sync, the folder's after the move included, succeeded.
//
// It has no queue or lock of its own: its owner calls it from one serial queue.
class FileReceiver {
public:
    struct More {
        std::uint64_t received; // the running total
        friend bool operator==(const More&, const More&) = default;
    };
    struct Done {
        std::filesystem::path url; // where the complete file now lies
        friend bool operator==(const Done&, const Done&) = default;
    };
    struct Failed {
        FileTransferError error;
        friend bool operator==(const Failed&, const Failed&) = default;
    };
    // What became of one chunk, or of moving the file into place.
    using Step = std::variant<More, Done, Failed>;

    // Why no receiver could be made.
    enum class CreateError {
        // The folder cannot be opened or the partial file cannot be made there.
        cannotCreate,
        // The announced size exceeds the free space of the folder's file system.
        notEnoughSpace,
    };
    static std::string_view describe(CreateError error);

    // Removes the partial files of transfers that a crash or a power cut interrupted (our own naming
    // only) from `directory`, and tells how many went. For the start of the host, before any receiver
    // of this process exists.
    static std::size_t removeStalePartials(const std::filesystem::path& directory);

    // A receiver for a file announced as `name` (cleaned here) of `size` bytes, stored in `directory`.
    static std::variant<std::unique_ptr<FileReceiver>, CreateError>
    create(const std::filesystem::path& directory, std::string_view name, std::uint64_t size);

    ~FileReceiver();
    FileReceiver(const FileReceiver&) = delete;
    FileReceiver& operator=(const FileReceiver&) = delete;

    // Appends one chunk. When it completes the announced size the file is moved into place and the
    // step tells where; a chunk that would overrun the size is refused unwritten (wrongLength).
    Step receive(ByteView chunk);
    // For an announced size of 0, moves the empty file into place at once; otherwise nothing.
    std::optional<Step> finish();
    // Closes the partial file and moves it to its final name: done, or failed(cannotWrite).
    Step moveIntoPlace();
    // Discards the transfer and its partial file; does nothing once settled.
    void cancel();

    // True when an item of that name exists in the folder (the test for the free name).
    bool isTaken(const std::string& name) const;

    const std::filesystem::path& directory() const { return folder_.path(); }
    const std::string& name() const { return name_; }
    std::uint64_t size() const { return size_; }
    std::uint64_t received() const { return received_; }
    std::filesystem::path partial() const { return folder_.path() / partialName_; }
    bool isSettled() const { return settled_; }

private:
    // Racing transfers can each take the name just found free; give up only after this many.
    static constexpr int maxMoveAttempts = 64;

    FileReceiver(Folder folder, std::string name, std::uint64_t size, std::string partialName,
                 WritableFile file);

    Step fail(FileTransferError error);
    bool closePartial();

    Folder folder_;
    std::string name_;
    std::uint64_t size_;
    std::string partialName_;
    std::optional<WritableFile> file_;
    std::uint64_t received_ = 0;
    bool settled_ = false;
};

} // namespace velm
