#pragma once

#include "platform/core/Bytes.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace velm {

// A private folder of small files that are read whole and replaced atomically.
//
// A private folder (the default kind) must be a real folder (not a symbolic link) owned by this user; it is
// kept at 0700 and its files at 0600, and looser permissions are tightened when met. Files are never followed
// through symbolic links. A replacement goes to "<name>.tmp", is synced and renamed over the old file, and
// the folder is synced, so a reader (or a crash at any point) sees the old contents or the new, never a mix.
// A change is reported as done only when every sync succeeded, a folder made for it synced into its parent
// too. Writers, also those of other processes, take turns on a lock of the folder (on NFS, which cannot
// lock a folder, on its file ".velm-writers.lock"); readers need none.
//
// A value type that holds only the path: every call opens the folder afresh. Failures are logged under
// "store" and reported by the result, never thrown.
class StoreFolder {
public:
    // Files are small; anything larger is refused both ways so that a stray file cannot exhaust memory.
    static constexpr std::size_t maxFileBytes = 16u << 20;

    struct ReadResult {
        enum class Status {
            found,
            missing,
            failed, // there but not to be trusted or read: a link, another owner, not a regular file, too
                    // large
            unavailable, // could not be opened or read this time (no descriptors left, an I/O error): try
                         // again
        };
        Status status;
        Bytes contents;
    };

    // A shared folder is an ordinary one that other programs write into too (the desktop's autostart
    // folder): it is made 0755 less the umask when missing, its owner and permissions are left as they
    // are, and a symbolic link to a folder is followed. Its files are kept as a private folder's.
    enum class Kind { privateFolder, sharedFolder };

    explicit StoreFolder(std::filesystem::path path, Kind kind = Kind::privateFolder)
        : path_(std::move(path)), kind_(kind) {}

    const std::filesystem::path& path() const { return path_; }

    struct Unusable {
        // As a person is told it.
        std::string why;
        // A folder of ours that only cannot be written (a read-only file system): what it holds can still
        // be read.
        bool readable = false;
    };
    // Why the folder cannot hold our files: it is not a folder, is a symbolic link, belongs to another
    // user, cannot be written, or is missing and cannot be made. Nothing when it can, also when it is only
    // missing. Makes and logs nothing.
    std::optional<Unusable> whyUnusable() const;

    // Makes the folder (and missing parents) when needed, as a replacement would; true when it is there
    // to hold files.
    bool make() const;

    // missing when the folder or the file does not exist.
    ReadResult read(std::string_view name) const;

    // Creates the folder (and missing parents, 0700 or for a shared folder 0755) when needed. True once the
    // new contents are in place and synced. On false the previous file is untouched, unless only the last
    // sync of the folder failed: then either contents may be found after a power cut.
    bool replace(std::string_view name, ByteView contents) const;

    // True when the file and any temporary file of an interrupted replacement are gone afterwards, for good,
    // whether or not they were there.
    bool remove(std::string_view name) const;

    // Renames a file to newName, or newName-2, newName-3, ... without replacing anything; returns the
    // name used, or absent when the file could not be moved or the move could not be synced.
    std::optional<std::string> moveAside(std::string_view name, std::string_view newName) const;

private:
    std::filesystem::path path_;
    Kind kind_;
};

} // namespace velm
