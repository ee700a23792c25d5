#pragma once

#include "platform/file/FileDescriptor.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

namespace velm {

// A regular file open for reading from its start.
class ReadableFile {
public:
    // Nothing when the file is missing, unreadable or not a regular file: a pipe or a device could
    // stall a read for ever or never end. The reason is left in errno.
    static std::optional<ReadableFile> open(const std::filesystem::path& path);

    // Reads until `buffer` is full or the file ends, riding out short reads and interruptions.
    // Gives the number of bytes read (fewer than asked only at the end of the file), or nothing on
    // a read error (errno tells which).
    std::optional<std::size_t> read(std::span<std::uint8_t> buffer);
    // The length of the file this descriptor opened, which a rename over its path since does not
    // change. Nothing when it cannot be told (errno tells why).
    std::optional<std::uint64_t> size() const;

    void close() { fd_.close(); }
    bool isOpen() const { return fd_.isOpen(); }

private:
    explicit ReadableFile(FileDescriptor fd) : fd_(std::move(fd)) {}

    FileDescriptor fd_;
};

} // namespace velm
