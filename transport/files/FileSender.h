#pragma once

#include "platform/core/Bytes.h"
#include "platform/dispatch/Queue.h"
#include "platform/file/ReadableFile.h"
#include "transport/files/FileTransferError.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

namespace velm {

class ControlChannel;

// The sending end of one file on the file channel: reads the file in chunks of at most
// FileTransferLimits::chunkSize and sends each as one file-channel frame, the next only once the
// previous one has been handed to the network, so one chunk at a time is in memory and in flight
// and other frames of the connection fall in between.
//
// Every step runs on the sender's queue, and so do its callbacks. The completion is called at most
// once: with nothing when `size` bytes were handed to the connection (the other end confirms
// storage by itself), else with the error. After cancel() nothing more is read, sent or reported.
// A pending send holds the sender only weakly: its owner keeps it alive for the transfer.
class FileSender : public std::enable_shared_from_this<FileSender> {
public:
    using Progress = std::function<void(std::uint64_t sent)>;
    using Completion = std::function<void(std::optional<FileTransferError> error)>;

    // A sender of the first `size` bytes of the file at `file`, as announced to the other end; the
    // file's own length is not consulted (a shorter file fails with cannotRead). Nothing when the
    // file cannot be opened for reading.
    static std::shared_ptr<FileSender> open(std::shared_ptr<ControlChannel> channel,
                                            const std::filesystem::path& file, std::uint64_t size,
                                            std::shared_ptr<Queue> queue);
    // A sender of the whole file at `file` as it is when opened: its size comes from the opened file,
    // so a file saved anew (renamed over) since its path was looked at is announced as it will be
    // sent. Nothing when the file cannot be opened for reading or its size told.
    static std::shared_ptr<FileSender> open(std::shared_ptr<ControlChannel> channel,
                                            const std::filesystem::path& file, std::shared_ptr<Queue> queue);

    FileSender(const FileSender&) = delete;
    FileSender& operator=(const FileSender&) = delete;

    // Set before start.
    void setOnProgress(Progress handler);
    void setOnFinished(Completion handler);
    // Schedules the first chunk on the queue and returns at once. Call once.
    void start();
    // Stops the transfer: at once when called on the queue (from a callback, say), else as the
    // queue's next step. Nothing is read, sent or reported afterwards.
    void cancel();

    std::uint64_t size() const { return size_; }

private:
    FileSender(std::shared_ptr<ControlChannel> channel, ReadableFile file, std::uint64_t size,
               std::shared_ptr<Queue> queue);

    void sendNext();
    void chunkSent(bool sent, std::size_t length);
    void succeed();
    void fail(FileTransferError error);
    void stop();

    const std::shared_ptr<ControlChannel> channel_;
    const std::shared_ptr<Queue> queue_;
    const std::uint64_t size_;

    // Touched on the queue only.
    ReadableFile file_;
    Bytes buffer_;
    std::uint64_t sent_ = 0;
    bool finished_ = false;
    Progress progress_;
    Completion completion_;
};

} // namespace velm
