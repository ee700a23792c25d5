#pragma once

#include <cstddef>

namespace velm {

// The limits both ends of a file transfer share.
class FileTransferLimits {
public:
    FileTransferLimits() = delete;

    // The largest payload of one file-channel frame.
    static constexpr std::size_t chunkSize = 262'144;
    // The most files one offer lists.
    static constexpr std::size_t maxFilesPerOffer = 20;
};

} // namespace velm
