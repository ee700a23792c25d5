#include "Velm_Host/session/SessionFileTransfer.h"

#include "Velm_Host/session/SessionDesktop.h"
#include "platform/dispatch/WhileAlive.h"
#include "platform/file/Folder.h"
#include "platform/log/Log.h"
#include "protocol/ControlMessage.h"
#include "transport/channel/ControlChannel.h"
#include "transport/files/FileSender.h"

#include <cerrno>
#include <cstring>
#include <utility>

namespace velm {

namespace {

const Log sessionFileTransferLog("session");

std::string refusalText(FileReceiver::CreateError error) {
    return error == FileReceiver::CreateError::notEnoughSpace
               ? "There is not enough space on this computer for this file."
               : "The file cannot be saved on this computer.";
}

std::string refusalText(const FileTransferError& error) {
    return error.kind() == FileTransferError::Kind::wrongLength
               ? "The file was longer than announced."
               : "The file cannot be saved on this computer.";
}

} // namespace

std::shared_ptr<SessionFileTransfer> SessionFileTransfer::make(std::shared_ptr<ControlChannel> channel,
                                                               std::shared_ptr<Queue> queue,
                                                               std::filesystem::path downloadFolder,
                                                               std::shared_ptr<SessionDesktop> desktop) {
    return std::shared_ptr<SessionFileTransfer>(new SessionFileTransfer(
        std::move(channel), std::move(queue), std::move(downloadFolder), std::move(desktop)));
}

SessionFileTransfer::SessionFileTransfer(std::shared_ptr<ControlChannel> channel,
                                         std::shared_ptr<Queue> queue, std::filesystem::path downloadFolder,
                                         std::shared_ptr<SessionDesktop> desktop)
    : channel_(std::move(channel)), queue_(std::move(queue)), downloadFolder_(std::move(downloadFolder)),
      desktop_(std::move(desktop)) {}

void SessionFileTransfer::setOnFinished(std::function<void(Outcome)> handler) {
    onFinished_ = std::move(handler);
}

void SessionFileTransfer::start(const FileTransferRequest& request) {
    if (const auto* upload = request.get<FileTransferRequest::Upload>()) {
        startUpload(*upload);
    } else if (const auto* download = request.get<FileTransferRequest::Download>()) {
        startDownload(*download);
    }
}

void SessionFileTransfer::receive(ByteView chunk) {
    if (receiver_ && !finished_) {
        lastChunk_ = queue_->now();
        stepped(receiver_->receive(chunk));
    }
}

void SessionFileTransfer::cancel() {
    finished_ = true;
    onFinished_ = nullptr;
    stallCheck_.cancel();
    if (sender_) {
        sender_->cancel();
    }
    if (receiver_) {
        receiver_->cancel();
    }
}

// Root and service accounts often have no download folder: a file on its way is worth making one for.
void SessionFileTransfer::startUpload(const FileTransferRequest::Upload& upload) {
    if (!Folder::openOrMake(downloadFolder_)) {
        const int error = errno;
        sessionFileTransferLog.error("upload refused: the download folder %s cannot be made: %s",
                                     downloadFolder_.c_str(), std::strerror(error));
        refuse(refusalText(FileReceiver::CreateError::cannotCreate));
        return;
    }
    auto made = FileReceiver::create(downloadFolder_, upload.name, upload.size);
    if (const auto* error = std::get_if<FileReceiver::CreateError>(&made)) {
        sessionFileTransferLog.error("upload refused: %s",
                                     std::string(FileReceiver::describe(*error)).c_str());
        refuse(refusalText(*error));
        return;
    }
    receiver_ = std::move(std::get<std::unique_ptr<FileReceiver>>(made));
    channel_->send(ControlMessage::fileTransfer(FileTransferReply::ready(receiver_->name(), upload.size)));
    if (const auto step = receiver_->finish()) {
        stepped(*step);
        return;
    }
    lastChunk_ = queue_->now();
    watchForStall();
}

// One check per stall limit rather than a timer per chunk: the check looks back at the last chunk.
void SessionFileTransfer::watchForStall() {
    stallCheck_ = queue_->postAfter(lastChunk_ + uploadStallLimit - queue_->now(),
                                    whileAlive(shared_from_this(), &SessionFileTransfer::checkStall));
}

void SessionFileTransfer::checkStall() {
    if (finished_ || !receiver_) {
        return;
    }
    if (queue_->now() - lastChunk_ < uploadStallLimit) {
        watchForStall();
        return;
    }
    sessionFileTransferLog.error("upload failed: nothing arrived for %lld s",
                                 static_cast<long long>(uploadStallLimit.count()));
    receiver_->cancel();
    finish(Outcome::failed);
}

void SessionFileTransfer::startDownload(const FileTransferRequest::Download& download) {
    const auto file = desktop_->offeredFile(download.id);
    sender_ = file ? FileSender::open(channel_, *file, queue_) : nullptr;
    if (!sender_) {
        refuse(file ? "The file cannot be read." : "This file is no longer offered.");
        return;
    }
    sender_->setOnFinished(whileAlive(shared_from_this(), &SessionFileTransfer::sent));
    channel_->send(
        ControlMessage::fileTransfer(FileTransferReply::ready(file->filename().string(), sender_->size())));
    sender_->start();
}

void SessionFileTransfer::stepped(const FileReceiver::Step& step) {
    if (const auto* done = std::get_if<FileReceiver::Done>(&step)) {
        stored_ = Stored{.file = done->url, .size = receiver_->size()};
        sessionFileTransferLog.info("file received: %s", done->url.c_str());
        channel_->send(
            ControlMessage::fileTransfer(FileTransferReply::stored(done->url.filename().string())));
        finish(Outcome::completed);
    } else if (const auto* failed = std::get_if<FileReceiver::Failed>(&step)) {
        sessionFileTransferLog.error("upload failed: %s", std::string(failed->error.describe()).c_str());
        refuse(refusalText(failed->error));
    }
}

void SessionFileTransfer::sent(const std::optional<FileTransferError>& error) {
    if (!error) {
        finish(Outcome::completed);
        return;
    }
    sessionFileTransferLog.error("download failed: %s", std::string(error->describe()).c_str());
    // A file that shrank or failed to read is no fault of the connection, which can still say why.
    if (error->kind() == FileTransferError::Kind::cannotRead) {
        refuse("The file cannot be read.");
        return;
    }
    finish(Outcome::failed);
}

void SessionFileTransfer::refuse(const std::string& reason) {
    channel_->send(ControlMessage::fileTransfer(FileTransferReply::refused(reason)));
    finish(Outcome::refused);
}

void SessionFileTransfer::finish(Outcome outcome) {
    if (finished_) {
        return;
    }
    finished_ = true;
    stallCheck_.cancel();
    if (auto handler = std::exchange(onFinished_, nullptr)) {
        handler(outcome);
    }
}

} // namespace velm
