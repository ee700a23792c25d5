#include "platform/file/WritableFile.h"

#include <cerrno>
#include <charconv>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace velm {
namespace {

constexpr mode_t fallbackUmask = 022;

// Linux names the umask in /proc/self/status ("Umask:\t0022"); reading it there leaves it alone,
// while umask(2) can only be read by setting it.
mode_t currentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        constexpr std::string_view key = "Umask:";
        if (line.compare(0, key.size(), key) != 0) {
            continue;
        }
        auto begin = line.data() + key.size();
        const auto end = line.data() + line.size();
        while (begin != end && (*begin == '\t' || *begin == ' ')) {
            ++begin;
        }
        unsigned value = 0;
        const auto [at, error] = std::from_chars(begin, end, value, 8);
        if (error == std::errc() && at == end && value <= 0777) {
            return static_cast<mode_t>(value);
        }
        break;
    }
    return fallbackUmask;
}

} // namespace

bool WritableFile::write(ByteView bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t put = ::write(fd_.get(), bytes.data() + written, bytes.size() - written);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (put == 0) {
            errno = EIO; // a regular file that takes nothing will not take more on a retry
            return false;
        }
        written += static_cast<std::size_t>(put);
    }
    return true;
}

bool WritableFile::sync() {
    int result = 0;
    do {
        result = ::fsync(fd_.get());
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

bool WritableFile::setMode(mode_t mode) {
    return ::fchmod(fd_.get(), mode) == 0;
}

mode_t WritableFile::defaultMode() {
    static const mode_t mode = 0666 & ~currentUmask();
    return mode;
}

} // namespace velm
