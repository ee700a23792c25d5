#include "transport/files/FileReceiver.h"

#include "platform/core/Uuid.h"
#include "platform/log/Log.h"
#include "protocol/FileItem.h"

#include <cerrno>
#include <cstring>

namespace velm {
namespace {

const Log fileReceiverLog("files");

constexpr std::string_view partialPrefix = ".velm-";
constexpr std::string_view partialSuffix = ".part";

std::string newPartialName() {
    return std::string(partialPrefix) + Uuid::random().string() + std::string(partialSuffix);
}

bool isPartialName(std::string_view name) {
    if (!name.starts_with(partialPrefix) || !name.ends_with(partialSuffix)) {
        return false;
    }
    name.remove_prefix(partialPrefix.size());
    name.remove_suffix(partialSuffix.size());
    return Uuid::parse(name).has_value();
}

} // namespace

std::string_view FileReceiver::describe(CreateError error) {
    switch (error) {
    case CreateError::cannotCreate:
        return "cannot create";
    case CreateError::notEnoughSpace:
        return "not enough space";
    }
    return "unknown";
}

std::variant<std::unique_ptr<FileReceiver>, FileReceiver::CreateError>
FileReceiver::create(const std::filesystem::path& directory, std::string_view name, std::uint64_t size) {
    auto folder = Folder::open(directory);
    if (!folder) {
        fileReceiverLog.error("cannot open folder %s: %s", directory.c_str(), std::strerror(errno));
        return CreateError::cannotCreate;
    }
    const auto available = folder->availableBytes();
    if (available && size > *available) {
        fileReceiverLog.error("file of %llu bytes does not fit in %s (%llu bytes free)",
                              static_cast<unsigned long long>(size), directory.c_str(),
                              static_cast<unsigned long long>(*available));
        return CreateError::notEnoughSpace;
    }
    auto partialName = newPartialName();
    auto file = folder->createExclusive(partialName);
    if (!file) {
        fileReceiverLog.error("cannot create partial file in %s: %s", directory.c_str(),
                              std::strerror(errno));
        return CreateError::cannotCreate;
    }
    return std::unique_ptr<FileReceiver>(new FileReceiver(std::move(*folder), FileItem::safeName(name), size,
                                                          std::move(partialName), std::move(*file)));
}

std::size_t FileReceiver::removeStalePartials(const std::filesystem::path& directory) {
    const auto folder = Folder::open(directory);
    const auto names = folder ? folder->names() : std::nullopt;
    if (!names) {
        fileReceiverLog.error("cannot look for partial files in %s: %s", directory.c_str(),
                              std::strerror(errno));
        return 0;
    }
    std::size_t removed = 0;
    for (const std::string& name : *names) {
        if (!isPartialName(name)) {
            continue;
        }
        if (folder->remove(name)) {
            ++removed;
        } else {
            fileReceiverLog.error("cannot remove partial file %s: %s", (directory / name).c_str(),
                                  std::strerror(errno));
        }
    }
    if (removed > 0) {
        fileReceiverLog.info("removed %zu partial files of interrupted transfers from %s", removed,
                             directory.c_str());
        if (!folder->sync()) {
            fileReceiverLog.error("cannot sync folder %s: %s", directory.c_str(), std::strerror(errno));
        }
    }
    return removed;
}

FileReceiver::FileReceiver(Folder folder, std::string name, std::uint64_t size, std::string partialName,
                           WritableFile file)
    : folder_(std::move(folder)), name_(std::move(name)), size_(size), partialName_(std::move(partialName)),
      file_(std::move(file)) {}

FileReceiver::~FileReceiver() {
    cancel();
}

FileReceiver::Step FileReceiver::receive(ByteView chunk) {
    if (settled_ || !file_) {
        return Failed{FileTransferError::cannotWrite()};
    }
    // Compared as what is left, so that no chunk length can overflow the sum.
    if (chunk.size() > size_ - received_) {
        fileReceiverLog.error("chunk of %zu bytes overruns the announced %llu", chunk.size(),
                              static_cast<unsigned long long>(size_));
        return fail(FileTransferError::wrongLength());
    }
    if (!file_->write(chunk)) {
        fileReceiverLog.error("cannot write %s: %s", partial().c_str(), std::strerror(errno));
        return fail(FileTransferError::cannotWrite());
    }
    received_ += chunk.size();
    if (received_ == size_) {
        return moveIntoPlace();
    }
    return More{received_};
}

std::optional<FileReceiver::Step> FileReceiver::finish() {
    if (size_ != 0) {
        return std::nullopt;
    }
    return moveIntoPlace();
}

FileReceiver::Step FileReceiver::moveIntoPlace() {
    if (settled_) {
        return Failed{FileTransferError::cannotWrite()};
    }
    if (!closePartial()) {
        fileReceiverLog.error("cannot complete %s: %s", partial().c_str(), std::strerror(errno));
        return fail(FileTransferError::cannotWrite());
    }
    const auto isTakenHere = [this](const std::string& candidate) { return isTaken(candidate); };
    for (int attempt = 0; attempt < maxMoveAttempts; ++attempt) {
        const auto finalName = FileItem::uniqueName(name_, isTakenHere);
        switch (folder_.moveWithoutReplacing(partialName_, finalName)) {
        case Folder::MoveResult::moved:
            settled_ = true;
            if (!folder_.sync()) {
                // A power cut could still take the file back, so it is no file received: it goes, and
                // the sender hears of the failure.
                fileReceiverLog.error("cannot sync folder %s: %s", directory().c_str(), std::strerror(errno));
                folder_.remove(finalName);
                return Failed{FileTransferError::cannotWrite()};
            }
            return Done{directory() / finalName};
        case Folder::MoveResult::taken:
            continue; // another transfer took the name since it was found free
        case Folder::MoveResult::failed:
            fileReceiverLog.error("cannot move %s into place: %s", partial().c_str(), std::strerror(errno));
            return fail(FileTransferError::cannotWrite());
        }
    }
    fileReceiverLog.error("no free name for %s after %d tries", name_.c_str(), maxMoveAttempts);
    return fail(FileTransferError::cannotWrite());
}

void FileReceiver::cancel() {
    if (settled_) {
        return;
    }
    settled_ = true;
    file_.reset();
    if (!folder_.remove(partialName_)) {
        fileReceiverLog.error("cannot remove %s: %s", partial().c_str(), std::strerror(errno));
    }
}

bool FileReceiver::isTaken(const std::string& name) const {
    return folder_.contains(name);
}

FileReceiver::Step FileReceiver::fail(FileTransferError error) {
    cancel();
    return Failed{std::move(error)};
}

// Synced before the move, so that the name never stands for a file whose contents a crash could
// still lose; then given the mode any new file of the user gets.
bool FileReceiver::closePartial() {
    if (!file_) {
        errno = EBADF;
        return false;
    }
    auto file = std::move(*file_);
    file_.reset();
    if (!file.sync()) {
        return false;
    }
    // Some file systems keep no modes; the file is still good with the private one it was made with.
    if (!file.setMode(WritableFile::defaultMode())) {
        fileReceiverLog.info("cannot set the mode of %s: %s", partial().c_str(), std::strerror(errno));
    }
    return file.close();
}

} // namespace velm
