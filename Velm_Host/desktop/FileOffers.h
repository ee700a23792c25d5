#pragma once

#include "platform/display/ClipboardContent.h"
#include "protocol/FileItem.h"

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <vector>

namespace velm {

// The files last copied on this computer, as offered to clients. One list serves every session of
// the process, since a client downloads on a connection (and so a session) of its own. Safe from
// any thread.
class FileOffers {
public:
    // Replaces the list with the first FileTransferLimits::maxFilesPerOffer files; each file gets a number
    // never offered before (until the numbers wrap).
    std::vector<FileItem> offer(const std::vector<CopiedFile>& files);
    // The file offered under `id` when it is on the latest list and still a regular file.
    std::optional<std::filesystem::path> file(std::uint32_t id) const;

private:
    struct Offered {
        std::uint32_t id = 0;
        std::filesystem::path path;
    };

    mutable std::mutex lock;
    std::uint32_t nextID_ = 1;
    std::vector<Offered> offered_;
};

} // namespace velm
