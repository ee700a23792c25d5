#pragma once

#include "platform/core/Bytes.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/WorkItem.h"
#include "protocol/FileTransferRequest.h"
#include "transport/files/FileReceiver.h"
#include "transport/files/FileTransferError.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace velm {

class ControlChannel;
class FileSender;
class SessionDesktop;

// The host's end of one file connection: an upload stored in the download folder (made when missing),
// or a download of a file the desktop offers, answered with the fileTransfer replies and carried on the
// file channel.
// Everything runs on the session's queue, where its one outcome is reported.
class SessionFileTransfer : public std::enable_shared_from_this<SessionFileTransfer> {
public:
    enum class Outcome {
        completed, // the upload is stored, or every byte of the download was handed to the network
        refused,   // the client was told why not
        failed,    // the connection could not carry the download
    };

    // An upload that receives nothing for this long fails: a device that fell silent half way (an app
    // suspended with its connection kept open) would otherwise hold the partial file and the connection
    // for as long as it stays away.
    static constexpr std::chrono::seconds uploadStallLimit{60};

    // An upload as it was stored.
    struct Stored {
        std::filesystem::path file;
        std::uint64_t size = 0;
    };

    static std::shared_ptr<SessionFileTransfer> make(std::shared_ptr<ControlChannel> channel,
                                                     std::shared_ptr<Queue> queue,
                                                     std::filesystem::path downloadFolder,
                                                     std::shared_ptr<SessionDesktop> desktop);

    SessionFileTransfer(const SessionFileTransfer&) = delete;
    SessionFileTransfer& operator=(const SessionFileTransfer&) = delete;

    // Set before start.
    void setOnFinished(std::function<void(Outcome)> handler);
    // Answers the request and begins the transfer. Call once.
    void start(const FileTransferRequest& request);
    // A file-channel payload of an upload.
    void receive(ByteView chunk);
    // Stops the transfer; a partial upload is removed. Nothing is reported afterwards.
    void cancel();

    // A download whose outcome is still to come: a chunk handed over before the connection closed
    // still reports, so a client that closes as soon as it has every byte ends a completed transfer.
    bool isSending() const { return sender_ && !finished_; }
    // Set once an upload completed.
    const std::optional<Stored>& stored() const { return stored_; }

private:
    SessionFileTransfer(std::shared_ptr<ControlChannel> channel, std::shared_ptr<Queue> queue,
                        std::filesystem::path downloadFolder, std::shared_ptr<SessionDesktop> desktop);

    void startUpload(const FileTransferRequest::Upload& upload);
    void startDownload(const FileTransferRequest::Download& download);
    void watchForStall();
    void checkStall();
    void stepped(const FileReceiver::Step& step);
    void sent(const std::optional<FileTransferError>& error);
    void refuse(const std::string& reason);
    void finish(Outcome outcome);

    const std::shared_ptr<ControlChannel> channel_;
    const std::shared_ptr<Queue> queue_;
    const std::filesystem::path downloadFolder_;
    const std::shared_ptr<SessionDesktop> desktop_;

    // Touched on the queue only.
    std::unique_ptr<FileReceiver> receiver_;
    std::shared_ptr<FileSender> sender_;
    std::optional<Stored> stored_;
    std::function<void(Outcome)> onFinished_;
    bool finished_ = false;
    Queue::Clock::time_point lastChunk_;
    WorkItem stallCheck_;
};

} // namespace velm
