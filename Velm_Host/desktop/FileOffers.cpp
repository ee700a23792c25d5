#include "Velm_Host/desktop/FileOffers.h"

#include "protocol/FileTransferLimits.h"

#include <algorithm>
#include <span>
#include <system_error>

namespace velm {

std::vector<FileItem> FileOffers::offer(const std::vector<CopiedFile>& files) {
    std::lock_guard guard(lock);
    offered_.clear();
    std::vector<FileItem> items;
    const std::size_t count = std::min(files.size(), FileTransferLimits::maxFilesPerOffer);
    for (const CopiedFile& file : std::span(files).first(count)) {
        const std::uint32_t id = nextID_++;
        offered_.push_back({id, file.path});
        items.push_back({id, file.name, file.size});
    }
    return items;
}

std::optional<std::filesystem::path> FileOffers::file(std::uint32_t id) const {
    std::filesystem::path path;
    {
        std::lock_guard guard(lock);
        const auto found = std::find_if(offered_.begin(), offered_.end(),
                                        [id](const Offered& offered) { return offered.id == id; });
        if (found == offered_.end()) {
            return std::nullopt;
        }
        path = found->path;
    }
    // It may have been replaced by a folder or a device since it was offered.
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        return std::nullopt;
    }
    return path;
}

} // namespace velm
