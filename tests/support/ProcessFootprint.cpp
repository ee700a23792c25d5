#include "tests/support/ProcessFootprint.h"

#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <set>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>

namespace velm::test {

namespace {

// The inodes of every Unix socket in this network namespace.
std::set<std::string> unixSocketInodes() {
    std::ifstream table("/proc/net/unix");
    std::set<std::string> inodes;
    std::string line;
    std::getline(table, line); // the column names
    while (std::getline(table, line)) {
        // Num RefCount Protocol Flags Type St Inode [Path]
        std::istringstream fields(line);
        std::string skipped;
        std::string inode;
        for (int column = 0; column < 6; ++column) {
            fields >> skipped;
        }
        if (fields >> inode) {
            inodes.insert(inode);
        }
    }
    return inodes;
}

// The server's socket path, which clients reach in the file system or in the abstract namespace.
std::string serverSocketPath(const std::string& display) {
    const auto colon = display.find(':');
    const auto number = colon == std::string::npos ? std::string() : display.substr(colon + 1);
    return "/tmp/.X11-unix/X" + number.substr(0, number.find('.'));
}

bool isPeer(int fd, const std::string& path) {
    sockaddr_un peer{};
    socklen_t size = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) != 0 || peer.sun_family != AF_UNIX ||
        size <= offsetof(sockaddr_un, sun_path)) {
        return false;
    }
    std::string name(peer.sun_path, size - offsetof(sockaddr_un, sun_path));
    if (!name.empty() && name.front() == '\0') {
        name.erase(0, 1); // abstract
    }
    if (const auto end = name.find('\0'); end != std::string::npos) {
        name.resize(end);
    }
    return name == path;
}

} // namespace

std::size_t ProcessFootprint::x11Connections(const std::string& display) {
    const auto inodes = unixSocketInodes();
    const auto path = serverSocketPath(display);
    std::size_t count = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        std::error_code unreadable;
        const auto target = std::filesystem::read_symlink(entry.path(), unreadable).string();
        // "socket:[12345]"
        if (unreadable || target.rfind("socket:[", 0) != 0 ||
            !inodes.contains(target.substr(8, target.size() - 9))) {
            continue;
        }
        if (isPeer(std::stoi(entry.path().filename().string()), path)) {
            ++count;
        }
    }
    return count;
}

std::size_t ProcessFootprint::heapInUseBytes() {
    const auto heap = ::mallinfo2();
    return heap.uordblks + heap.hblkhd;
}

} // namespace velm::test
