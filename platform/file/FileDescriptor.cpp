#include "platform/file/FileDescriptor.h"

#include <unistd.h>

namespace velm {

bool FileDescriptor::close() {
    if (fd_ < 0) {
        return true;
    }
    return ::close(std::exchange(fd_, -1)) == 0;
}

void FileDescriptor::reset() {
    if (fd_ >= 0) {
        ::close(std::exchange(fd_, -1));
    }
}

} // namespace velm
