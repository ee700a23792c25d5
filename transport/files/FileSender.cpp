#include "transport/files/FileSender.h"

#include "platform/dispatch/WhileAlive.h"
#include "platform/log/Log.h"
#include "protocol/FileTransferLimits.h"
#include "transport/channel/ControlChannel.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace velm {
namespace {

const Log fileSenderLog("files");

std::optional<ReadableFile> openForSending(const std::filesystem::path& file) {
    auto readable = ReadableFile::open(file);
    if (!readable) {
        fileSenderLog.error("cannot open %s for sending: %s", file.c_str(), std::strerror(errno));
    }
    return readable;
}

} // namespace

std::shared_ptr<FileSender> FileSender::open(std::shared_ptr<ControlChannel> channel,
                                             const std::filesystem::path& file, std::uint64_t size,
                                             std::shared_ptr<Queue> queue) {
    auto readable = openForSending(file);
    if (!readable) {
        return nullptr;
    }
    return std::shared_ptr<FileSender>(
        new FileSender(std::move(channel), std::move(*readable), size, std::move(queue)));
}

std::shared_ptr<FileSender> FileSender::open(std::shared_ptr<ControlChannel> channel,
                                             const std::filesystem::path& file,
                                             std::shared_ptr<Queue> queue) {
    auto readable = openForSending(file);
    if (!readable) {
        return nullptr;
    }
    const auto size = readable->size();
    if (!size) {
        fileSenderLog.error("cannot tell the size of %s: %s", file.c_str(), std::strerror(errno));
        return nullptr;
    }
    return std::shared_ptr<FileSender>(
        new FileSender(std::move(channel), std::move(*readable), *size, std::move(queue)));
}

FileSender::FileSender(std::shared_ptr<ControlChannel> channel, ReadableFile file, std::uint64_t size,
                       std::shared_ptr<Queue> queue)
    : channel_(std::move(channel)), queue_(std::move(queue)), size_(size), file_(std::move(file)) {}

void FileSender::setOnProgress(Progress handler) {
    progress_ = std::move(handler);
}

void FileSender::setOnFinished(Completion handler) {
    completion_ = std::move(handler);
}

void FileSender::start() {
    queue_->post([self = shared_from_this()] {
        if (!self->finished_) {
            self->sendNext();
        }
    });
}

void FileSender::cancel() {
    if (queue_->isCurrent()) {
        stop();
        return;
    }
    queue_->post([self = shared_from_this()] { self->stop(); });
}

void FileSender::sendNext() {
    if (finished_) {
        return;
    }
    if (sent_ >= size_) {
        succeed();
        return;
    }
    const auto length =
        static_cast<std::size_t>(std::min<std::uint64_t>(size_ - sent_, FileTransferLimits::chunkSize));
    buffer_.resize(length);
    const auto got = file_.read(buffer_);
    if (!got || *got != length) {
        if (got) {
            fileSenderLog.error("file ended %llu bytes short of its announced size",
                                static_cast<unsigned long long>(size_ - sent_ - *got));
        } else {
            fileSenderLog.error("cannot read the file being sent: %s", std::strerror(errno));
        }
        fail(FileTransferError::cannotRead());
        return;
    }
    // The channel reports on its own queue, or at once on this one when it has no connection:
    // either way the answer is taken up as a fresh step on the sender's queue.
    channel_->sendFile(
        buffer_, onQueueWhileAlive(queue_, weak_from_this(),
                                   [length](FileSender& self, bool sent) { self.chunkSent(sent, length); }));
}

void FileSender::chunkSent(bool sent, std::size_t length) {
    if (finished_) {
        return;
    }
    if (!sent) {
        fail(FileTransferError::connectionLost());
        return;
    }
    sent_ += length;
    // A copy, because the callback may cancel the sender, which lets go of it.
    if (const auto progress = progress_) {
        progress(sent_);
    }
    sendNext();
}

void FileSender::succeed() {
    auto completion = std::move(completion_);
    stop();
    if (completion) {
        completion(std::nullopt);
    }
}

void FileSender::fail(FileTransferError error) {
    if (finished_) {
        return;
    }
    auto completion = std::move(completion_);
    stop();
    if (completion) {
        completion(std::move(error));
    }
}

void FileSender::stop() {
    finished_ = true;
    file_.close();
    buffer_ = Bytes();
    progress_ = nullptr;
    completion_ = nullptr;
}

} // namespace velm
