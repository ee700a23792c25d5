#pragma once

#include "platform/crypto/SecretBytes.h"
#include "platform/dispatch/Queue.h"
#include "protocol/FileTransferReply.h"
#include "transport/channel/ControlChannel.h"
#include "transport/channel/Endpoint.h"
#include "transport/client/keys/AwaySigning.h"
#include "transport/client/requests/OneShot.h"
#include "transport/files/FileReceiver.h"
#include "transport/files/FileSender.h"
#include "transport/files/FileTransferError.h"
#include "transport/keys/PreSharedKey.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

namespace velm {

// The device's side of one file transfer, on a control connection of its own: an upload of a file
// to the host, or a download of a file the host offered. It says hello with its proof (and its away
// signature when it has a signer), asks with openFileTransfer, waits for the host's reply, then
// streams the bytes on the file channel, and reports exactly one result.
//
// Everything of one client runs on its own serial queue "velm.files": channel events, the sender
// and the receiver, progress, the completion and cancel. It has no time-out of its own: the
// channel's connect time-out and the caller's cancel end a stalled transfer. After a failure no
// partial download is left behind; the caller keeps the client alive until its completion.
class FileTransferClient : public std::enable_shared_from_this<FileTransferClient> {
public:
    using Progress = std::function<void(std::uint64_t bytesSoFar)>;
    // The name under which the host stored an upload, or why it failed.
    using UploadCompletion = std::function<void(std::variant<std::string, FileTransferError> result)>;
    // Where a download now lies, or why it failed.
    using DownloadCompletion =
        std::function<void(std::variant<std::filesystem::path, FileTransferError> result)>;

    static constexpr const char* queueLabel = "velm.files";

    // The channel presents `key` when one is given, else the device's own key. A device identifier
    // that cannot be a TLS identity gives a client whose transfer fails with connectionLost.
    static std::shared_ptr<FileTransferClient> make(Endpoint endpoint, std::string deviceID,
                                                    std::string deviceName, ByteView deviceKey,
                                                    AwaySigner awaySigner = {},
                                                    std::optional<PreSharedKey> key = {},
                                                    ControlChannel::Options options = {});

    FileTransferClient(const FileTransferClient&) = delete;
    FileTransferClient& operator=(const FileTransferClient&) = delete;

    // Sends the file at `file` under `name`, announcing `size` bytes. Call upload or download once;
    // a later call, or one after cancel, completes at once with `cancelled`.
    void upload(std::filesystem::path file, std::string name, std::uint64_t size, Progress progress,
                UploadCompletion completion);
    // Fetches the offered file `id` into `directory`, under its offered name made safe and free.
    void download(std::uint32_t id, std::filesystem::path directory, Progress progress,
                  DownloadCompletion completion);
    // Ends the transfer with `cancelled`, on the queue; nothing once it has finished.
    void cancel();

    const std::shared_ptr<Queue>& queue() const { return queue_; }

private:
    struct Upload {
        std::filesystem::path file;
        std::string name;
        std::uint64_t size;
    };
    struct Download {
        std::uint32_t id;
        std::filesystem::path directory;
    };
    struct Success {
        std::string name;
        std::optional<std::filesystem::path> savedFile;
    };
    using Outcome = std::variant<Success, FileTransferError>;
    using Finish = std::function<void(Outcome)>;

    FileTransferClient(std::shared_ptr<ControlChannel> channel, std::string deviceID, std::string deviceName,
                       ByteView deviceKey, AwaySigner awaySigner);

    void begin(std::variant<Upload, Download> job, Progress progress, Finish finish);
    void handle(const ControlChannel::Event& event);
    void sendRequest();
    void replied(const FileTransferReply& reply);
    void startSending(const Upload& upload);
    void startReceiving(const Download& download, const FileTransferReply::Ready& ready);
    void received(const FileReceiver::Step& step);
    void finish(Outcome outcome);

    // Its channel is absent when the device identifier cannot be a TLS identity.
    OneShot<Outcome> request_;
    const std::string deviceID_;
    const std::string deviceName_;
    const SecretBytes deviceKey_;
    const AwaySigner awaySigner_;
    const std::shared_ptr<Queue> queue_;

    // Touched on the queue only.
    std::optional<std::variant<Upload, Download>> job_;
    Progress progress_;
    std::shared_ptr<FileSender> sender_;
    std::unique_ptr<FileReceiver> receiver_;
};

} // namespace velm
