#pragma once

#include "platform/file/FileDescriptor.h"
#include "platform/file/WritableFile.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace velm {

// An open folder. Every name is looked up in the folder that was opened, even if the folder is
// moved or its path is replaced meanwhile. Names are single path components; anything else (a
// slash, ".", "..", empty) is refused. Every failing call leaves the reason in errno.
class Folder {
public:
    enum class MoveResult { moved, taken, failed };

    // The folder at `path`, which may be reached through symbolic links.
    static std::optional<Folder> open(const std::filesystem::path& path);
    // The same, made first when missing, with its missing parents: each folder made here is 0700 (only
    // its owner may look in) and synced into its parent, while folders already there keep their modes.
    // Nothing when a folder made here could not be synced, as it might not outlast a power cut.
    static std::optional<Folder> openOrMake(const std::filesystem::path& path);

    const std::filesystem::path& path() const { return path_; }

    // A new empty file of mode 0600 for writing. Fails when anything of that name exists, a
    // symbolic link included, which is never followed.
    std::optional<WritableFile> createExclusive(const std::string& name) const;

    // True when an item of that name exists, a dangling link included. When the answer cannot be
    // found out it is true, so that nothing is ever put in the place of an unseen item.
    bool contains(const std::string& name) const;

    // Renames `from` to `to` in this folder, never replacing an item at `to`: `taken` when one is
    // there. Where the file system cannot rename without replacing, a hard link and an unlink do it;
    // where it has no hard links either, a new empty file claims `to` and a plain rename replaces it.
    MoveResult moveWithoutReplacing(const std::string& from, const std::string& to) const;

    // True when the item is gone afterwards.
    bool remove(const std::string& name) const;

    // The names of the folder's items, in no particular order.
    std::optional<std::vector<std::string>> names() const;

    // The bytes an unprivileged writer may still put on the folder's file system.
    std::optional<std::uint64_t> availableBytes() const;

    // Makes the folder's entries (a rename, a new file) durable.
    bool sync() const;

private:
    MoveResult moveOntoClaim(const std::string& from, const std::string& to) const;

    Folder(std::filesystem::path path, FileDescriptor fd) : path_(std::move(path)), fd_(std::move(fd)) {}

    std::filesystem::path path_;
    FileDescriptor fd_;
};

} // namespace velm
