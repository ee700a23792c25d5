#include "transport/client/requests/FileTransferClient.h"

#include "transport/client/requests/DeviceRequest.h"

#include <utility>

namespace velm {

std::shared_ptr<FileTransferClient> FileTransferClient::make(Endpoint endpoint, std::string deviceID,
                                                             std::string deviceName, ByteView deviceKey,
                                                             AwaySigner awaySigner,
                                                             std::optional<PreSharedKey> key,
                                                             ControlChannel::Options options) {
    auto channel =
        DeviceRequest::channel(std::move(endpoint), deviceID, deviceKey, std::move(key), std::move(options));
    return std::shared_ptr<FileTransferClient>(new FileTransferClient(
        std::move(channel), std::move(deviceID), std::move(deviceName), deviceKey, std::move(awaySigner)));
}

FileTransferClient::FileTransferClient(std::shared_ptr<ControlChannel> channel, std::string deviceID,
                                       std::string deviceName, ByteView deviceKey, AwaySigner awaySigner)
    : request_(std::move(channel)), deviceID_(std::move(deviceID)), deviceName_(std::move(deviceName)),
      deviceKey_(deviceKey), awaySigner_(std::move(awaySigner)), queue_(Queue::make(queueLabel)) {}

void FileTransferClient::upload(std::filesystem::path file, std::string name, std::uint64_t size,
                                Progress progress, UploadCompletion completion) {
    auto finish = [completion = std::move(completion)](Outcome outcome) {
        if (auto* success = std::get_if<Success>(&outcome)) {
            completion(std::move(success->name));
        } else {
            completion(std::get<FileTransferError>(std::move(outcome)));
        }
    };
    queue_->post([self = shared_from_this(), job = Upload{std::move(file), std::move(name), size},
                  progress = std::move(progress), finish = std::move(finish)]() mutable {
        self->begin(std::move(job), std::move(progress), std::move(finish));
    });
}

void FileTransferClient::download(std::uint32_t id, std::filesystem::path directory, Progress progress,
                                  DownloadCompletion completion) {
    auto finish = [completion = std::move(completion)](Outcome outcome) {
        if (auto* success = std::get_if<Success>(&outcome)) {
            if (success->savedFile) {
                completion(std::move(*success->savedFile));
            } else {
                completion(FileTransferError::cannotWrite());
            }
        } else {
            completion(std::get<FileTransferError>(std::move(outcome)));
        }
    };
    queue_->post([self = shared_from_this(), job = Download{id, std::move(directory)},
                  progress = std::move(progress), finish = std::move(finish)]() mutable {
        self->begin(std::move(job), std::move(progress), std::move(finish));
    });
}

void FileTransferClient::cancel() {
    queue_->post([self = shared_from_this()] { self->finish(FileTransferError::cancelled()); });
}

void FileTransferClient::begin(std::variant<Upload, Download> job, Progress progress, Finish finish) {
    if (request_.isFinished() || job_) {
        finish(FileTransferError::cancelled());
        return;
    }
    job_ = std::move(job);
    progress_ = std::move(progress);
    request_.setCompletion(std::move(finish));
    if (!request_.channel()) {
        this->finish(FileTransferError::connectionLost());
        return;
    }
    request_.listen(shared_from_this(), &FileTransferClient::handle);
    request_.channel()->start(queue_);
}

void FileTransferClient::handle(const ControlChannel::Event& event) {
    if (event.get<ControlChannel::Event::Ready>()) {
        sendRequest();
    } else if (const auto* control = event.get<ControlChannel::Event::Control>()) {
        if (const auto* transfer = control->message.get<ControlMessage::FileTransfer>()) {
            replied(transfer->reply);
        } else if (control->message.get<ControlMessage::Bye>()) {
            finish(FileTransferError::connectionLost());
        }
    } else if (const auto* file = event.get<ControlChannel::Event::File>()) {
        if (receiver_) {
            received(receiver_->receive(file->data));
        }
    } else if (event.get<ControlChannel::Event::Closed>()) {
        finish(FileTransferError::connectionLost());
    }
}

void FileTransferClient::sendRequest() {
    const auto* upload = std::get_if<Upload>(&*job_);
    auto request = upload ? FileTransferRequest::upload(upload->name, upload->size)
                          : FileTransferRequest::download(std::get<Download>(*job_).id);
    DeviceRequest::prepareHello(*request_.channel(), deviceID_, deviceName_, deviceKey_, awaySigner_, queue_,
                                request_.sender(shared_from_this(), [request](ClientHello hello) {
                                    return ControlMessage::openFileTransfer(std::move(hello), request);
                                }));
}

void FileTransferClient::replied(const FileTransferReply& reply) {
    if (const auto* ready = reply.get<FileTransferReply::Ready>()) {
        // A repeated ready must not start a second stream of the same file.
        if (sender_ || receiver_) {
            return;
        }
        if (const auto* upload = std::get_if<Upload>(&*job_)) {
            startSending(*upload);
        } else {
            startReceiving(std::get<Download>(*job_), *ready);
        }
    } else if (const auto* refused = reply.get<FileTransferReply::Refused>()) {
        finish(FileTransferError::refused(refused->reason));
    } else if (const auto* stored = reply.get<FileTransferReply::Stored>()) {
        if (std::holds_alternative<Upload>(*job_)) {
            finish(Success{stored->name, std::nullopt});
        }
    }
}

void FileTransferClient::startSending(const Upload& upload) {
    sender_ = FileSender::open(request_.channel(), upload.file, upload.size, queue_);
    if (!sender_) {
        finish(FileTransferError::cannotRead());
        return;
    }
    sender_->setOnProgress(whileAlive(shared_from_this(), [](FileTransferClient& self, std::uint64_t sent) {
        if (!self.request_.isFinished() && self.progress_) {
            self.progress_(sent);
        }
    }));
    // Success only means every byte was handed over: the host's "stored" ends the upload.
    sender_->setOnFinished(
        whileAlive(shared_from_this(), [](FileTransferClient& self, std::optional<FileTransferError> error) {
            if (error) {
                self.finish(std::move(*error));
            }
        }));
    sender_->start();
}

void FileTransferClient::startReceiving(const Download& download, const FileTransferReply::Ready& ready) {
    auto made = FileReceiver::create(download.directory, ready.name, ready.size);
    if (std::holds_alternative<FileReceiver::CreateError>(made)) {
        finish(FileTransferError::cannotWrite());
        return;
    }
    receiver_ = std::move(std::get<std::unique_ptr<FileReceiver>>(made));
    if (ready.size == 0) {
        received(receiver_->moveIntoPlace());
    }
}

void FileTransferClient::received(const FileReceiver::Step& step) {
    if (const auto* more = std::get_if<FileReceiver::More>(&step)) {
        if (progress_) {
            progress_(more->received);
        }
    } else if (const auto* done = std::get_if<FileReceiver::Done>(&step)) {
        finish(Success{done->url.filename().string(), done->url});
    } else {
        finish(std::get<FileReceiver::Failed>(step).error);
    }
}

void FileTransferClient::finish(Outcome outcome) {
    if (request_.isFinished()) {
        return;
    }
    if (sender_) {
        sender_->cancel();
    }
    if (receiver_ && std::holds_alternative<FileTransferError>(outcome)) {
        receiver_->cancel();
    }
    progress_ = nullptr;
    request_.finish(std::move(outcome));
}

} // namespace velm
