#pragma once

#include "platform/core/Bytes.h"
#include "platform/file/FileDescriptor.h"

#include <sys/types.h>

namespace velm {

// A file open for writing, appended to from its start. Made by Folder::createExclusive.
// Every failing call leaves the reason in errno.
class WritableFile {
public:
    explicit WritableFile(FileDescriptor fd) : fd_(std::move(fd)) {}

    // Writes all of `bytes`, riding out short writes and interruptions.
    bool write(ByteView bytes);
    // Flushes the contents to the disk.
    bool sync();
    bool setMode(mode_t mode);
    // Closes now; a false result can be a late write error.
    bool close() { return fd_.close(); }
    bool isOpen() const { return fd_.isOpen(); }

    // The mode an ordinary new file gets in this process: 0666 less the process's umask. Read
    // without changing the umask, which other threads may be relying on at the same moment.
    static mode_t defaultMode();

private:
    FileDescriptor fd_;
};

} // namespace velm
